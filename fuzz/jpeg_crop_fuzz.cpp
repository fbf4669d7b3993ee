// Arbitrary bytes as a JPEG frame of which a zoomed view shows a part, the part and the size it
// is drawn at taken from the input: the frame cut down to the part, and the part decoded to its
// size, with the cut and the decoder that a stream keeps from frame to frame.
#include <cstdint>
#include <optional>
#include <span>

#include "fuzz_check.h"
#include "media/digital_zoom.h"
#include "media/frame_decoder.h"
#include "media/jpeg_crop.h"

namespace {

constexpr std::size_t kLayoutBytes = 8;
constexpr int kMaxSide = 1024;
// As in the frame decoder's target: larger announced pictures only spend the run's time.
constexpr long kMaxDecodedSourcePixels = 1L << 20;

int side(std::span<const std::uint8_t> bytes, std::size_t at) {
    return (bytes[at] << 8 | bytes[at + 1]) % kMaxSide;
}

bool liesWithin(const krt::Rect& part, krt::PictureSize size) {
    return part.x >= 0 && part.y >= 0 && part.width > 0 && part.height > 0 &&
           part.x + part.width <= size.width && part.y + part.height <= size.height;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static krt::JpegCrop crop;
    static krt::FrameDecoder decoder;
    if (size < kLayoutBytes) {
        return 0;
    }
    const std::span<const std::uint8_t> input(data, size);
    const krt::Rect part{side(input, 0), side(input, 2), side(input, 4) + 1,
                         side(input, 4) / 2 + 1};
    const krt::PictureSize drawn{side(input, 6) + 1, side(input, 6) / 3 + 1};
    const std::span<const unsigned char> jpeg = input.subspan(kLayoutBytes);
    const std::optional<krt::PictureSize> source = decoder.readSize(jpeg);
    if (!source || long{source->width} * source->height > kMaxDecodedSourcePixels) {
        return 0;
    }

    // The cut holds the whole part, and is a JPEG of the size it says.
    if (const std::optional<krt::CroppedJpeg> cut = crop.crop(jpeg, part)) {
        FUZZ_CHECK(liesWithin(part, *source));
        FUZZ_CHECK(cut->part.width == part.width && cut->part.height == part.height);
        FUZZ_CHECK(liesWithin(cut->part, cut->size));
        FUZZ_CHECK(cut->size.width <= source->width && cut->size.height <= source->height);
        FUZZ_CHECK(decoder.readSize(cut->jpeg) == cut->size);
    }

    // The same part decoded for a zoomed view comes out at the size it is drawn.
    const krt::ZoomRegion region{static_cast<double>(part.x) / source->width,
                                 static_cast<double>(part.y) / source->height,
                                 static_cast<double>(part.width) / source->width,
                                 static_cast<double>(part.height) / source->height};
    krt::DecodedPicture picture;
    if (decoder.decode(jpeg, drawn, picture, region)) {
        FUZZ_CHECK(picture.size == drawn);
        FUZZ_CHECK(picture.pixels.size() == static_cast<std::size_t>(drawn.width) *
                                                static_cast<std::size_t>(drawn.height) *
                                                krt::DecodedPicture::kBytesPerPixel);
    }
    return 0;
}
