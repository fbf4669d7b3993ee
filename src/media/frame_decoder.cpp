#include "media/frame_decoder.h"

#include <libyuv/scale_argb.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstddef>
#include <new>

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

std::vector<ScalingFactor> decoderFactors() {
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    std::vector<ScalingFactor> result;
    for (int i = 0; factors != nullptr && i < count; ++i) {
        result.push_back({factors[i].num, factors[i].denom});
    }
    return result;
}

std::vector<ScalingFactor> notEnlarging(std::vector<ScalingFactor> factors) {
    std::erase_if(factors, [](ScalingFactor factor) { return factor.num > factor.denom; });
    return factors;
}

tjhandle newDecompressor() {
    tjhandle handle = tjInitDecompress();
    if (handle == nullptr) {
        throw std::bad_alloc();
    }
    return handle;
}

// Bottom-up rows, as the picture is stored. A progressive frame with a hostile number of scans
// fails instead of taking a long time.
constexpr int kDecodeFlags = TJFLAG_BOTTOMUP | TJFLAG_LIMITSCANS;

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

FrameDecoder::FrameDecoder()
    : m_decompressor(newDecompressor(), tjDestroy),
      m_factors(decoderFactors()),
      m_partFactors(notEnlarging(m_factors)) {}

std::optional<PictureSize> FrameDecoder::readSize(std::span<const unsigned char> jpeg) {
    PictureSize size;
    int subsampling = 0;
    int colourspace = 0;
    // The size is given once the header has been read, also when the call then fails over a
    // warning or a sampling that it has no name for, which the decode itself may well manage.
    tjDecompressHeader3(m_decompressor.get(), jpeg.data(), jpeg.size(), &size.width, &size.height,
                        &subsampling, &colourspace);
    if (!isValid(size)) {
        // A header that fails to read leaves the decompressor within it, where the next frame's
        // header would fail too.
        m_decompressor.reset(newDecompressor());
        return std::nullopt;
    }
    return size;
}

bool FrameDecoder::decode(std::span<const unsigned char> jpeg, PictureSize target,
                          DecodedPicture& picture, const ZoomRegion& part) {
    const std::optional<PictureSize> source = readSize(jpeg);
    if (!source || pixelCount(*source) > kMaxSourcePixels || !isValid(target) ||
        pixelCount(target) > kMaxDecodedPixels ||
        !(part == ZoomRegion{} ? decodeRegion(jpeg, *source, {0, 0, source->width, source->height},
                                              target, m_factors)
                               : decodePart(jpeg, *source, part, target))) {
        ++m_failedFrames;
        return false;
    }
    m_next.swap(picture.pixels);  // no copy: the two buffers trade places
    picture.size = target;
    picture.source = *source;
    return true;
}

bool FrameDecoder::decodePart(std::span<const unsigned char> jpeg, PictureSize source,
                              const ZoomRegion& part, PictureSize target) {
    // The part as drawn lies upside down in the frame, as the whole picture does.
    const Rect stored = upsideDown(cropOf(part, source), source.height);
    const std::optional<CroppedJpeg> cut = m_crop.crop(jpeg, stored);
    // A frame that cannot be cut is decoded whole, as it would be unzoomed.
    return cut ? decodeRegion(cut->jpeg, cut->size, cut->part, target, m_partFactors)
               : decodeRegion(jpeg, source, stored, target, m_partFactors);
}

bool FrameDecoder::decodeRegion(std::span<const unsigned char> jpeg, PictureSize size,
                                const Rect& region, PictureSize target,
                                std::span<const ScalingFactor> factors) {
    const ScalingFactor factor =
        chooseScalingFactor({region.width, region.height}, target, factors);
    const PictureSize scaled = scaledSize(size, factor);
    if (pixelCount(scaled) > kMaxDecodedPixels) {
        return false;
    }
    m_next.resize(byteCount(target));
    const int targetLine = target.width * DecodedPicture::kBytesPerPixel;
    // The region at that scale, its edges outwards to whole pixels, its rows counted from the
    // bottom as the decoded picture keeps them.
    const auto scale = [factor](int at, int limit) {
        return std::min((at * factor.num + factor.denom - 1) / factor.denom, limit);
    };
    const int left = region.x * factor.num / factor.denom;
    const int top = region.y * factor.num / factor.denom;
    const Rect at = upsideDown({left, top, scale(region.x + region.width, scaled.width) - left,
                                scale(region.y + region.height, scaled.height) - top},
                               scaled.height);
    if (scaled == target && at == Rect{0, 0, target.width, target.height}) {
        return decodeTo(jpeg, target, m_next.data(), targetLine);
    }
    m_scaled.resize(byteCount(scaled));
    const int scaledLine = scaled.width * DecodedPicture::kBytesPerPixel;
    // Both pictures bottom-up: the scaling keeps the order of the rows.
    return decodeTo(jpeg, scaled, m_scaled.data(), scaledLine) &&
           libyuv::ARGBScale(m_scaled.data() + static_cast<std::ptrdiff_t>(at.y) * scaledLine +
                                 static_cast<std::ptrdiff_t>(at.x) * DecodedPicture::kBytesPerPixel,
                             scaledLine, at.width, at.height, m_next.data(), targetLine,
                             target.width, target.height, libyuv::kFilterBilinear) == 0;
}

bool FrameDecoder::decodeTo(std::span<const unsigned char> jpeg, PictureSize size,
                            unsigned char* pixels, int bytesPerLine) {
    // A damaged frame that the library decodes past its faults is shown: it reports them as a
    // warning, apart from the faults that end a frame.
    return tjDecompress2(m_decompressor.get(), jpeg.data(), jpeg.size(), pixels, size.width,
                         bytesPerLine, size.height, TJPF_BGRX, kDecodeFlags) == 0 ||
           tjGetErrorCode(m_decompressor.get()) == TJERR_WARNING;
}

}  // namespace krt
