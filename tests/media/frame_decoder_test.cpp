#include "media/frame_decoder.h"

#include <gtest/gtest.h>

#include <libyuv/scale_argb.h>
#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "media/digital_zoom.h"
#include "media/test_jpeg.h"

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

// A copy of the frame whose header announces another picture size.
std::vector<unsigned char> announcing(std::vector<unsigned char> jpeg, PictureSize size) {
    const std::array<unsigned char, 2> frameMarker{0xFF, 0xC0};
    const auto frame =
        std::search(jpeg.begin(), jpeg.end(), frameMarker.begin(), frameMarker.end());
    // Marker, length, precision, then height and width, high byte first.
    const auto at = static_cast<std::size_t>(frame - jpeg.begin()) + 5;
    jpeg.at(at) = static_cast<unsigned char>(size.height >> 8);
    jpeg.at(at + 1) = static_cast<unsigned char>(size.height & 0xFF);
    jpeg.at(at + 2) = static_cast<unsigned char>(size.width >> 8);
    jpeg.at(at + 3) = static_cast<unsigned char>(size.width & 0xFF);
    return jpeg;
}

TEST(DecodeTargets, ImpossibleTargetsAndHugeFramesAreRefused) {
    const std::vector<unsigned char> jpeg = test::twoBandJpeg(64, 48, kRed, kBlue);
    FrameDecoder decoder;
    DecodedPicture picture;
    const PictureSize targets[] = {{0, 48}, {64, -1}, {5000, 5000}};
    for (const PictureSize& target : targets) {
        EXPECT_FALSE(decoder.decode(jpeg, target, picture)) << target.width << "x" << target.height;
    }
    EXPECT_EQ(decoder.failedFrames(), 3);
    EXPECT_EQ(decoder.readSize(jpeg), (PictureSize{64, 48}));
    // Its size is read, but a tile's picture of it would take too much memory to decode.
    const auto huge = announcing(jpeg, {16000, 16000});
    EXPECT_EQ(decoder.readSize(huge), (PictureSize{16000, 16000}));
    EXPECT_FALSE(decoder.decode(huge, {320, 240}, picture));
    EXPECT_EQ(decoder.failedFrames(), 4);
}

// A frame cut off within its scan is shown: the decoder gets past the fault, and the rows it
// had are the whole frame's.
TEST(DecodeDamagedFrames, CutInTheScanIsShown) {
    const std::vector<unsigned char> whole = test::detailedJpeg(128, 96);
    const std::vector<unsigned char> cut(whole.begin(),
                                         whole.begin() + static_cast<long>(whole.size() * 2 / 3));
    FrameDecoder decoder;
    for (const PictureSize target : {PictureSize{128, 96}, PictureSize{100, 70}}) {
        DecodedPicture fromWhole;
        DecodedPicture fromCut;
        ASSERT_TRUE(decoder.decode(whole, target, fromWhole));
        ASSERT_TRUE(decoder.decode(cut, target, fromCut));
        EXPECT_EQ(fromCut.size, target);
        // Stored bottom-up: the top row is the last in memory.
        const auto line = static_cast<std::size_t>(fromCut.bytesPerLine());
        EXPECT_TRUE(std::equal(fromCut.pixels.end() - static_cast<long>(line), fromCut.pixels.end(),
                               fromWhole.pixels.end() - static_cast<long>(line)))
            << target.width << "x" << target.height;
        EXPECT_NE(fromCut.pixels, fromWhole.pixels);
    }
    EXPECT_EQ(decoder.failedFrames(), 0);
}

// At a DCT scale the picture holds the library's own decode, byte for byte.
TEST(DecodeExactly, GivesTheLibrarysBytes) {
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

// The picture of a frame decoded whole (blue, green, red, unused; top-down), resampled by area
// in double precision: each target pixel the mean of the source area it covers.
std::vector<double> areaResampled(const std::vector<unsigned char>& bgrx, PictureSize from,
                                  PictureSize to) {
    // Per target index, the source indices it covers and how much of each.
    const auto weights = [](int fromLength, int toLength) {
        std::vector<std::vector<std::pair<int, double>>> table(static_cast<std::size_t>(toLength));
        const double step = static_cast<double>(fromLength) / toLength;
        for (int i = 0; i < toLength; ++i) {
            const double begin = i * step;
            const double end = begin + step;
            for (int j = static_cast<int>(begin); j < fromLength && j < end; ++j) {
                const double cover = std::min<double>(end, j + 1) - std::max<double>(begin, j);
                table[static_cast<std::size_t>(i)].emplace_back(j, cover / step);
            }
        }
        return table;
    };
    const auto columns = weights(from.width, to.width);
    const auto rows = weights(from.height, to.height);
    std::vector<double> result(static_cast<std::size_t>(to.width * to.height) * 3);
    for (int y = 0; y < to.height; ++y) {
        for (int x = 0; x < to.width; ++x) {
            for (const auto& [sourceY, rowWeight] : rows[static_cast<std::size_t>(y)]) {
                for (const auto& [sourceX, columnWeight] : columns[static_cast<std::size_t>(x)]) {
                    const auto source = static_cast<std::size_t>(sourceY * from.width + sourceX);
                    for (std::size_t c = 0; c < 3; ++c) {
                        result[static_cast<std::size_t>(y * to.width + x) * 3 + c] +=
                            rowWeight * columnWeight * bgrx[source * 4 + c];
                    }
                }
            }
        }
    }
    return result;
}

// Peak signal to noise ratio of a fitted picture (bottom-up) against a reference (top-down).
double psnr(const DecodedPicture& picture, const std::vector<double>& reference) {
    double squares = 0;
    for (int y = 0; y < picture.size.height; ++y) {
        for (int x = 0; x < picture.size.width; ++x) {
            const Colour shown = pixelAt(picture, x, picture.size.height - 1 - y);
            for (std::size_t c = 0; c < 3; ++c) {
                const double expected =
                    reference[static_cast<std::size_t>(y * picture.size.width + x) * 3 + 2 - c];
                squares += (shown[c] - expected) * (shown[c] - expected);
            }
        }
    }
    const double mean = squares / (picture.size.width * picture.size.height * 3.0);
    return 10 * std::log10(255.0 * 255.0 / mean);
}

// The fit to the single view's size loses little against the ideal resample of the whole
// picture, on the simulator's flat pictures and on a camera's detailed ones, at the simulator's
// quality.
TEST(DecodeFitted, CloseToAnAreaResampleOfTheWholePicture) {
    const PictureSize source{640, 480};
    const PictureSize target{616, 462};
    const std::unique_ptr<void, int (*)(tjhandle)> library(tjInitDecompress(), tjDestroy);
    for (const test::PictureKind kind : {test::PictureKind::Flat, test::PictureKind::CameraLike}) {
        const auto jpeg = test::encodedJpeg(test::streamPicture(kind, source.width, source.height),
                                            source.width, source.height, 80);
        std::vector<unsigned char> whole(static_cast<std::size_t>(source.width * source.height) *
                                         4);
        ASSERT_EQ(tjDecompress2(library.get(), jpeg.data(), jpeg.size(), whole.data(), source.width,
                                0, source.height, TJPF_BGRX, 0),
                  0);
        FrameDecoder decoder;
        DecodedPicture picture;
        ASSERT_TRUE(decoder.decode(jpeg, target, picture));
        EXPECT_GE(psnr(picture, areaResampled(whole, source, target)), 40.0)
            << (kind == test::PictureKind::Flat ? "flat, " : "camera-like, ") << jpeg.size()
            << " bytes";
    }
}

// The pixels of a picture (blue, green, red, unused) within `part`, rows as they are.
std::vector<unsigned char> pixelsWithin(const std::vector<unsigned char>& bgrx, int width,
                                        const Rect& part) {
    std::vector<unsigned char> result;
    for (int y = part.y; y < part.y + part.height; ++y) {
        const auto row = bgrx.begin() + (static_cast<long>(y) * width + part.x) * 4;
        result.insert(result.end(), row, row + static_cast<long>(part.width) * 4);
    }
    return result;
}

// A zoomed view shows the camera's detail: its part decoded alone comes close to the ideal
// resample of that part of the whole picture, and far closer than the tile's picture enlarged
// smoothly (by 5 dB and more; 6 to 10 dB here), whether the part is decoded at a smaller, the
// same or a larger DCT scale than the tile.
TEST(DecodeZoomed, ThePartAloneAtTheCamerasDetail) {
    const PictureSize source{1280, 960};
    const auto jpeg = test::encodedJpeg(
        test::streamPicture(test::PictureKind::CameraLike, source.width, source.height),
        source.width, source.height, 80);
    std::vector<unsigned char> whole(static_cast<std::size_t>(source.width * source.height) * 4);
    const std::unique_ptr<void, int (*)(tjhandle)> library(tjInitDecompress(), tjDestroy);
    ASSERT_EQ(tjDecompress2(library.get(), jpeg.data(), jpeg.size(), whole.data(), source.width, 0,
                            source.height, TJPF_BGRX, 0),
              0);
    const struct {
        ZoomRegion region;
        PictureSize target;
    } cases[] = {
        {{0.0, 0.0, 0.5, 0.5}, {308, 231}},           // 2x, at half the DCT scale
        {{0.375, 0.375, 0.25, 0.25}, {320, 240}},     // 4x, at the part's own size
        {{0.1234, 0.377, 0.333, 0.333}, {300, 225}},  // 3x off the blocks, at 3/4
        {{0.3, 0.1, 0.125, 0.125}, {616, 462}},       // 8x, enlarged from the camera's size
    };
    FrameDecoder decoder;
    for (const auto& c : cases) {
        // The region as drawn; the picture is drawn mirrored top to bottom, as it is kept.
        const Rect part = upsideDown(cropOf(c.region, source), source.height);
        const std::vector<double> ideal = areaResampled(pixelsWithin(whole, source.width, part),
                                                        {part.width, part.height}, c.target);
        DecodedPicture zoomed;
        ASSERT_TRUE(decoder.decode(jpeg, c.target, zoomed, c.region));
        ASSERT_EQ(zoomed.size, c.target);
        EXPECT_EQ(zoomed.source, source);
        DecodedPicture tile;
        ASSERT_TRUE(decoder.decode(jpeg, c.target, tile));
        const Rect tilePart = cropOf(c.region, c.target);
        DecodedPicture enlarged{c.target, std::vector<unsigned char>(tile.pixels.size()), {}};
        ASSERT_EQ(libyuv::ARGBScale(&tile.pixels[static_cast<std::size_t>(
                                        tilePart.y * tile.bytesPerLine() + tilePart.x * 4)],
                                    tile.bytesPerLine(), tilePart.width, tilePart.height,
                                    enlarged.pixels.data(), enlarged.bytesPerLine(), c.target.width,
                                    c.target.height, libyuv::kFilterBilinear),
                  0);
        const double shown = psnr(zoomed, ideal);
        EXPECT_GE(shown, 24.0) << c.region.left;
        EXPECT_GE(shown, psnr(enlarged, ideal) + 5.0) << c.region.left;
    }
}

// A frame whose sampling of the colours TurboJPEG has no name for cannot be cut: zoomed, it is
// decoded whole, as it is unzoomed.
TEST(DecodeZoomed, AFrameThatCannotBeCutIsDecodedWhole) {
    auto jpeg = test::detailedJpeg(64, 48, TJSAMP_444);
    const std::array<unsigned char, 2> frameMarker{0xFF, 0xC0};
    const auto frame =
        std::search(jpeg.begin(), jpeg.end(), frameMarker.begin(), frameMarker.end());
    // Marker, length, precision, height, width, count; then each one's id, sampling, table.
    const auto sampling = static_cast<std::size_t>(frame - jpeg.begin()) + 11;
    jpeg.at(sampling) = jpeg.at(sampling + 3) = 0x12;  // brightness and blue at twice the rows
    ASSERT_FALSE(JpegCrop().crop(jpeg, {16, 8, 32, 24}));
    FrameDecoder decoder;
    DecodedPicture picture;
    ASSERT_TRUE(decoder.decode(jpeg, {64, 48}, picture));
    EXPECT_TRUE(decoder.decode(jpeg, {64, 48}, picture, {0.25, 0.25, 0.5, 0.5}));
    EXPECT_EQ(decoder.failedFrames(), 0);
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
