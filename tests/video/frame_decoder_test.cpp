#include "video/frame_decoder.h"

#include <gtest/gtest.h>

#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <string>

#include "video/jpeg_rows.h"
#include "video/planar_fit.h"
#include "video/test_jpeg.h"

namespace krt {
namespace {

using test::Colour;
using test::kBlue;
using test::kRed;

std::vector<ScalingFactor> decoderFactors() {
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    std::vector<ScalingFactor> result;
    for (int i = 0; i < count; ++i) {
        result.push_back({factors[i].num, factors[i].denom});
    }
    return result;
}

struct FactorCase {
    PictureSize source;
    PictureSize target;
    PictureSize decoded;
};

void PrintTo(const FactorCase& c, std::ostream* out) {
    *out << c.source.width << "x" << c.source.height << " to " << c.target.width << "x"
         << c.target.height;
}

class ScalingChoice : public testing::TestWithParam<FactorCase> {};

TEST_P(ScalingChoice, SmallestPictureStillAtLeastTheTarget) {
    const FactorCase& c = GetParam();
    const ScalingFactor factor = chooseScalingFactor(c.source, c.target, decoderFactors());
    EXPECT_EQ(scaledSize(c.source, factor), c.decoded);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScalingChoice,
    testing::Values(FactorCase{{640, 480}, {320, 240}, {320, 240}},
                    FactorCase{{1280, 720}, {320, 180}, {320, 180}},
                    FactorCase{{640, 480}, {160, 120}, {160, 120}},
                    // 3/8 gives 240 × 180, too small; 1/2 is the smallest that covers 300 × 200.
                    FactorCase{{640, 480}, {300, 200}, {320, 240}},
                    FactorCase{{640, 480}, {640, 480}, {640, 480}},
                    // Wider than the channel's aspect: the height decides.
                    FactorCase{{640, 480}, {100, 400}, {560, 420}},
                    // Beyond the largest factor: the largest it is, then a resize.
                    FactorCase{{640, 480}, {2000, 1500}, {1280, 960}}));

// Colour of the pixel at (x, row) of a BGRX buffer, as red, green, blue.
Colour pixelAt(const DecodedPicture& picture, int x, int row) {
    const auto offset =
        static_cast<std::size_t>(row * picture.bytesPerLine() + x * DecodedPicture::kBytesPerPixel);
    return {picture.pixels[offset + 2], picture.pixels[offset + 1], picture.pixels[offset]};
}

void expectNear(const Colour& actual, const Colour& expected, const std::string& where) {
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(actual[i], expected[i], 12) << where << " channel " << i;
    }
}

class DecodeToSize : public testing::TestWithParam<PictureSize> {};

}  // namespace

void PrintTo(const PictureSize& size, std::ostream* out) {
    *out << size.width << "x" << size.height;
}

namespace {

TEST_P(DecodeToSize, ComesOutAtTheTargetSizeBottomUp) {
    const std::vector<unsigned char> jpeg = test::twoBandJpeg(128, 96, kRed, kBlue);
    FrameDecoder decoder;
    DecodedPicture picture;
    const PictureSize target = GetParam();
    ASSERT_TRUE(decoder.decode(jpeg, target, picture));
    ASSERT_EQ(picture.size, target);
    ASSERT_EQ(picture.pixels.size(), static_cast<std::size_t>(target.width * target.height * 4));
    // The first row in memory is the bottom (blue) band, the last the top (red) one.
    for (const int x : {0, target.width / 2, target.width - 1}) {
        expectNear(pixelAt(picture, x, 0), kBlue, "first row x " + std::to_string(x));
        expectNear(pixelAt(picture, x, target.height - 1), kRed, "last row x " + std::to_string(x));
    }
    EXPECT_EQ(decoder.failedFrames(), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DecodeToSize,
                         testing::Values(PictureSize{128, 96},  // as it is
                                         PictureSize{64, 48},   // by the DCT alone
                                         PictureSize{60, 40},   // DCT, then a resize down
                                         PictureSize{300, 200}  // beyond 2×: resized up
                                         ));

TEST(DecodeBrokenFrames, DrawNothingAndAreCounted) {
    const std::vector<unsigned char> good = test::twoBandJpeg(64, 48, kRed, kBlue);
    // The markers stop before the frame header.
    const std::vector<unsigned char> noImage(good.begin(), good.begin() + 20);
    const std::vector<unsigned char> garbage(500, 0x5A);
    const std::vector<unsigned char> empty;
    // The frame header is whole, but the frame ends before its scan.
    const std::array<unsigned char, 2> scanMarker{0xFF, 0xDA};
    const auto scan = std::search(good.begin(), good.end(), scanMarker.begin(), scanMarker.end());
    ASSERT_NE(scan, good.end());
    const std::vector<unsigned char> noScan(good.begin(), scan);

    FrameDecoder decoder;
    DecodedPicture picture;
    int failures = 0;
    // As it is, and fitted to a size that no DCT scale gives; the good frame after each broken
    // one decodes again.
    for (const PictureSize target : {PictureSize{64, 48}, PictureSize{60, 40}}) {
        for (const auto* frame : {&noImage, &garbage, &empty, &noScan}) {
            ASSERT_TRUE(decoder.decode(good, target, picture));
            const DecodedPicture before = picture;
            EXPECT_FALSE(decoder.decode(*frame, target, picture));
            EXPECT_EQ(decoder.failedFrames(), ++failures);
            EXPECT_EQ(picture.size, before.size);
            EXPECT_EQ(picture.pixels, before.pixels);
        }
    }
    // A failed frame leaves no trace in the decoder: the same reads give the same answers.
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(decoder.readSize(noScan), std::nullopt);
        EXPECT_EQ(decoder.readSize(garbage), std::nullopt);
        EXPECT_EQ(decoder.readSize(good), (PictureSize{64, 48}));
    }
}

TEST(DecodeTargets, ImpossibleTargetsAreRefused) {
    const std::vector<unsigned char> jpeg = test::twoBandJpeg(64, 48, kRed, kBlue);
    FrameDecoder decoder;
    DecodedPicture picture;
    const PictureSize targets[] = {{0, 48}, {64, -1}, {5000, 5000}};
    for (const PictureSize& target : targets) {
        EXPECT_FALSE(decoder.decode(jpeg, target, picture)) << target.width << "x" << target.height;
    }
    EXPECT_EQ(decoder.failedFrames(), 3);
    EXPECT_EQ(decoder.readSize(jpeg), (PictureSize{64, 48}));
}

// The rows of a bottom-up picture in the opposite order.
std::vector<unsigned char> upsideDown(const std::vector<unsigned char>& pixels, PictureSize size) {
    const auto line = static_cast<std::size_t>(size.width) * DecodedPicture::kBytesPerPixel;
    std::vector<unsigned char> flipped;
    for (int row = size.height - 1; row >= 0; --row) {
        const auto start = pixels.begin() + static_cast<long>(static_cast<std::size_t>(row) * line);
        flipped.insert(flipped.end(), start, start + static_cast<long>(line));
    }
    return flipped;
}

// Fitting each row as soon as the decoder gives the rows it reads comes to the same bytes as
// resampling the whole picture decoded at that scale (the pixel path: no AVX2 for planes).
TEST(DecodeFitted, GivesTheWholeScaledPictureResampled) {
    const std::vector<unsigned char> jpeg = test::detailedJpeg(128, 96);
    const struct {
        PictureSize scaled;
        PictureSize target;
    } cases[] = {{{112, 84}, {100, 70}}, {{64, 48}, {60, 40}}, {{256, 192}, {300, 200}}};
    FrameDecoder decoder(InstructionSet::Ssse3);
    for (const auto& c : cases) {
        DecodedPicture whole;
        ASSERT_TRUE(decoder.decode(jpeg, c.scaled, whole));
        const std::vector<unsigned char> topDown = upsideDown(whole.pixels, c.scaled);
        std::vector<unsigned char> expected(
            static_cast<std::size_t>(c.target.width * c.target.height) * 4);
        PictureResampler resampler;
        resampler.prepare(c.scaled, c.target);
        const auto sourceLine = static_cast<std::size_t>(c.scaled.width) * 4;
        const auto targetLine = static_cast<std::size_t>(c.target.width) * 4;
        for (int y = 0; y < c.target.height; ++y) {
            const PictureResampler::Tap tap = resampler.rowTap(y);
            const unsigned char* upper =
                topDown.data() + static_cast<std::size_t>(tap.first) * sourceLine;
            resampler.fitRow(upper, upper + sourceLine, tap.weight,
                             expected.data() + static_cast<std::size_t>(y) * targetLine);
        }
        DecodedPicture fitted;
        ASSERT_TRUE(decoder.decode(jpeg, c.target, fitted));
        EXPECT_EQ(upsideDown(fitted.pixels, c.target), expected)
            << c.target.width << "x" << c.target.height;
    }
}

// At a DCT scale the picture holds the library's own decode, byte for byte, also in the rows
// that go through a spare row because they start on a 32-byte boundary: 100 pixels are 400
// bytes, so every other row does.
TEST(DecodeExactly, GivesTheLibrarysBytesInEveryRow) {
    const std::vector<unsigned char> jpeg = test::detailedJpeg(200, 150);
    const PictureSize half{100, 75};
    std::vector<unsigned char> expected(static_cast<std::size_t>(half.width * half.height) * 4);
    const std::unique_ptr<void, int (*)(tjhandle)> library(tjInitDecompress(), tjDestroy);
    ASSERT_EQ(tjDecompress2(library.get(), jpeg.data(), jpeg.size(), expected.data(), half.width,
                            half.width * 4, half.height, TJPF_BGRX, TJFLAG_BOTTOMUP),
              0);
    FrameDecoder decoder;
    DecodedPicture picture;
    for (int frame = 0; frame < 2; ++frame) {  // into both of the decoder's buffers
        ASSERT_TRUE(decoder.decode(jpeg, half, picture));
        EXPECT_EQ(picture.pixels, expected) << "frame " << frame;
    }
}

// What the decoder offers as planes: 2 × 2 subsampled chroma comes at half size at 8/8 and at
// full size below it (the library scales it up in the transform), 4:4:4 at full size; other
// samplings and grey frames offer none.
TEST(JpegPlanes, LayoutFollowsTheFramesSampling) {
    const struct {
        int subsampling;
        ScalingFactor factor;
        std::optional<PictureSize> chroma;
    } cases[] = {
        {TJSAMP_420, {8, 8}, PictureSize{101, 75}}, {TJSAMP_420, {7, 8}, PictureSize{177, 132}},
        {TJSAMP_420, {4, 8}, PictureSize{101, 75}}, {TJSAMP_444, {8, 8}, PictureSize{202, 150}},
        {TJSAMP_422, {8, 8}, std::nullopt},         {TJSAMP_GRAY, {8, 8}, std::nullopt}};
    for (const auto& c : cases) {
        const auto jpeg = test::detailedJpeg(202, 150, c.subsampling);
        JpegRowReader reader;
        ASSERT_TRUE(reader.start(jpeg));
        const std::optional<PlaneLayout> layout = reader.planeLayout(c.factor);
        const std::string name = "sampling " + std::to_string(c.subsampling) + " at " +
                                 std::to_string(c.factor.num) + "/8";
        ASSERT_EQ(layout.has_value(), c.chroma.has_value()) << name;
        if (layout) {
            EXPECT_EQ(layout->luma, scaledSize({202, 150}, c.factor)) << name;
            EXPECT_EQ(layout->chroma, *c.chroma) << name;
            EXPECT_GE(layout->lumaStride, layout->luma.width) << name;
            EXPECT_GE(layout->chromaRows, layout->chroma.height) << name;
        }
    }
}

// Planes fitted to their own size are the library's picture, but for the rounding of the colour
// conversion: strides, the smoothing that brings half-size chroma (8/8) to full size, full-size
// chroma (7/8 and 4/8, which the library scales up in the transform, 7/8 to blocks of 14), the
// conversion and the bottom-up order all hold, in plain code and in vectors.
TEST(JpegPlanes, AtTheirOwnSizeGiveTheLibrarysPicture) {
    const auto jpeg = test::detailedJpeg(202, 150);
    const std::unique_ptr<void, int (*)(tjhandle)> library(tjInitDecompress(), tjDestroy);
    for (const ScalingFactor factor :
         {ScalingFactor{8, 8}, ScalingFactor{7, 8}, ScalingFactor{4, 8}}) {
        const PictureSize size = scaledSize({202, 150}, factor);
        std::vector<unsigned char> expected(static_cast<std::size_t>(size.width * size.height) * 4);
        ASSERT_EQ(
            tjDecompress2(library.get(), jpeg.data(), jpeg.size(), expected.data(), size.width,
                          size.width * 4, size.height, TJPF_BGRX, TJFLAG_BOTTOMUP),
            0);
        for (const InstructionSet ceiling :
             {InstructionSet::Plain, InstructionSet::Avx2, InstructionSet::Avx512}) {
            JpegRowReader reader;
            ASSERT_TRUE(reader.start(jpeg));
            ASSERT_TRUE(reader.planeLayout(factor));
            std::vector<unsigned char> pixels(expected.size());
            PlanarFit fit(ceiling);
            ASSERT_TRUE(fit.decode(reader, size, pixels.data()));
            int largest = 0;
            for (std::size_t i = 0; i < pixels.size(); ++i) {
                largest = std::max(largest, std::abs(pixels[i] - expected[i]));
            }
            EXPECT_LE(largest, 2) << size.width << "x" << size.height << " set "
                                  << static_cast<int>(ceiling);
        }
    }
}

// Mean difference per byte from the original picture (red, green, blue, top-down), resampled
// bilinearly in floating point, of a decoded picture (blue, green, red, unused, bottom-up).
double errorFromOriginal(const DecodedPicture& picture, const std::vector<unsigned char>& rgb,
                         PictureSize source) {
    const PictureSize target = picture.size;
    const auto position = [](int i, int from, int to) {
        return std::clamp((i + 0.5) * from / to - 0.5, 0.0, from - 1.0);
    };
    double error = 0;
    for (int y = 0; y < target.height; ++y) {
        const double sy = position(y, source.height, target.height);
        const int y0 = std::min(static_cast<int>(sy), source.height - 2);
        for (int x = 0; x < target.width; ++x) {
            const double sx = position(x, source.width, target.width);
            const int x0 = std::min(static_cast<int>(sx), source.width - 2);
            const Colour shown = pixelAt(picture, x, target.height - 1 - y);
            for (std::size_t channel = 0; channel < 3; ++channel) {
                const auto at = [&](int px, int py) -> double {
                    return rgb[static_cast<std::size_t>(py * source.width + px) * 3 + channel];
                };
                const double upper = at(x0, y0) + (at(x0 + 1, y0) - at(x0, y0)) * (sx - x0);
                const double lower =
                    at(x0, y0 + 1) + (at(x0 + 1, y0 + 1) - at(x0, y0 + 1)) * (sx - x0);
                error += std::abs(shown[channel] - (upper + (lower - upper) * (sy - y0)));
            }
        }
    }
    return error / (target.width * target.height * 3.0);
}

// Fitting the planes, where the processor offers it, loses nothing against fitting the decoded
// pixels: measured against the picture before it was encoded, down and up.
TEST(DecodePlanes, FitAsWellAsThePixelsDo) {
    const struct {
        PictureSize source;
        PictureSize target;
    } cases[] = {{{640, 480}, {616, 462}},
                 {{640, 480}, {308, 231}},
                 {{201, 151}, {150, 113}},  // odd sizes: chroma rounded up, blocks padded
                 {{128, 96}, {300, 200}}};
    for (const auto& c : cases) {
        const auto rgb = test::detailedPicture(c.source.width, c.source.height);
        const auto jpeg = test::encodedJpeg(rgb, c.source.width, c.source.height);
        FrameDecoder planes;
        FrameDecoder pixels(InstructionSet::Ssse3);
        DecodedPicture byPlanes;
        DecodedPicture byPixels;
        ASSERT_TRUE(planes.decode(jpeg, c.target, byPlanes));
        ASSERT_TRUE(pixels.decode(jpeg, c.target, byPixels));
        double difference = 0;
        for (std::size_t i = 0; i < byPlanes.pixels.size(); ++i) {
            difference += std::abs(byPlanes.pixels[i] - byPixels.pixels[i]);
        }
        const std::string name =
            std::to_string(c.target.width) + "x" + std::to_string(c.target.height);
        EXPECT_LT(difference / static_cast<double>(byPlanes.pixels.size()), 1.0) << name;
        // The conversion rounds after the fit instead of before it: a few hundredths of a level.
        EXPECT_LT(errorFromOriginal(byPlanes, rgb, c.source),
                  errorFromOriginal(byPixels, rgb, c.source) * 1.02)
            << name;
    }
}

TEST(DecodeReuse, OneDecoderServesFramesOfChangingSizes) {
    FrameDecoder decoder;
    DecodedPicture picture;
    const struct {
        PictureSize source;
        PictureSize target;
    } frames[] = {{{640, 480}, {320, 240}}, {{1280, 720}, {320, 180}}, {{64, 48}, {64, 48}}};
    for (const auto& frame : frames) {
        const auto jpeg = test::twoBandJpeg(frame.source.width, frame.source.height, kBlue, kRed);
        ASSERT_TRUE(decoder.decode(jpeg, frame.target, picture));
        EXPECT_EQ(picture.size, frame.target);
        expectNear(pixelAt(picture, 0, 0), kRed, "bottom band first in memory");
    }
}

}  // namespace
}  // namespace krt
