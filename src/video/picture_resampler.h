#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

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

// Resizes pictures of 4-byte pixels by bilinear interpolation in fixed point (positions and
// weights in 1/64), pixel centres aligned, a target row at a time from the source rows it names.
// Uses AVX-512, AVX2 or SSSE3 where the processor has them. It keeps its tables and its row buffer
// from picture to picture while the sizes stay. Not for use by two threads at once.
class PictureResampler {
  public:
    // The widest instructions it may use; the processor may offer fewer. Every choice gives
    // the same bytes.
    enum class InstructionSet { Plain, Ssse3, Avx2, Avx512 };

    explicit PictureResampler(InstructionSet ceiling = InstructionSet::Avx512);

    // Where one output row or column reads: the first of its two neighbours and the weight
    // (0 to 64) of the second, which is read only when the weight is above 0.
    struct Tap {
        int first = 0;
        int weight = 0;
    };

    // Row by row, for a source that arrives a row at a time: prepare for the sizes, then fit
    // each target row from the source rows that its tap names.
    void prepare(PictureSize sourceSize, PictureSize targetSize);
    Tap rowTap(int y) const { return m_rows[static_cast<std::size_t>(y)]; }
    void fitRow(const unsigned char* upper, const unsigned char* lower, int weight,
                unsigned char* out);

  private:
    void prepareColumnPatterns();
    void prepareOctetPatterns();
    void blendRows(const unsigned char* upper, const unsigned char* lower, int weight,
                   std::size_t bytes);
    void blendColumns(const unsigned char* row, unsigned char* out) const;

    PictureSize m_sourceSize;
    PictureSize m_targetSize;
    std::vector<Tap> m_rows;
    // Per output pixel, the first of its two neighbours, and the weights of both (first in the
    // low byte) repeated for its 4 bytes.
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
    InstructionSet m_instructionSet;
    CacheLineVector<unsigned char> m_blendedRow;
};

}  // namespace krt
