#pragma once

#include <turbojpeg.h>

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

}  // namespace krt::test
