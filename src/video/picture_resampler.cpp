#include "video/picture_resampler.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define KRT_RESAMPLE_SSSE3 1
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

#if KRT_RESAMPLE_SSSE3
const bool kHaveSsse3 = __builtin_cpu_supports("ssse3");

// Rounds the 16-bit weighted sums back to bytes.
__attribute__((target("ssse3"))) __m128i toBytes(__m128i low, __m128i high) {
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
__attribute__((target("ssse3"))) __m128i weightedPairs(const unsigned char* row, int x,
                                                       const int* firsts,
                                                       const std::uint16_t* weights) {
    const __m128i byChannel = _mm_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
    const __m128i both = _mm_unpacklo_epi64(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + pixelOffset(firsts[x]))),
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + pixelOffset(firsts[x + 1]))));
    const __m128i weight =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + pixelOffset(x)));
    return _mm_maddubs_epi16(_mm_shuffle_epi8(both, byChannel), weight);
}

__attribute__((target("ssse3"))) int blendColumnsSsse3(const unsigned char* row, unsigned char* out,
                                                       int width, const int* firsts,
                                                       const std::uint16_t* weights) {
    int x = 0;
    for (; x + 4 <= width; x += 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + pixelOffset(x)),
                         toBytes(weightedPairs(row, x, firsts, weights),
                                 weightedPairs(row, x + 2, firsts, weights)));
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
}

void PictureResampler::resample(std::span<const unsigned char> source, PictureSize sourceSize,
                                std::span<unsigned char> target, PictureSize targetSize) {
    prepare(sourceSize, targetSize);
    const auto sourceLine = static_cast<std::size_t>(sourceSize.width) * kPixel;
    const auto targetLine = static_cast<std::size_t>(targetSize.width) * kPixel;
    for (int y = 0; y < targetSize.height; ++y) {
        const Tap tap = m_rows[static_cast<std::size_t>(y)];
        const unsigned char* upper =
            source.data() + static_cast<std::size_t>(tap.first) * sourceLine;
        const unsigned char* row = upper;
        if (tap.weight == kOne) {
            row = upper + sourceLine;
        } else if (tap.weight != 0) {
            blendRows(upper, upper + sourceLine, tap.weight, sourceLine);
            row = m_blendedRow.data();
        }
        blendColumns(row, target.data() + static_cast<std::size_t>(y) * targetLine);
    }
}

void PictureResampler::blendRows(const unsigned char* upper, const unsigned char* lower, int weight,
                                 std::size_t bytes) {
    unsigned char* out = m_blendedRow.data();
    std::size_t i = 0;
#if KRT_RESAMPLE_SSSE3
    if (kHaveSsse3) {
        i = blendRowsSsse3(upper, lower, weight, bytes, out);
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
#if KRT_RESAMPLE_SSSE3
    if (kHaveSsse3) {
        x = blendColumnsSsse3(row, out, width, m_columnFirsts.data(), m_columnWeights.data());
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
