#include "video/picture_resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace krt {
namespace {

// A whole picture, row by row as the frame decoder feeds it (rows without padding).
void resampleWhole(PictureResampler& resampler, const std::vector<unsigned char>& source,
                   PictureSize from, std::vector<unsigned char>& target, PictureSize to,
                   int pixelBytes = 4) {
    resampler.prepare(from, to, pixelBytes);
    const auto sourceLine = static_cast<std::size_t>(from.width * pixelBytes);
    const auto targetLine = static_cast<std::size_t>(to.width * pixelBytes);
    for (int y = 0; y < to.height; ++y) {
        const PictureResampler::Tap tap = resampler.rowTap(y);
        const unsigned char* upper =
            source.data() + static_cast<std::size_t>(tap.first) * sourceLine;
        resampler.fitRow(upper, upper + sourceLine, tap.weight,
                         target.data() + static_cast<std::size_t>(y) * targetLine);
    }
}

std::vector<unsigned char> resampled(const std::vector<unsigned char>& source, PictureSize from,
                                     PictureSize to) {
    std::vector<unsigned char> target(static_cast<std::size_t>(to.width * to.height * 4));
    PictureResampler resampler;
    resampleWhole(resampler, source, from, target, to);
    return target;
}

// One byte per pixel of a picture whose four bytes are equal.
std::vector<unsigned char> grey(const std::vector<int>& levels) {
    std::vector<unsigned char> pixels;
    for (const int level : levels) {
        pixels.insert(pixels.end(), 4, static_cast<unsigned char>(level));
    }
    return pixels;
}

TEST(PictureResampler, BlendsNeighboursWithCentresAligned) {
    const struct {
        const char* name;
        std::vector<int> source;
        PictureSize from;
        PictureSize to;
        std::vector<int> expected;
    } cases[] = {
        // Doubled: the outer pixels keep their level, the inner ones lie a quarter between.
        {"WiderRow", {0, 255}, {2, 1}, {4, 1}, {0, 64, 191, 255}},
        {"TallerColumn", {0, 255}, {1, 2}, {1, 4}, {0, 64, 191, 255}},
        // Halved: each pixel is the mean of the two it covers.
        {"NarrowerRow", {0, 100, 200, 255}, {4, 1}, {2, 1}, {50, 228}},
        {"SameSize", {7, 9, 11}, {3, 1}, {3, 1}, {7, 9, 11}},
        {"OnePixelSource", {42}, {1, 1}, {3, 2}, {42, 42, 42, 42, 42, 42}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(resampled(grey(c.source), c.from, c.to), grey(c.expected)) << c.name;
    }
}

// Bilinear in floating point, as a reference for the fixed-point code.
double referenceAt(const std::vector<unsigned char>& source, PictureSize from, PictureSize to,
                   int x, int y, int byte) {
    const auto position = [](int i, int fromLength, int toLength) {
        return std::clamp((i + 0.5) * fromLength / toLength - 0.5, 0.0, fromLength - 1.0);
    };
    const double sx = position(x, from.width, to.width);
    const double sy = position(y, from.height, to.height);
    const int x0 = std::min(static_cast<int>(sx), from.width - 2);
    const int y0 = std::min(static_cast<int>(sy), from.height - 2);
    const auto at = [&](int px, int py) {
        return source[static_cast<std::size_t>((py * from.width + px) * 4 + byte)];
    };
    const double fx = sx - x0;
    const double fy = sy - y0;
    const double upper = at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx;
    const double lower = at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx;
    return upper * (1 - fy) + lower * fy;
}

TEST(PictureResampler, MatchesFloatingPointBilinearInEveryDirection) {
    // Positions and weights in 1/64: on this picture, whose neighbouring bytes differ by up to
    // 255, each direction may be off by 255 ÷ 128, and the rounding by one more.
    constexpr double kTolerance = 2 * 255.0 / 128 + 1;
    // Sizes as a tile meets them (just below a decoder scale) and odd ones, up and down.
    const struct {
        PictureSize from;
        PictureSize to;
    } cases[] = {{{40, 30}, {37, 27}},
                 {{37, 23}, {50, 31}},
                 {{64, 48}, {21, 40}},
                 {{160, 6}, {154, 5}},
                 {{160, 6}, {81, 5}}};
    for (const auto& c : cases) {
        std::vector<unsigned char> source(
            static_cast<std::size_t>(c.from.width * c.from.height * 4));
        for (std::size_t i = 0; i < source.size(); ++i) {
            source[i] = static_cast<unsigned char>((i * 37 + i / 13 * 101) % 256);
        }
        PictureResampler resampler;
        std::vector<unsigned char> target(static_cast<std::size_t>(c.to.width * c.to.height * 4));
        // Twice: the second picture of the same sizes reuses the tables.
        for (int round = 0; round < 2; ++round) {
            resampleWhole(resampler, source, c.from, target, c.to);
            for (int y = 0; y < c.to.height; ++y) {
                for (int x = 0; x < c.to.width; ++x) {
                    for (int byte = 0; byte < 4; ++byte) {
                        const auto actual =
                            target[static_cast<std::size_t>((y * c.to.width + x) * 4 + byte)];
                        ASSERT_NEAR(actual, referenceAt(source, c.from, c.to, x, y, byte),
                                    kTolerance)
                            << c.from.width << "x" << c.from.height << " to " << c.to.width << "x"
                            << c.to.height << " at " << x << "," << y << " byte " << byte;
                    }
                }
            }
        }
    }
}

// The vector paths serve the columns whose neighbours lie close enough together and the rest
// falls to narrower ones: every path, and every mix of them, gives the plain code's bytes, for
// pixels and for planes of samples (blocks of 32, a shorter last one, windows at the row's end).
TEST(PictureResampler, EveryInstructionSetGivesThePlainBytes) {
    using enum InstructionSet;
    const struct {
        PictureSize from;
        PictureSize to;
    } cases[] = {{{640, 3}, {616, 2}}, {{320, 2}, {308, 3}}, {{160, 2}, {81, 2}},
                 {{64, 2}, {21, 3}},   {{37, 2}, {50, 2}},   {{17, 1}, {16, 1}},
                 {{64, 2}, {96, 2}},   {{100, 2}, {33, 1}},  {{90, 2}, {200, 2}}};
    for (const int pixelBytes : {4, 1}) {
        for (const auto& c : cases) {
            std::vector<unsigned char> source(
                static_cast<std::size_t>(c.from.width * c.from.height * pixelBytes));
            for (std::size_t i = 0; i < source.size(); ++i) {
                source[i] = static_cast<unsigned char>((i * 151 + i / 7 * 29) % 256);
            }
            const auto withCeiling = [&](InstructionSet ceiling) {
                std::vector<unsigned char> target(
                    static_cast<std::size_t>(c.to.width * c.to.height * pixelBytes));
                PictureResampler resampler(ceiling);
                resampleWhole(resampler, source, c.from, target, c.to, pixelBytes);
                return target;
            };
            const std::vector<unsigned char> plain = withCeiling(Plain);
            for (const auto ceiling : {Ssse3, Avx2, Avx512}) {
                EXPECT_EQ(withCeiling(ceiling), plain)
                    << c.from.width << " to " << c.to.width << " up to set "
                    << static_cast<int>(ceiling) << ", " << pixelBytes << " bytes a pixel";
            }
        }
    }
}

// A plane of samples is resampled as each byte of a picture is.
TEST(PictureResampler, PlanesOfSamplesFitAsPicturesDo) {
    const PictureSize from{70, 5};
    const PictureSize to{45, 4};
    std::vector<unsigned char> plane(static_cast<std::size_t>(from.width * from.height));
    for (std::size_t i = 0; i < plane.size(); ++i) {
        plane[i] = static_cast<unsigned char>((i * 37 + i / 11 * 101) % 256);
    }
    std::vector<unsigned char> fittedPlane(static_cast<std::size_t>(to.width * to.height));
    PictureResampler resampler;
    resampleWhole(resampler, plane, from, fittedPlane, to, 1);
    std::vector<unsigned char> asPicture;
    for (const unsigned char sample : plane) {
        asPicture.insert(asPicture.end(), 4, sample);
    }
    std::vector<unsigned char> fittedPicture(fittedPlane.size() * 4);
    resampleWhole(resampler, asPicture, from, fittedPicture, to);
    for (std::size_t i = 0; i < fittedPlane.size(); ++i) {
        ASSERT_EQ(fittedPlane[i], fittedPicture[i * 4]) << "sample " << i;
    }
}

}  // namespace
}  // namespace krt
