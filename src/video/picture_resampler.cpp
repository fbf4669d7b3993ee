#include "video/picture_resampler.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KRT_RESAMPLE_X86 1
#endif

namespace krt {
namespace {

constexpr int kPixel = 4;
// Weight of a whole neighbour: 6 bits, so that a weight fits the signed byte that the
// multiply-and-add instruction takes and a weighted pair fits 16 bits.
constexpr int kWeightBits = 6;
constexpr int kOne = 1 << kWeightBits;
constexpr int kHalf = kOne / 2;

// Where pixel `index` of a row starts.
std::size_t pixelOffset(int index) {
    return static_cast<std::size_t>(index) * kPixel;
}

// Output position i of `to` positions mapped onto `from` positions, centres aligned, as the
// first of the two neighbours read and the weight of the second. The last neighbour pair is
// always inside the source, so that both are read without a bounds test.
template <typename Tap>
Tap tapFor(int i, int from, int to) {
    if (from < 2) {
        return {0, 0};
    }
    // (i + 0.5) × from ÷ to − 0.5 in fixed point, rounded; the left edge clamps to 0.
    const long long twiceToTimesPosition =
        (2LL * i + 1) * from * kOne - static_cast<long long>(to) * kOne;
    const long long clamped = std::max((twiceToTimesPosition + to) / (2LL * to), 0LL);
    const int first = static_cast<int>(clamped / kOne);
    if (first >= from - 1) {
        return {from - 2, kOne};
    }
    return {first, static_cast<int>(clamped % kOne)};
}

unsigned char blend(unsigned a, unsigned b, int weight) {
    return static_cast<unsigned char>(
        (a * static_cast<unsigned>(kOne - weight) + b * static_cast<unsigned>(weight) + kHalf) >>
        kWeightBits);
}

// Both weights of a neighbour pair in the two bytes of a 16-bit lane, first neighbour low.
std::uint16_t weightPair(int weight) {
    return static_cast<std::uint16_t>(weight << 8 | (kOne - weight));
}

#if KRT_RESAMPLE_X86
const bool kHaveSsse3 = __builtin_cpu_supports("ssse3");
const bool kHaveAvx2 = __builtin_cpu_supports("avx2");

// Rounds the 16-bit weighted sums back to bytes.
__attribute__((target("ssse3"), always_inline)) inline __m128i toBytes(__m128i low, __m128i high) {
    const __m128i half = _mm_set1_epi16(kHalf);
    return _mm_packus_epi16(_mm_srli_epi16(_mm_add_epi16(low, half), kWeightBits),
                            _mm_srli_epi16(_mm_add_epi16(high, half), kWeightBits));
}

// 16 bytes at a time: the bytes of both rows interleaved, then one multiply-and-add.
__attribute__((target("ssse3"))) std::size_t blendRowsSsse3(const unsigned char* upper,
                                                            const unsigned char* lower, int weight,
                                                            std::size_t bytes, unsigned char* out) {
    const __m128i weights = _mm_set1_epi16(static_cast<short>(weightPair(weight)));
    std::size_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(upper + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lower + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         toBytes(_mm_maddubs_epi16(_mm_unpacklo_epi8(a, b), weights),
                                 _mm_maddubs_epi16(_mm_unpackhi_epi8(a, b), weights)));
    }
    return i;
}

// Two output pixels: each pixel's two neighbours loaded together, their bytes interleaved by
// channel, then one multiply-and-add with the pixel's weight pair.
__attribute__((target("ssse3"), always_inline)) inline __m128i weightedPairs(
    const unsigned char* row, int x, const int* firsts, const std::uint16_t* weights) {
    const __m128i byChannel = _mm_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
    const __m128i both = _mm_unpacklo_epi64(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + pixelOffset(firsts[x]))),
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + pixelOffset(firsts[x + 1]))));
    const __m128i weight =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + pixelOffset(x)));
    return _mm_maddubs_epi16(_mm_shuffle_epi8(both, byChannel), weight);
}

__attribute__((target("ssse3"))) int blendColumnsSsse3(const unsigned char* row, unsigned char* out,
                                                       int x, int width, const int* firsts,
                                                       const std::uint16_t* weights) {
    for (; x + 4 <= width; x += 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + pixelOffset(x)),
                         toBytes(weightedPairs(row, x, firsts, weights),
                                 weightedPairs(row, x + 2, firsts, weights)));
    }
    return x;
}

__attribute__((target("avx2"), always_inline)) inline __m256i toBytes(__m256i low, __m256i high) {
    const __m256i half = _mm256_set1_epi16(kHalf);
    return _mm256_packus_epi16(_mm256_srli_epi16(_mm256_add_epi16(low, half), kWeightBits),
                               _mm256_srli_epi16(_mm256_add_epi16(high, half), kWeightBits));
}

// As blendRowsSsse3, 32 bytes at a time; the unpacking and packing stay within each 16-byte
// half, so the bytes come out in order.
__attribute__((target("avx2"))) std::size_t blendRowsAvx2(const unsigned char* upper,
                                                          const unsigned char* lower, int weight,
                                                          std::size_t bytes, unsigned char* out) {
    const __m256i weights = _mm256_set1_epi16(static_cast<short>(weightPair(weight)));
    std::size_t i = 0;
    for (; i + 32 <= bytes; i += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(upper + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lower + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            toBytes(_mm256_maddubs_epi16(_mm256_unpacklo_epi8(a, b), weights),
                                    _mm256_maddubs_epi16(_mm256_unpackhi_epi8(a, b), weights)));
    }
    return i;
}

// Four output pixels: each 16-byte half loads the four source pixels from the first neighbour
// of an even output pixel, which hold both pixels' neighbours; one shuffle per half, from the
// pair's own pattern, interleaves them by channel.
__attribute__((target("avx2"), always_inline)) inline __m256i weightedQuad(
    const unsigned char* row, int x, const int* firsts, const unsigned char* patterns,
    const std::uint16_t* weights) {
    const __m256i sources =
        _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(row + pixelOffset(firsts[x + 2])),
                            reinterpret_cast<const __m128i*>(row + pixelOffset(firsts[x])));
    const __m256i pattern =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(patterns + 2 * pixelOffset(x)));
    const __m256i weight =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights + pixelOffset(x)));
    return _mm256_maddubs_epi16(_mm256_shuffle_epi8(sources, pattern), weight);
}

__attribute__((target("avx2"))) int blendColumnsAvx2(const unsigned char* row, unsigned char* out,
                                                     int count, const int* firsts,
                                                     const unsigned char* patterns,
                                                     const std::uint16_t* weights) {
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        // The halves hold pixels 0-1 | 2-3 and 4-5 | 6-7; packing interleaves them by half.
        const __m256i packed = toBytes(weightedQuad(row, x, firsts, patterns, weights),
                                       weightedQuad(row, x + 4, firsts, patterns, weights));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + pixelOffset(x)),
                            _mm256_permute4x64_epi64(packed, 0xD8));
    }
    return x;
}
#endif

}  // namespace

void PictureResampler::prepare(PictureSize sourceSize, PictureSize targetSize) {
    if (sourceSize == m_sourceSize && targetSize == m_targetSize) {
        return;
    }
    m_sourceSize = sourceSize;
    m_targetSize = targetSize;
    m_rows.resize(static_cast<std::size_t>(targetSize.height));
    for (int y = 0; y < targetSize.height; ++y) {
        m_rows[static_cast<std::size_t>(y)] = tapFor<Tap>(y, sourceSize.height, targetSize.height);
    }
    m_columnFirsts.resize(static_cast<std::size_t>(targetSize.width));
    m_columnWeights.resize(static_cast<std::size_t>(targetSize.width) * kPixel);
    for (int x = 0; x < targetSize.width; ++x) {
        const Tap tap = tapFor<Tap>(x, sourceSize.width, targetSize.width);
        m_columnFirsts[static_cast<std::size_t>(x)] = tap.first;
        std::fill_n(m_columnWeights.begin() + static_cast<std::ptrdiff_t>(x) * kPixel, kPixel,
                    weightPair(tap.weight));
    }
    m_blendedRow.resize(static_cast<std::size_t>(sourceSize.width) * kPixel);
    prepareColumnPatterns();
}

// For each pair of output pixels that starts at an even one: how the four source pixels from
// the pair's first neighbour hold both pixels' neighbours. The pairs that this serves from the
// left, while both neighbour pairs lie within those four pixels and the four within the row,
// are the ones whose columns may be blended four at a time.
void PictureResampler::prepareColumnPatterns() {
    const int width = m_targetSize.width;
    m_columnPatterns.assign(static_cast<std::size_t>(width) * 2 * kPixel, 0);
    int served = 0;
    for (int x = 0; x + 1 < width && m_sourceSize.width >= 4; x += 2) {
        const auto first = static_cast<std::size_t>(x);
        const int offset = m_columnFirsts[first + 1] - m_columnFirsts[first];
        if (offset > 2 || m_columnFirsts[first] + 4 > m_sourceSize.width) {
            break;
        }
        unsigned char* pattern = m_columnPatterns.data() + 2 * pixelOffset(x);
        for (int channel = 0; channel < kPixel; ++channel) {
            for (int neighbour = 0; neighbour < 2; ++neighbour) {
                pattern[2 * channel + neighbour] =
                    static_cast<unsigned char>(neighbour * kPixel + channel);
                pattern[2 * kPixel + 2 * channel + neighbour] =
                    static_cast<unsigned char>((offset + neighbour) * kPixel + channel);
            }
        }
        served = x + 2;
    }
    m_quadColumns = served / 4 * 4;
}

void PictureResampler::resample(std::span<const unsigned char> source, PictureSize sourceSize,
                                std::span<unsigned char> target, PictureSize targetSize) {
    prepare(sourceSize, targetSize);
    const auto sourceLine = static_cast<std::size_t>(sourceSize.width) * kPixel;
    const auto targetLine = static_cast<std::size_t>(targetSize.width) * kPixel;
    for (int y = 0; y < targetSize.height; ++y) {
        const Tap tap = rowTap(y);
        const unsigned char* upper =
            source.data() + static_cast<std::size_t>(tap.first) * sourceLine;
        fitRow(upper, upper + sourceLine, tap.weight,
               target.data() + static_cast<std::size_t>(y) * targetLine);
    }
}

void PictureResampler::fitRow(const unsigned char* upper, const unsigned char* lower, int weight,
                              unsigned char* out) {
    const unsigned char* row = upper;
    if (weight == kOne) {
        row = lower;
    } else if (weight != 0) {
        blendRows(upper, lower, weight, m_blendedRow.size());
        row = m_blendedRow.data();
    }
    blendColumns(row, out);
}

void PictureResampler::blendRows(const unsigned char* upper, const unsigned char* lower, int weight,
                                 std::size_t bytes) {
    unsigned char* out = m_blendedRow.data();
    std::size_t i = 0;
#if KRT_RESAMPLE_X86
    if (kHaveAvx2) {
        i = blendRowsAvx2(upper, lower, weight, bytes, out);
    }
    if (kHaveSsse3) {
        i += blendRowsSsse3(upper + i, lower + i, weight, bytes - i, out + i);
    }
#endif
    for (; i < bytes; ++i) {
        out[i] = blend(upper[i], lower[i], weight);
    }
}

void PictureResampler::blendColumns(const unsigned char* row, unsigned char* out) const {
    const int width = m_targetSize.width;
    if (m_sourceSize.width < 2) {
        for (int x = 0; x < width; ++x) {
            std::memcpy(out + pixelOffset(x), row, kPixel);
        }
        return;
    }
    int x = 0;
#if KRT_RESAMPLE_X86
    if (kHaveAvx2) {
        x = blendColumnsAvx2(row, out, m_quadColumns, m_columnFirsts.data(),
                             m_columnPatterns.data(), m_columnWeights.data());
    }
    if (kHaveSsse3) {
        x = blendColumnsSsse3(row, out, x, width, m_columnFirsts.data(), m_columnWeights.data());
    }
#endif
    for (; x < width; ++x) {
        const unsigned char* pair = row + pixelOffset(m_columnFirsts[static_cast<std::size_t>(x)]);
        const int weight = m_columnWeights[pixelOffset(x)] >> 8;
        for (int byte = 0; byte < kPixel; ++byte) {
            out[pixelOffset(x) + static_cast<std::size_t>(byte)] =
                blend(pair[byte], pair[kPixel + byte], weight);
        }
    }
}

}  // namespace krt
