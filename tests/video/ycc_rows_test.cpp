#include "video/ycc_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace krt {
namespace {

// Samples with no pattern in their low bits, which the rounding depends on.
std::vector<unsigned char> samples(int count, unsigned seed) {
    std::vector<unsigned char> row(static_cast<std::size_t>(count));
    unsigned state = seed * 2654435761U + 1;
    for (unsigned char& sample : row) {
        state = state * 1664525U + 1013904223U;
        sample = static_cast<unsigned char>(state >> 24);
    }
    return row;
}

// Widths below, at and beyond vector steps of 16 and 32, and the chroma of tiles as they come.
constexpr std::array kWidths{1, 2, 5, 15, 16, 17, 31, 32, 33, 64, 100, 154, 308};

TEST(YccRows, EveryInstructionSetGivesThePlainBytes) {
    for (const int width : kWidths) {
        const auto near = samples(width, 1);
        const auto far = samples(width, 2);
        const auto luma = samples(width, 3);
        const auto red = samples(width, 4);
        const auto byInstructionSet = [&](InstructionSet ceiling) {
            YccRows rows(ceiling);
            std::vector<unsigned char> upsampled(2 * near.size());
            rows.upsampleChroma(near.data(), far.data(), width, upsampled.data());
            std::vector<unsigned char> pixels(luma.size() * 4);
            rows.convert(luma.data(), near.data(), red.data(), width, pixels.data());
            upsampled.insert(upsampled.end(), pixels.begin(), pixels.end());
            return upsampled;
        };
        const auto plain = byInstructionSet(InstructionSet::Plain);
        for (const InstructionSet ceiling : {InstructionSet::Avx2, InstructionSet::Avx512}) {
            EXPECT_EQ(byInstructionSet(ceiling), plain)
                << "width " << width << " up to set " << static_cast<int>(ceiling);
        }
    }
}

// Against the JFIF equations in floating point: within one level, clamped, and opaque.
TEST(YccRows, ConvertsByTheJfifEquations) {
    std::vector<unsigned char> luma;
    std::vector<unsigned char> blue;
    std::vector<unsigned char> red;
    for (const int y : {0, 16, 128, 235, 255}) {
        for (const int cb : {0, 64, 128, 200, 255}) {
            for (const int cr : {0, 90, 128, 255}) {
                luma.push_back(static_cast<unsigned char>(y));
                blue.push_back(static_cast<unsigned char>(cb));
                red.push_back(static_cast<unsigned char>(cr));
            }
        }
    }
    std::vector<unsigned char> pixels(luma.size() * 4);
    YccRows rows;
    rows.convert(luma.data(), blue.data(), red.data(), static_cast<int>(luma.size()),
                 pixels.data());
    for (std::size_t i = 0; i < luma.size(); ++i) {
        const double cb = blue[i] - 128.0;
        const double cr = red[i] - 128.0;
        const auto level = [](double value) { return std::clamp(value, 0.0, 255.0); };
        const std::array<double, 3> expected{level(luma[i] + 1.772 * cb),
                                             level(luma[i] - 0.344136 * cb - 0.714136 * cr),
                                             level(luma[i] + 1.402 * cr)};
        for (std::size_t channel = 0; channel < 3; ++channel) {
            EXPECT_NEAR(pixels[i * 4 + channel], expected[channel], 1.0)
                << "pixel " << i << " channel " << channel;
        }
        EXPECT_EQ(pixels[i * 4 + 3], 255) << "pixel " << i;
    }
}

}  // namespace
}  // namespace krt
