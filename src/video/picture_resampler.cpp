#include "video/picture_resampler.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace krt {
namespace {

constexpr int kPixel = 4;
constexpr int kOne = 256;  // weight of a whole neighbour
constexpr int kHalf = kOne / 2;

// Output position i of `to` positions mapped onto `from` positions, centres aligned, as the
// first of the two neighbours read and the weight of the second. The last neighbour pair is
// always inside the source, so that both are read without a bounds test.
template <typename Tap>
Tap tapFor(int i, int from, int to) {
    if (from < 2) {
        return {0, 0};
    }
    // (i + 0.5) × from ÷ to − 0.5 in 8-bit fixed point.
    const long long position =
        (static_cast<long long>(2 * i + 1) * from * kOne) / (2LL * to) - kHalf;
    const long long clamped = std::max(position, 0LL);
    const int first = static_cast<int>(clamped / kOne);
    if (first >= from - 1) {
        return {from - 2, kOne};
    }
    return {first, static_cast<int>(clamped % kOne)};
}

unsigned char blend(unsigned a, unsigned b, int weight) {
    return static_cast<unsigned char>(
        (a * static_cast<unsigned>(kOne - weight) + b * static_cast<unsigned>(weight) + kHalf) >>
        8);
}

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
    m_columns.resize(static_cast<std::size_t>(targetSize.width));
    m_columnWeights.resize(static_cast<std::size_t>(targetSize.width) * 2 * kPixel);
    for (int x = 0; x < targetSize.width; ++x) {
        const Tap tap = tapFor<Tap>(x, sourceSize.width, targetSize.width);
        m_columns[static_cast<std::size_t>(x)] = tap;
        const auto weights = m_columnWeights.begin() + static_cast<std::ptrdiff_t>(x) * 2 * kPixel;
        std::fill_n(weights, kPixel, static_cast<std::uint16_t>(kOne - tap.weight));
        std::fill_n(weights + kPixel, kPixel, static_cast<std::uint16_t>(tap.weight));
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
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi16(kHalf);
    const __m128i upperWeight = _mm_set1_epi16(static_cast<short>(kOne - weight));
    const __m128i lowerWeight = _mm_set1_epi16(static_cast<short>(weight));
    // 16-bit lanes hold a × (256 − w) + b × w + 128 ≤ 65408 without overflow.
    const auto blendHalf = [&](__m128i a, __m128i b) {
        return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(a, upperWeight),
                                                          _mm_mullo_epi16(b, lowerWeight)),
                                            half),
                              8);
    };
    for (; i + 16 <= bytes; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(upper + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lower + i));
        const __m128i low = blendHalf(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
        const __m128i high = blendHalf(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(low, high));
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
            std::memcpy(out + x * kPixel, row, kPixel);
        }
        return;
    }
    int x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi16(kHalf);
    const auto weighted = [&](int column) {
        // The two neighbours, 8 bytes, each byte by its neighbour's weight.
        const __m128i pair = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(
            row + m_columns[static_cast<std::size_t>(column)].first * kPixel));
        const __m128i weights = _mm_loadu_si128(reinterpret_cast<const __m128i*>(
            m_columnWeights.data() + static_cast<std::size_t>(column) * 2 * kPixel));
        return _mm_mullo_epi16(_mm_unpacklo_epi8(pair, zero), weights);
    };
    for (; x + 2 <= width; x += 2) {
        const __m128i left = weighted(x);
        const __m128i right = weighted(x + 1);
        const __m128i sums = _mm_add_epi16(
            _mm_add_epi16(_mm_unpacklo_epi64(left, right), _mm_unpackhi_epi64(left, right)), half);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x * kPixel),
                         _mm_packus_epi16(_mm_srli_epi16(sums, 8), zero));
    }
#endif
    for (; x < width; ++x) {
        const Tap tap = m_columns[static_cast<std::size_t>(x)];
        const unsigned char* pair = row + tap.first * kPixel;
        for (int byte = 0; byte < kPixel; ++byte) {
            out[x * kPixel + byte] = blend(pair[byte], pair[kPixel + byte], tap.weight);
        }
    }
}

}  // namespace krt
