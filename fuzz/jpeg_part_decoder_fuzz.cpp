// Arbitrary bytes as a JPEG frame of which a zoomed view decodes a part: the part and the size
// it is drawn at taken from the input, with the decoder a stream keeps from frame to frame.
#include <cstdint>
#include <span>

#include "fuzz_check.h"
#include "video/jpeg_part_decoder.h"

namespace {

constexpr std::size_t kLayoutBytes = 8;
constexpr int kMaxSide = 1024;

int side(std::span<const std::uint8_t> bytes, std::size_t at) {
    return (bytes[at] << 8 | bytes[at + 1]) % kMaxSide;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static krt::JpegPartDecoder decoder;
    static krt::DecodedPart decoded;
    if (size < kLayoutBytes) {
        return 0;
    }
    const std::span<const std::uint8_t> input(data, size);
    const krt::Rect part{side(input, 0), side(input, 2), side(input, 4) + 1,
                         side(input, 4) / 2 + 1};
    const krt::PictureSize drawn{side(input, 6) + 1, side(input, 6) / 3 + 1};
    if (!decoder.decode(input.subspan(kLayoutBytes), part, drawn, decoded)) {
        return 0;
    }
    // The part lies within the pixels decoded, no larger than the part asked for but for the
    // pixel that rounding its edges outwards may add.
    FUZZ_CHECK(decoded.part.x >= 0 && decoded.part.y == 0);
    FUZZ_CHECK(decoded.part.width >= 1 && decoded.part.width <= part.width + 1);
    FUZZ_CHECK(decoded.part.height >= 1 && decoded.part.height <= part.height + 1);
    FUZZ_CHECK((decoded.part.x + decoded.part.width) * krt::DecodedPart::kBytesPerPixel <=
               decoded.bytesPerLine);
    FUZZ_CHECK(static_cast<std::size_t>(decoded.bytesPerLine) *
                   static_cast<std::size_t>(decoded.part.height) <=
               decoded.pixels.size());
    return 0;
}
