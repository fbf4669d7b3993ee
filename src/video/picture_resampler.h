#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "video/instruction_set.h"
#include "video/picture_size.h"

namespace krt {

// Allocates on whole cache lines, so that a wide load of 64 bytes from a multiple of 64 is never
// split over two lines.
template <typename T>
struct CacheLineAllocator {
    using value_type = T;
    static constexpr std::align_val_t kAlignment{64};

    CacheLineAllocator() = default;
    template <typename U>
    explicit CacheLineAllocator(const CacheLineAllocator<U>& /*other*/) {}
    T* allocate(std::size_t count) {
        return static_cast<T*>(::operator new(count * sizeof(T), kAlignment));
    }
    void deallocate(T* data, std::size_t /*count*/) { ::operator delete(data, kAlignment); }
    bool operator==(const CacheLineAllocator&) const = default;
};

template <typename T>
using CacheLineVector = std::vector<T, CacheLineAllocator<T>>;

// Resizes pictures of 4-byte pixels, or planes of 1-byte samples, by bilinear interpolation in
// fixed point (positions and weights in 1/64), pixel centres aligned, a target row at a time from
// the source rows it names. Uses AVX-512, AVX2 or SSSE3 where the processor has them (planes:
// AVX-512 or AVX2). It keeps its tables and its row buffer from picture to picture while the sizes
// stay. Not for use by two threads at once.
class PictureResampler {
  public:
    explicit PictureResampler(InstructionSet ceiling = InstructionSet::Avx512);

    // Where one output row or column reads: the first of its two neighbours and the weight
    // (0 to 64) of the second, which is read only when the weight is above 0.
    struct Tap {
        int first = 0;
        int weight = 0;
    };

    // Row by row, for a source that arrives a row at a time: prepare for the sizes and the
    // bytes per pixel (4 or 1), then fit each target row from the source rows that its tap names.
    void prepare(PictureSize sourceSize, PictureSize targetSize, int pixelBytes = 4);
    Tap rowTap(int y) const { return m_rows[static_cast<std::size_t>(y)]; }
    void fitRow(const unsigned char* upper, const unsigned char* lower, int weight,
                unsigned char* out);

  private:
    void prepareColumnPatterns();
    void prepareOctetPatterns();
    void prepareSampleBlocks(int block, int window);
    void blendRows(const unsigned char* upper, const unsigned char* lower, int weight,
                   std::size_t bytes);
    void blendColumns(const unsigned char* row, unsigned char* out) const;
    int blendVectorColumns(const unsigned char* row, unsigned char* out) const;
    std::size_t rowBytes(int pixels) const {
        return static_cast<std::size_t>(pixels) * m_pixelBytes;
    }

    PictureSize m_sourceSize;
    PictureSize m_targetSize;
    std::size_t m_pixelBytes = 4;
    std::vector<Tap> m_rows;
    // Per output pixel, the first of its two neighbours, and the weights of both (first in the
    // low byte) repeated for each of its bytes; padded to whole blocks of samples.
    std::vector<int> m_columnFirsts;
    CacheLineVector<std::uint16_t> m_columnWeights;
    // Per output pixel, 8 bytes of the shuffle that sorts its pair's neighbours by channel;
    // the first m_quadColumns pixels may be blended four at a time.
    CacheLineVector<unsigned char> m_columnPatterns;
    int m_quadColumns = 0;
    // The same per eight output pixels, for byte permutations over sixteen source pixels; the
    // first m_octetColumns pixels may be blended sixteen at a time.
    CacheLineVector<unsigned char> m_octetPatterns;
    int m_octetColumns = 0;
    // Planes of samples, in blocks of output samples for the widest vectors used: where each
    // block's source window starts, and each sample's pair within it; the first m_blockColumns
    // samples are served.
    std::vector<int> m_blockStarts;
    CacheLineVector<unsigned char> m_blockPatterns;
    int m_blockColumns = 0;
    InstructionSet m_instructionSet;
    CacheLineVector<unsigned char> m_blendedRow;
};

}  // namespace krt
