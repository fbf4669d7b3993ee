#include "video/frame_decoder.h"

#include <algorithm>

#include <turbojpeg.h>

namespace krt {
namespace {

bool isValid(PictureSize size) {
    return size.width > 0 && size.height > 0;
}

long pixelCount(PictureSize size) {
    return long{size.width} * long{size.height};
}

std::size_t byteCount(PictureSize size) {
    return static_cast<std::size_t>(pixelCount(size)) * DecodedPicture::kBytesPerPixel;
}

std::vector<ScalingFactor> availableFactors() {
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    std::vector<ScalingFactor> result;
    for (int i = 0; factors != nullptr && i < count; ++i) {
        result.push_back({factors[i].num, factors[i].denom});
    }
    if (result.empty()) {
        result.push_back({1, 1});
    }
    return result;
}

}  // namespace

PictureSize scaledSize(PictureSize source, ScalingFactor factor) {
    const auto scale = [factor](int dimension) {
        return (dimension * factor.num + factor.denom - 1) / factor.denom;
    };
    return {scale(source.width), scale(source.height)};
}

ScalingFactor chooseScalingFactor(PictureSize source, PictureSize target,
                                  std::span<const ScalingFactor> factors) {
    std::optional<ScalingFactor> smallestReaching;
    ScalingFactor largest = factors.empty() ? ScalingFactor{} : factors.front();
    for (const ScalingFactor factor : factors) {
        const PictureSize size = scaledSize(source, factor);
        if (pixelCount(size) > pixelCount(scaledSize(source, largest))) {
            largest = factor;
        }
        const bool reaches = size.width >= target.width && size.height >= target.height;
        if (reaches && (!smallestReaching ||
                        pixelCount(size) < pixelCount(scaledSize(source, *smallestReaching)))) {
            smallestReaching = factor;
        }
    }
    return smallestReaching.value_or(largest);
}

void FrameDecoder::HandleDeleter::operator()(void* handle) const {
    tjDestroy(handle);
}

FrameDecoder::FrameDecoder() : m_handle(tjInitDecompress()), m_factors(availableFactors()) {}

std::optional<PictureSize> FrameDecoder::readSize(std::span<const unsigned char> jpeg) {
    if (!m_handle || jpeg.empty()) {
        return std::nullopt;
    }
    PictureSize size;
    int subsampling = 0;
    int colourspace = 0;
    if (tjDecompressHeader3(m_handle.get(), jpeg.data(), jpeg.size(), &size.width, &size.height,
                            &subsampling, &colourspace) != 0 ||
        !isValid(size)) {
        return std::nullopt;
    }
    return size;
}

bool FrameDecoder::decode(std::span<const unsigned char> jpeg, PictureSize target,
                          DecodedPicture& picture) {
    const std::optional<PictureSize> source = readSize(jpeg);
    if (!source || !isValid(target) || pixelCount(target) > kMaxDecodedPixels ||
        !decodeScaled(jpeg, *source, target, picture)) {
        ++m_failedFrames;
        return false;
    }
    return true;
}

bool FrameDecoder::decodeScaled(std::span<const unsigned char> jpeg, PictureSize source,
                                PictureSize target, DecodedPicture& picture) {
    const PictureSize scaled = scaledSize(source, chooseScalingFactor(source, target, m_factors));
    if (pixelCount(scaled) > kMaxDecodedPixels) {
        return false;
    }
    // Decoding into scratch first leaves the picture as it was when the frame is broken.
    m_scaled.resize(byteCount(scaled));
    const int result = tjDecompress2(m_handle.get(), jpeg.data(), jpeg.size(), m_scaled.data(),
                                     scaled.width, scaled.width * DecodedPicture::kBytesPerPixel,
                                     scaled.height, TJPF_BGRX, TJFLAG_BOTTOMUP);
    // A warning (a damaged but complete picture) still yields a picture to draw.
    if (result != 0 && tjGetErrorCode(m_handle.get()) != TJERR_WARNING) {
        return false;
    }
    if (scaled == target) {
        m_scaled.swap(picture.pixels);  // no copy: the two buffers trade places
    } else {
        picture.pixels.resize(byteCount(target));
        m_resampler.resample(m_scaled, scaled, picture.pixels, target);
    }
    picture.size = target;
    return true;
}

}  // namespace krt
