// Arbitrary bytes as a JPEG frame, decoded into a tile of a size taken from the input, with
// the decoder that a stream keeps from frame to frame.
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "media/frame_decoder.h"

namespace {

constexpr std::size_t kSizeBytes = 5;
// Tiles from 1x1 to 640x640; a flag asks for one beyond the cap, which must be refused.
constexpr int kMaxTileSide = 640;
constexpr krt::PictureSize kBeyondCap{5000, 5000};
// A frame announcing more is not decoded: the decoder's work grows with the announced area
// (a few bytes can announce 40 megapixels) while the code it runs stays the same, and a run
// would spend its time there.
constexpr long kMaxDecodedSourcePixels = 1L << 20;

krt::PictureSize tileSize(std::span<const std::uint8_t> bytes) {
    if (bytes[4] & 1) {
        return kBeyondCap;
    }
    const int width = (bytes[0] << 8 | bytes[1]) % kMaxTileSide + 1;
    const int height = (bytes[2] << 8 | bytes[3]) % kMaxTileSide + 1;
    return {width, height};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static krt::FrameDecoder decoder;
    if (size < kSizeBytes) {
        return 0;
    }
    const std::span<const std::uint8_t> input(data, size);
    const krt::PictureSize target = tileSize(input);
    const std::span<const unsigned char> jpeg = input.subspan(kSizeBytes);

    const std::optional<krt::PictureSize> announced = decoder.readSize(jpeg);
    FUZZ_CHECK(!announced || (announced->width > 0 && announced->height > 0));
    if (announced && long{announced->width} * announced->height > kMaxDecodedSourcePixels) {
        return 0;
    }

    // A picture from an earlier frame, which a broken frame must leave as it is.
    krt::DecodedPicture picture;
    picture.size = {2, 1};
    picture.pixels.assign(8, 0x5A);
    const int failedBefore = decoder.failedFrames();
    const bool decoded = decoder.decode(jpeg, target, picture);

    FUZZ_CHECK(decoder.failedFrames() == failedBefore + (decoded ? 0 : 1));
    if (!decoded) {
        FUZZ_CHECK((picture.size == krt::PictureSize{2, 1}));
        FUZZ_CHECK(picture.pixels == std::vector<unsigned char>(8, 0x5A));
        return 0;
    }
    FUZZ_CHECK(announced.has_value());
    FUZZ_CHECK(picture.size == target);
    const long pixels = long{target.width} * target.height;
    FUZZ_CHECK(pixels <= krt::FrameDecoder::kMaxDecodedPixels);
    FUZZ_CHECK(picture.pixels.size() ==
               static_cast<std::size_t>(pixels) * krt::DecodedPicture::kBytesPerPixel);
    return 0;
}
