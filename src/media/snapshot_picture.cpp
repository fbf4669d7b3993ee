#include "media/snapshot_picture.h"

#include <algorithm>
#include <cstdint>

namespace krt {
namespace {

constexpr unsigned char kMarker = 0xFF;
constexpr unsigned char kStartOfImage = 0xD8;
constexpr unsigned char kEndOfImage = 0xD9;

}  // namespace

PictureSize scaleToFit(PictureSize picture, PictureSize area) {
    if (picture.width <= 0 || picture.height <= 0 || area.width <= 0 || area.height <= 0) {
        return {};
    }
    // Whichever side meets the area first sets the scale.
    const std::int64_t byWidth = std::int64_t{area.width} * picture.height;
    const std::int64_t byHeight = std::int64_t{area.height} * picture.width;
    if (byWidth <= byHeight) {
        const auto height = static_cast<int>(byWidth / picture.width);
        return {area.width, std::max(height, 1)};
    }
    const auto width = static_cast<int>(byHeight / picture.height);
    return {std::max(width, 1), area.height};
}

bool isWholeJpeg(std::span<const unsigned char> bytes) {
    return bytes.size() >= 4 && bytes[0] == kMarker && bytes[1] == kStartOfImage &&
           bytes[bytes.size() - 2] == kMarker && bytes.back() == kEndOfImage;
}

std::optional<DecodedPicture> decodeSnapshot(std::span<const unsigned char> jpeg,
                                             PictureSize limit) {
    if (!isWholeJpeg(jpeg)) {
        return std::nullopt;
    }
    FrameDecoder decoder;
    const std::optional<PictureSize> size = decoder.readSize(jpeg);
    if (!size) {
        return std::nullopt;
    }
    const bool fits = size->width <= limit.width && size->height <= limit.height;
    const PictureSize target = fits ? *size : scaleToFit(*size, limit);
    DecodedPicture picture;
    if (!decoder.decode(jpeg, target, picture)) {
        return std::nullopt;
    }
    return picture;
}

}  // namespace krt
