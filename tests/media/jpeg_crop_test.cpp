#include "media/jpeg_crop.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "media/test_jpeg.h"

namespace krt {
namespace {

// The picture decoded whole, at its size, top-down.
std::vector<unsigned char> decoded(std::span<const unsigned char> jpeg, PictureSize size) {
    const std::unique_ptr<void, int (*)(tjhandle)> decoder(tjInitDecompress(), tjDestroy);
    std::vector<unsigned char> pixels(static_cast<std::size_t>(size.width * size.height * 4));
    EXPECT_EQ(tjDecompress2(decoder.get(), jpeg.data(), jpeg.size(), pixels.data(), size.width,
                            size.width * 4, size.height, TJPF_BGRX, 0),
              0);
    return pixels;
}

TEST(JpegCrop, CutsFromTheBlocksOfThePartAndDecodesToTheWholePicturesPixels) {
    const struct {
        int subsampling;
        Rect part;
        Rect cut;  // in the picture; the part lies at its right and bottom edges
    } cases[] = {
        {TJSAMP_444, {240, 180, 160, 120}, {240, 176, 160, 124}},
        {TJSAMP_444, {13, 7, 101, 77}, {8, 0, 106, 84}},
        {TJSAMP_420, {240, 180, 160, 120}, {240, 176, 160, 124}},
        {TJSAMP_420, {13, 7, 101, 77}, {0, 0, 114, 84}},
        {TJSAMP_422, {600, 440, 40, 40}, {592, 440, 48, 40}},  // the bottom right corner
        {TJSAMP_420, {0, 0, 640, 480}, {0, 0, 640, 480}},
    };
    const PictureSize source{640, 480};
    JpegCrop crop;
    for (const auto& c : cases) {
        const auto jpeg = test::detailedJpeg(source.width, source.height, c.subsampling);
        const std::vector<unsigned char> whole = decoded(jpeg, source);
        const std::optional<CroppedJpeg> cut = crop.crop(jpeg, c.part);
        ASSERT_TRUE(cut) << c.part.x;
        EXPECT_EQ(cut->size, (PictureSize{c.cut.width, c.cut.height})) << c.part.x;
        ASSERT_EQ(cut->part,
                  (Rect{c.part.x - c.cut.x, c.part.y - c.cut.y, c.part.width, c.part.height}))
            << c.part.x;
        // The same pixels, but where the colours' smoothing lacks the neighbours beyond the
        // cut's edges; without subsampled colours, exactly the same.
        const std::vector<unsigned char> part = decoded(cut->jpeg, cut->size);
        long difference = 0;
        for (int y = 0; y < c.part.height; ++y) {
            for (int x = 0; x < c.part.width * 4; ++x) {
                const auto at = [x, y](const Rect& in, int width) {
                    return static_cast<std::size_t>(((in.y + y) * width + in.x) * 4 + x);
                };
                difference += std::abs(part[at(cut->part, cut->size.width)] -
                                       whole[at(c.part, source.width)]);
            }
        }
        const double mean = static_cast<double>(difference) / (c.part.width * c.part.height * 4);
        EXPECT_LE(mean, c.subsampling == TJSAMP_444 ? 0.0 : 1.0) << c.part.x;
    }
}

TEST(JpegCrop, RefusesPartsBeyondThePictureAndFramesWithoutOne) {
    const auto jpeg = test::detailedJpeg(64, 48);
    const std::vector<unsigned char> garbage(500, 0x5A);
    const std::vector<unsigned char> noImage(jpeg.begin(), jpeg.begin() + 20);
    const std::span<const unsigned char> frames[] = {jpeg, jpeg, jpeg, jpeg, garbage, noImage};
    const Rect parts[] = {{60, 40, 5, 8}, {-1, 0, 8, 8}, {0, 0, 0, 8},
                          {0, 0, 64, 49}, {0, 0, 8, 8},  {0, 0, 8, 8}};
    JpegCrop crop;
    for (std::size_t i = 0; i < std::size(parts); ++i) {
        EXPECT_FALSE(crop.crop(frames[i], parts[i])) << i;
        EXPECT_TRUE(crop.crop(jpeg, {0, 0, 64, 48})) << "after " << i;
    }
    // A frame cut off within its scan is cut as it is decoded whole: what it lacks, grey.
    const std::vector<unsigned char> cutOff(jpeg.begin(), jpeg.begin() + jpeg.size() * 2 / 3);
    const std::optional<CroppedJpeg> cut = crop.crop(cutOff, {20, 20, 28, 28});
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->size, (PictureSize{32, 32}));
}

}  // namespace
}  // namespace krt
