#include "video/frame_decoder.h"

#include <algorithm>
#include <cstdint>

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
                            &subsampling, &colourspace) != 0) {
        renewHandle();
        return std::nullopt;
    }
    return isValid(size) ? std::optional(size) : std::nullopt;
}

bool FrameDecoder::decode(std::span<const unsigned char> jpeg, PictureSize target,
                          DecodedPicture& picture) {
    const std::optional<PictureSize> source = readSize(jpeg);
    if (!source || !isValid(target) || pixelCount(target) > kMaxDecodedPixels) {
        ++m_failedFrames;
        return false;
    }
    if (!decodeScaled(jpeg, *source, target, picture)) {
        ++m_failedFrames;
        renewHandle();
        return false;
    }
    return true;
}

// A frame that fails can leave the decoder in a state where the next frame's header reads
// wrongly (a good one fails, a broken one passes): each failure is followed by a fresh one.
void FrameDecoder::renewHandle() {
    m_handle.reset(tjInitDecompress());
}

bool FrameDecoder::decodeScaled(std::span<const unsigned char> jpeg, PictureSize source,
                                PictureSize target, DecodedPicture& picture) {
    const ScalingFactor factor = chooseScalingFactor(source, target, m_factors);
    const PictureSize scaled = scaledSize(source, factor);
    if (pixelCount(scaled) > kMaxDecodedPixels) {
        return false;
    }
    const bool decoded = scaled == target ? decodeExactly(jpeg, target, picture)
                                          : decodeFitted(jpeg, factor, scaled, target, picture);
    if (decoded) {
        m_next.swap(picture.pixels);  // no copy: the two buffers trade places
        picture.size = target;
    }
    return decoded;
}

bool FrameDecoder::decodeExactly(std::span<const unsigned char> jpeg, PictureSize size,
                                 DecodedPicture& picture) {
    m_next.resize(byteCount(size));
    const int result =
        tjDecompress2(m_handle.get(), jpeg.data(), jpeg.size(), m_next.data(), size.width,
                      picture.kBytesPerPixel * size.width, size.height, TJPF_BGRX, TJFLAG_BOTTOMUP);
    // A warning (a damaged but complete picture) still yields a picture to draw.
    return result == 0 || tjGetErrorCode(m_handle.get()) == TJERR_WARNING;
}

bool FrameDecoder::decodeFitted(std::span<const unsigned char> jpeg, ScalingFactor factor,
                                PictureSize scaled, PictureSize target, DecodedPicture& picture) {
    // A target row reads at most two source rows, and never one older than the last three.
    constexpr int kRowSlots = 3;
    if (!m_rowReader.start(jpeg, factor, scaled)) {
        return false;
    }
    m_resampler.prepare(scaled, target);
    const auto sourceLine = static_cast<std::size_t>(scaled.width) * picture.kBytesPerPixel;
    const auto targetLine = static_cast<std::size_t>(target.width) * picture.kBytesPerPixel;
    // The decoder writes rows that start on a 32-byte boundary with stores that bypass the
    // cache, so that the resampler would read them back from memory: every slot starts 16 bytes
    // past a cache line instead.
    constexpr std::size_t kCacheLine = 64;
    constexpr std::size_t kPastBoundary = 16;
    const std::size_t slotBytes = (sourceLine + kCacheLine - 1) / kCacheLine * kCacheLine;
    m_sourceRows.resize(kRowSlots * slotBytes + kCacheLine + kPastBoundary);
    const auto address = reinterpret_cast<std::uintptr_t>(m_sourceRows.data());
    unsigned char* const firstSlot =
        m_sourceRows.data() + (kCacheLine - address % kCacheLine) % kCacheLine + kPastBoundary;
    m_next.resize(byteCount(target));
    const auto slot = [&](int row) {
        return firstSlot + static_cast<std::size_t>(row % kRowSlots) * slotBytes;
    };
    int rowsRead = 0;
    for (int y = 0; y < target.height; ++y) {
        const PictureResampler::Tap tap = m_resampler.rowTap(y);
        for (const int lastRead = tap.first + (tap.weight > 0 ? 1 : 0); rowsRead <= lastRead;
             ++rowsRead) {
            if (!m_rowReader.readRow(slot(rowsRead))) {
                return false;
            }
        }
        // Stored bottom-up: the picture's top row is the buffer's last.
        m_resampler.fitRow(
            slot(tap.first), slot(tap.first + 1), tap.weight,
            m_next.data() + static_cast<std::size_t>(target.height - 1 - y) * targetLine);
    }
    m_rowReader.finish();
    return true;
}

}  // namespace krt
