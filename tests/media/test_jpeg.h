#pragma once

#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

namespace krt::test {

using Colour = std::array<std::uint8_t, 3>;  // red, green, blue

inline constexpr Colour kRed{255, 0, 0};
inline constexpr Colour kBlue{0, 0, 255};

// Pixels in red, green, blue order, row after row, encoded here with 2 × 2 subsampling unless
// told otherwise.
inline std::vector<unsigned char> encodedJpeg(const std::vector<unsigned char>& rgb, int width,
                                              int height, int quality = 90,
                                              int subsampling = TJSAMP_420) {
    const std::unique_ptr<void, int (*)(tjhandle)> encoder(tjInitCompress(), tjDestroy);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (tjCompress2(encoder.get(), rgb.data(), width, width * 3, height, TJPF_RGB, &jpeg, &size,
                    subsampling, quality, 0) != 0) {
        throw std::runtime_error(tjGetErrorStr2(encoder.get()));
    }
    std::vector<unsigned char> bytes(jpeg, jpeg + size);
    tjFree(jpeg);
    return bytes;
}

// A JPEG of the given size whose top half is `top` and bottom half `bottom`.
inline std::vector<unsigned char> twoBandJpeg(int width, int height, Colour top, Colour bottom,
                                              int quality = 90) {
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width * height * 3));
    for (int y = 0; y < height; ++y) {
        const Colour& colour = y < height / 2 ? top : bottom;
        for (int x = 0; x < width; ++x) {
            const auto offset = static_cast<std::size_t>((y * width + x) * 3);
            std::copy(colour.begin(), colour.end(), rgb.begin() + static_cast<long>(offset));
        }
    }
    return encodedJpeg(rgb, width, height, quality);
}

// A picture of the given size in which no two rows and no two columns are alike, as red, green,
// blue.
inline std::vector<unsigned char> detailedPicture(int width, int height) {
    std::vector<unsigned char> rgb;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            rgb.push_back(static_cast<unsigned char>(x * 255 / width));
            rgb.push_back(static_cast<unsigned char>(y * 255 / height));
            rgb.push_back(static_cast<unsigned char>((x * 7 + y * 13) % 256));
        }
    }
    return rgb;
}

inline std::vector<unsigned char> detailedJpeg(int width, int height,
                                               int subsampling = TJSAMP_420) {
    return encodedJpeg(detailedPicture(width, height), width, height, 90, subsampling);
}

// Red, green, blue pictures like the ones a stream brings. Flat: sky, ground and plain boxes,
// as the simulator paints. Camera-like: the same with sensor grain, windows, a fence of 2-pixel
// stripes, thin slanted wires and signs of small glyphs; about 70 KB at 640 × 480, quality 80.
enum class PictureKind { Flat, CameraLike };

inline std::vector<unsigned char> streamPicture(PictureKind kind, int width, int height) {
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width * height * 3));
    std::uint32_t noise = 12345;
    const auto grain = [&noise] {
        noise = noise * 1664525U + 1013904223U;
        return static_cast<int>(noise >> 24) % 8 - 4;
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::array<int, 3> colour =
                y < height / 3 ? std::array{70, 130, 200} : std::array{60, 110, 50};
            const bool box = x % 160 > 20 && x % 160 < 130 && y > height / 6 && y < height / 2;
            if (box) {
                colour = {150 + x / 160 * 10, 120, 100};
            }
            if (kind == PictureKind::CameraLike) {
                const bool window = box && x % 14 >= 4 && y % 16 >= 4 && y % 16 < 13;
                const bool fence = y > height / 2 && y < height / 2 + 30 && x / 2 % 2 == 0;
                const bool wire = (x + 2 * y) % 211 == 0 || (3 * x + height - y) % 263 == 0;
                const bool sign = y % 160 > 131 && y % 160 < 150 && x % 213 < 120;
                // Glyphs of 4 × 6 pixels on a grid of 6 × 9, their strokes from where they are.
                const bool stroke = x % 6 < 4 && y % 9 < 6 &&
                                    ((x / 6 * 7 + y / 9 * 3) >> (x % 6 + y % 9 % 3)) % 2 != 0;
                const int sensor = grain();
                for (std::size_t c = 0; c < 3; ++c) {
                    colour[c] = window ? std::array{40, 50, 70}[c] : colour[c];
                    colour[c] += sensor + (fence ? 60 : 0) - (wire ? 90 : 0);
                    colour[c] = sign ? (stroke ? 20 : 235) : colour[c];
                }
            }
            for (std::size_t c = 0; c < 3; ++c) {
                rgb[static_cast<std::size_t>((y * width + x) * 3) + c] =
                    static_cast<unsigned char>(std::clamp(colour[c], 0, 255));
            }
        }
    }
    return rgb;
}

}  // namespace krt::test
