#include "video/jpeg_part_decoder.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdlib>

#include "video/test_jpeg.h"

namespace krt {
namespace {

// The whole picture decoded by TurboJPEG at that size, top-down, as the part decoder lays out
// its pixels.
std::vector<unsigned char> wholeDecode(const std::vector<unsigned char>& jpeg, PictureSize size) {
    const std::unique_ptr<void, int (*)(tjhandle)> decoder(tjInitDecompress(), tjDestroy);
    std::vector<unsigned char> pixels(static_cast<std::size_t>(size.width * size.height * 4));
    EXPECT_EQ(tjDecompress2(decoder.get(), jpeg.data(), jpeg.size(), pixels.data(), size.width,
                            size.width * 4, size.height, TJPF_BGRX, 0),
              0);
    return pixels;
}

TEST(JpegPartDecoder, DecodesThePartAtTheSmallestScaleThatReachesItsDrawnSize) {
    const std::vector<unsigned char> jpeg = test::detailedJpeg(640, 480);
    const struct {
        Rect part;
        PictureSize drawn;
        int eighths;  // the scale the part is decoded at
    } cases[] = {
        {{0, 0, 640, 480}, {640, 480}, 8},
        {{0, 0, 640, 480}, {300, 225}, 4},
        {{240, 180, 160, 120}, {300, 225}, 8},  // a 4x zoom, enlarged after the decode
        {{240, 180, 160, 120}, {80, 60}, 4},
        {{13, 7, 101, 77}, {101, 77}, 8},   // edges off the blocks
        {{600, 440, 40, 40}, {20, 20}, 4},  // at the bottom right corner
        {{100, 0, 200, 8}, {50, 2}, 2},
    };
    JpegPartDecoder decoder;
    DecodedPart decoded;
    for (const auto& c : cases) {
        ASSERT_TRUE(decoder.decode(jpeg, c.part, c.drawn, decoded)) << c.part.x;
        const Rect expected{c.part.x * c.eighths / 8, c.part.y * c.eighths / 8,
                            (c.part.width * c.eighths + 7) / 8,
                            (c.part.height * c.eighths + 7) / 8};
        EXPECT_EQ(decoded.part.width, expected.width) << c.part.x;
        EXPECT_EQ(decoded.part.height, expected.height) << c.part.x;
        // The same pixels as the whole picture decoded at that scale, but at the edges of the
        // blocks decoded, where the colour smoothing lacks its neighbours.
        const PictureSize scaled{(640 * c.eighths + 7) / 8, (480 * c.eighths + 7) / 8};
        const std::vector<unsigned char> whole = wholeDecode(jpeg, scaled);
        long difference = 0;
        for (int y = 0; y < expected.height; ++y) {
            for (int x = 0; x < expected.width * 4; ++x) {
                const unsigned char part = decoded.partPixels()[y * decoded.bytesPerLine + x];
                const unsigned char full = whole[static_cast<std::size_t>(
                    (expected.y + y) * scaled.width * 4 + expected.x * 4 + x)];
                difference += std::abs(part - full);
            }
        }
        EXPECT_LT(static_cast<double>(difference) / (expected.width * expected.height * 4), 1.0)
            << c.part.x;
    }
    EXPECT_FALSE(decoder.decode(jpeg, {600, 440, 41, 40}, {40, 40}, decoded))
        << "a part beyond the picture";
    const std::vector<unsigned char> cut(jpeg.begin(), jpeg.begin() + 100);
    EXPECT_FALSE(decoder.decode(cut, {0, 0, 64, 64}, {64, 64}, decoded));
    EXPECT_TRUE(decoder.decode(jpeg, {0, 0, 64, 64}, {64, 64}, decoded)) << "after a failure";
}

}  // namespace
}  // namespace krt
