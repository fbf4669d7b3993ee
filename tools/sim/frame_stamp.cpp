#include "frame_stamp.h"

#include <charconv>
#include <string_view>

namespace krt::sim {
namespace {

constexpr unsigned char kMarker = 0xFF;
constexpr unsigned char kStartOfImage = 0xD8;
constexpr unsigned char kEndOfImage = 0xD9;
constexpr unsigned char kStartOfScan = 0xDA;
constexpr unsigned char kComment = 0xFE;
constexpr std::string_view kFramePrefix = "krt-sim frame=";
constexpr std::string_view kSentPrefix = " sentMs=";

unsigned char byteAt(std::span<const char> bytes, std::size_t i) {
    return static_cast<unsigned char>(bytes[i]);
}

bool isJpeg(std::span<const char> bytes) {
    return bytes.size() >= 2 && byteAt(bytes, 0) == kMarker && byteAt(bytes, 1) == kStartOfImage;
}

// Markers that stand alone, without a length: TEM and the restart markers.
bool standsAlone(unsigned char marker) {
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
}

template <typename Number>
std::optional<Number> wholeNumber(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<FrameStamp> parseComment(std::string_view text) {
    if (!text.starts_with(kFramePrefix)) {
        return std::nullopt;
    }
    text.remove_prefix(kFramePrefix.size());
    const std::size_t sent = text.find(kSentPrefix);
    if (sent == std::string_view::npos) {
        return std::nullopt;
    }
    const auto frame = wholeNumber<long long>(text.substr(0, sent));
    const auto sentMs = wholeNumber<std::int64_t>(text.substr(sent + kSentPrefix.size()));
    if (!frame || !sentMs) {
        return std::nullopt;
    }
    return FrameStamp{*frame, *sentMs};
}

}  // namespace

void stampJpeg(std::string& jpeg, const FrameStamp& stamp) {
    if (!isJpeg(jpeg)) {
        return;
    }
    const std::string text = std::string(kFramePrefix) + std::to_string(stamp.frameNumber) +
                             std::string(kSentPrefix) + std::to_string(stamp.sentMs);
    static_assert(kFramePrefix.size() + kSentPrefix.size() + 4 + 40 == kMaxFrameStampBytes);
    const std::size_t length = text.size() + 2;  // the length field counts itself
    std::string segment = {static_cast<char>(kMarker), static_cast<char>(kComment),
                           static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)};
    segment += text;
    jpeg.insert(2, segment);
}

std::optional<FrameStamp> readFrameStamp(std::span<const char> jpeg) {
    if (!isJpeg(jpeg)) {
        return std::nullopt;
    }
    std::size_t offset = 2;
    while (offset + 1 < jpeg.size()) {
        if (byteAt(jpeg, offset) != kMarker) {
            return std::nullopt;
        }
        const unsigned char marker = byteAt(jpeg, offset + 1);
        if (marker == kMarker) {
            ++offset;  // fill byte
            continue;
        }
        offset += 2;
        if (marker == kStartOfScan || marker == kEndOfImage) {
            return std::nullopt;
        }
        if (standsAlone(marker)) {
            continue;
        }
        if (offset + 2 > jpeg.size()) {
            return std::nullopt;
        }
        const std::size_t length =
            static_cast<std::size_t>(byteAt(jpeg, offset)) << 8 | byteAt(jpeg, offset + 1);
        if (length < 2 || offset + length > jpeg.size()) {
            return std::nullopt;
        }
        if (marker == kComment) {
            if (auto stamp = parseComment(std::string_view(jpeg.data() + offset + 2, length - 2))) {
                return stamp;
            }
        }
        offset += length;
    }
    return std::nullopt;
}

}  // namespace krt::sim
