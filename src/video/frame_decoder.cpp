#include "video/frame_decoder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

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

FrameDecoder::FrameDecoder(InstructionSet ceiling)
    : m_factors(JpegRowReader::scalingFactors()),
      m_resampler(ceiling),
      m_planesFaster(usableInstructionSet(ceiling) >= InstructionSet::Avx2),
      m_planarFit(ceiling) {}

std::optional<PictureSize> FrameDecoder::readSize(std::span<const unsigned char> jpeg) {
    const std::optional<PictureSize> size = m_rowReader.start(jpeg);
    m_rowReader.finish();
    return size && isValid(*size) ? size : std::nullopt;
}

bool FrameDecoder::decode(std::span<const unsigned char> jpeg, PictureSize target,
                          DecodedPicture& picture) {
    const std::optional<PictureSize> source = m_rowReader.start(jpeg);
    if (!source || !isValid(*source) || !isValid(target) ||
        pixelCount(target) > kMaxDecodedPixels || !decodeScaled(*source, target, picture)) {
        m_rowReader.finish();
        ++m_failedFrames;
        return false;
    }
    return true;
}

bool FrameDecoder::decodeScaled(PictureSize source, PictureSize target, DecodedPicture& picture) {
    const ScalingFactor factor = chooseScalingFactor(source, target, m_factors);
    const PictureSize scaled = scaledSize(source, factor);
    if (pixelCount(scaled) > kMaxDecodedPixels) {
        return false;
    }
    m_next.resize(byteCount(target));
    bool decoded = false;
    if (scaled == target) {
        decoded = decodeExactly(factor, target);
    } else if (fitsPlanes(factor)) {
        decoded = m_planarFit.decode(m_rowReader, target, m_next.data());
    } else {
        decoded = decodeFitted(factor, scaled, target);
    }
    if (decoded) {
        m_next.swap(picture.pixels);  // no copy: the two buffers trade places
        picture.size = target;
    }
    return decoded;
}

namespace {

// The rows that one read asks for. Two, a row group of 2 × 2 subsampled frames, measured no
// faster, and one keeps the ring of the fitted rows smallest.
constexpr int kRowsPerRead = 1;

std::size_t lineBytes(PictureSize size) {
    return static_cast<std::size_t>(size.width) * DecodedPicture::kBytesPerPixel;
}

// The decoder writes a row that starts on a 32-byte boundary with stores that bypass the cache:
// slower to write, and read back from memory by whoever uses the row next. Rows that are
// decoded to be used at once go to slots that start 16 bytes past a cache line instead.
constexpr std::size_t kBypassAlignment = 32;
constexpr std::size_t kCacheLine = 64;

unsigned char* cachedSlots(std::vector<unsigned char>& storage, std::size_t slotBytes, int slots) {
    constexpr std::size_t kPastBoundary = 16;
    storage.resize(static_cast<std::size_t>(slots) * slotBytes + kCacheLine + kPastBoundary);
    const auto address = reinterpret_cast<std::uintptr_t>(storage.data());
    return storage.data() + (kCacheLine - address % kCacheLine) % kCacheLine + kPastBoundary;
}

std::size_t slotBytes(PictureSize rowSize) {
    return (lineBytes(rowSize) + kCacheLine - 1) / kCacheLine * kCacheLine;
}

// Decoded rows straight into a picture, which is stored bottom-up; a row of the picture that
// the decoder would write past the cache is decoded into a spare slot and copied.
class PictureRows final : public JpegRowSink {
  public:
    PictureRows(unsigned char* pixels, PictureSize size, std::vector<unsigned char>& spare)
        : m_pixels(pixels),
          m_size(size),
          m_slotBytes(slotBytes(size)),
          m_spare(cachedSlots(spare, m_slotBytes, kRowsPerRead)) {}
    int rowsAhead() const override { return kRowsPerRead; }
    unsigned char* rowAddress(int row) override {
        unsigned char* line =
            m_pixels + static_cast<std::size_t>(m_size.height - 1 - row) * lineBytes(m_size);
        if (reinterpret_cast<std::uintptr_t>(line) % kBypassAlignment != 0) {
            return line;
        }
        const auto slot = static_cast<std::size_t>(row % kRowsPerRead);
        m_copies[slot] = line;
        return m_spare + slot * m_slotBytes;
    }
    void rowsDecoded(int /*count*/) override {
        for (std::size_t slot = 0; slot < m_copies.size(); ++slot) {
            if (m_copies[slot] != nullptr) {
                std::memcpy(m_copies[slot], m_spare + slot * m_slotBytes, lineBytes(m_size));
                m_copies[slot] = nullptr;
            }
        }
    }

  private:
    unsigned char* m_pixels;
    PictureSize m_size;
    std::size_t m_slotBytes;
    unsigned char* m_spare;
    std::array<unsigned char*, kRowsPerRead> m_copies{};
};

// Decoded rows into a small ring; each target row is fitted as soon as the rows it reads are
// there, so the decoded picture never exists whole and its rows are read while cached.
class FittedRows final : public JpegRowSink {
  public:
    // A pending target row reads no row older than the last reported one's predecessor, and a
    // read adds kRowsPerRead rows after it.
    static constexpr int kSlots = kRowsPerRead + 1;

    FittedRows(PictureResampler& resampler, std::vector<unsigned char>& ring, PictureSize scaled,
               unsigned char* target, PictureSize targetSize)
        : m_resampler(resampler),
          m_target(target),
          m_targetSize(targetSize),
          m_slotBytes(slotBytes(scaled)),
          m_firstSlot(cachedSlots(ring, m_slotBytes, kSlots)) {
        resampler.prepare(scaled, targetSize);
    }
    int rowsAhead() const override { return kRowsPerRead; }
    unsigned char* rowAddress(int row) override {
        return m_firstSlot + static_cast<std::size_t>(row % kSlots) * m_slotBytes;
    }
    void rowsDecoded(int count) override {
        for (; m_nextRow < m_targetSize.height; ++m_nextRow) {
            const PictureResampler::Tap tap = m_resampler.rowTap(m_nextRow);
            if (tap.first + (tap.weight > 0 ? 1 : 0) >= count) {
                return;
            }
            // Stored bottom-up: the picture's top row is the buffer's last.
            const auto line = static_cast<std::size_t>(m_targetSize.height - 1 - m_nextRow);
            m_resampler.fitRow(rowAddress(tap.first), rowAddress(tap.first + 1), tap.weight,
                               m_target + line * lineBytes(m_targetSize));
        }
    }

  private:
    PictureResampler& m_resampler;
    unsigned char* m_target;
    PictureSize m_targetSize;
    std::size_t m_slotBytes;
    unsigned char* m_firstSlot;
    int m_nextRow = 0;
};

}  // namespace

bool FrameDecoder::decodeExactly(ScalingFactor factor, PictureSize size) {
    PictureRows rows(m_next.data(), size, m_spareRows);
    return m_rowReader.decode(factor, size, rows);
}

bool FrameDecoder::fitsPlanes(ScalingFactor factor) {
    return m_planesFaster && m_rowReader.planeLayout(factor).has_value();
}

bool FrameDecoder::decodeFitted(ScalingFactor factor, PictureSize scaled, PictureSize target) {
    FittedRows rows(m_resampler, m_spareRows, scaled, m_next.data(), target);
    return m_rowReader.decode(factor, scaled, rows);
}

}  // namespace krt
