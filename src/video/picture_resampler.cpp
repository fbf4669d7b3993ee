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
// Output samples that a vector step fits in a plane of 1-byte samples, and the source window
// they read: with AVX-512 a block and its 64 bytes, with AVX2 a group and its 16, two groups a
// step.
constexpr int kSampleBlock = 32;
constexpr int kBlockWindow = 64;
constexpr int kSampleGroup = 8;
constexpr int kGroupWindow = 16;
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

// The factor by which a rounding high multiply, (a × b + 2^14) >> 15, gives a weighted sum
// divided by kOne and rounded, (a + kHalf) >> kWeightBits, in one instruction.
constexpr short kRoundingFactor = 1 << (15 - kWeightBits);

// Rounds the 16-bit weighted sums back to bytes.
__attribute__((target("ssse3"), always_inline)) inline __m128i toBytes(__m128i low, __m128i high) {
    const __m128i factor = _mm_set1_epi16(kRoundingFactor);
    return _mm_packus_epi16(_mm_mulhrs_epi16(low, factor), _mm_mulhrs_epi16(high, factor));
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
    const __m256i factor = _mm256_set1_epi16(kRoundingFactor);
    return _mm256_packus_epi16(_mm256_mulhrs_epi16(low, factor), _mm256_mulhrs_epi16(high, factor));
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
                                                     int x, int count, const int* firsts,
                                                     const unsigned char* patterns,
                                                     const std::uint16_t* weights) {
    for (; x + 8 <= count; x += 8) {
        // The halves hold pixels 0-1 | 2-3 and 4-5 | 6-7; packing interleaves them by half.
        const __m256i packed = toBytes(weightedQuad(row, x, firsts, patterns, weights),
                                       weightedQuad(row, x + 4, firsts, patterns, weights));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + pixelOffset(x)),
                            _mm256_permute4x64_epi64(packed, 0xD8));
    }
    return x;
}

// As blendSamplesAvx512 with 16-byte windows, one for each group of 8 output samples, two
// groups a step: each half of the vector pairs its group's neighbours with its own shuffle.
__attribute__((target("avx2"))) int blendSamplesAvx2(const unsigned char* row, unsigned char* out,
                                                     int count, const int* starts,
                                                     const unsigned char* patterns,
                                                     const std::uint16_t* weights) {
    const __m256i factor = _mm256_set1_epi16(kRoundingFactor);
    int x = 0;
    for (; x + 2 * kSampleGroup <= count; x += 2 * kSampleGroup) {
        const int group = x / kSampleGroup;
        const __m256i windows =
            _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(row + starts[group + 1]),
                                reinterpret_cast<const __m128i*>(row + starts[group]));
        const __m256i pairs = _mm256_shuffle_epi8(
            windows, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(patterns + 2L * x)));
        const __m256i sums = _mm256_maddubs_epi16(
            pairs, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights + x)));
        const __m256i rounded = _mm256_mulhrs_epi16(sums, factor);
        // Packing keeps each half's 8 samples in its low 8 bytes; the two go together in order.
        const __m256i packed =
            _mm256_permute4x64_epi64(_mm256_packus_epi16(rounded, rounded), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm256_castsi256_si128(packed));
    }
    // A last group on its own, in half a vector.
    if (x + kSampleGroup <= count) {
        const __m128i window =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + starts[x / kSampleGroup]));
        const __m128i pairs = _mm_shuffle_epi8(
            window, _mm_loadu_si128(reinterpret_cast<const __m128i*>(patterns + 2L * x)));
        const __m128i sums = _mm_maddubs_epi16(
            pairs, _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + x)));
        const __m128i rounded = _mm_mulhrs_epi16(sums, _mm256_castsi256_si128(factor));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(rounded, rounded));
        x += kSampleGroup;
    }
    return x;
}

// The zero-masking forms with every lane kept: the plain forms start from an undefined vector,
// which GCC 12 takes for an uninitialised read.
constexpr __mmask64 kAllBytes = ~__mmask64{0};
constexpr __mmask8 kAllQuads = 0xFF;
constexpr __mmask32 kAllWords = ~__mmask32{0};

__attribute__((target(KRT_AVX512), always_inline)) inline __m512i toBytes(__m512i low,
                                                                          __m512i high) {
    const __m512i factor = _mm512_set1_epi16(kRoundingFactor);
    return _mm512_packus_epi16(_mm512_mulhrs_epi16(low, factor), _mm512_mulhrs_epi16(high, factor));
}

// As blendRowsAvx2, 64 bytes at a time.
__attribute__((target(KRT_AVX512))) std::size_t blendRowsAvx512(const unsigned char* upper,
                                                                const unsigned char* lower,
                                                                int weight, std::size_t bytes,
                                                                unsigned char* out) {
    const __m512i weights = _mm512_set1_epi16(static_cast<short>(weightPair(weight)));
    std::size_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
        const __m512i a = _mm512_loadu_si512(upper + i);
        const __m512i b = _mm512_loadu_si512(lower + i);
        _mm512_storeu_si512(out + i,
                            toBytes(_mm512_maddubs_epi16(_mm512_unpacklo_epi8(a, b), weights),
                                    _mm512_maddubs_epi16(_mm512_unpackhi_epi8(a, b), weights)));
    }
    return i;
}

// Eight output pixels: the sixteen source pixels from the first neighbour of the first hold
// all their neighbours; one byte permutation, from the octet's own pattern, sorts them.
__attribute__((target(KRT_AVX512), always_inline)) inline __m512i weightedOctet(
    const unsigned char* row, int x, const int* firsts, const unsigned char* patterns,
    const std::uint16_t* weights) {
    const __m512i sources = _mm512_loadu_si512(row + pixelOffset(firsts[x]));
    const __m512i pattern = _mm512_loadu_si512(patterns + 2 * pixelOffset(x));
    const __m512i weight = _mm512_loadu_si512(weights + pixelOffset(x));
    return _mm512_maddubs_epi16(_mm512_maskz_permutexvar_epi8(kAllBytes, pattern, sources), weight);
}

__attribute__((target(KRT_AVX512))) int blendColumnsAvx512(const unsigned char* row,
                                                           unsigned char* out, int count,
                                                           const int* firsts,
                                                           const unsigned char* patterns,
                                                           const std::uint16_t* weights) {
    // Packing interleaves the two octets by 16-byte quarter; the pairs of pixels go back in order.
    const __m512i inOrder = _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7);
    int x = 0;
    for (; x + 16 <= count; x += 16) {
        const __m512i packed = toBytes(weightedOctet(row, x, firsts, patterns, weights),
                                       weightedOctet(row, x + 8, firsts, patterns, weights));
        _mm512_storeu_si512(out + pixelOffset(x),
                            _mm512_maskz_permutexvar_epi64(kAllQuads, inOrder, packed));
    }
    return x;
}

// Planes of 1-byte samples, 32 output samples a block: the block's 64-byte window holds all
// their neighbours; one byte permutation pairs them, one multiply-and-add weighs each pair, and
// the rounded words narrow to bytes in order. A last, shorter block stores only its samples.
__attribute__((target(KRT_AVX512))) int blendSamplesAvx512(const unsigned char* row,
                                                           unsigned char* out, int count,
                                                           const int* starts,
                                                           const unsigned char* patterns,
                                                           const std::uint16_t* weights) {
    const __m512i factor = _mm512_set1_epi16(kRoundingFactor);
    int x = 0;
    for (int block = 0; x < count; ++block, x += kSampleBlock) {
        const __m512i window = _mm512_loadu_si512(row + starts[block]);
        const __m512i pairs =
            _mm512_maskz_permutexvar_epi8(kAllBytes, _mm512_loadu_si512(patterns + 2L * x), window);
        const __m512i sums = _mm512_maddubs_epi16(pairs, _mm512_loadu_si512(weights + x));
        const __m256i samples =
            _mm512_maskz_cvtepi16_epi8(kAllWords, _mm512_mulhrs_epi16(sums, factor));
        const int left = count - x;
        const auto kept = static_cast<__mmask32>(left >= kSampleBlock ? ~0U : (1U << left) - 1);
        _mm256_mask_storeu_epi8(out + x, kept, samples);
    }
    return count;
}
#endif

}  // namespace

PictureResampler::PictureResampler(InstructionSet ceiling)
    : m_instructionSet(usableInstructionSet(ceiling)) {}

void PictureResampler::prepare(PictureSize sourceSize, PictureSize targetSize, int pixelBytes) {
    const auto bytes = static_cast<std::size_t>(pixelBytes);
    if (sourceSize == m_sourceSize && targetSize == m_targetSize && bytes == m_pixelBytes) {
        return;
    }
    m_sourceSize = sourceSize;
    m_targetSize = targetSize;
    m_pixelBytes = bytes;
    m_rows.resize(static_cast<std::size_t>(targetSize.height));
    for (int y = 0; y < targetSize.height; ++y) {
        m_rows[static_cast<std::size_t>(y)] = tapFor<Tap>(y, sourceSize.height, targetSize.height);
    }
    m_columnFirsts.resize(static_cast<std::size_t>(targetSize.width));
    // Whole blocks of samples, so that a last, shorter block loads weights it does not use.
    m_columnWeights.assign(rowBytes(targetSize.width + kSampleBlock), 0);
    for (int x = 0; x < targetSize.width; ++x) {
        const Tap tap = tapFor<Tap>(x, sourceSize.width, targetSize.width);
        m_columnFirsts[static_cast<std::size_t>(x)] = tap.first;
        std::fill_n(m_columnWeights.begin() + static_cast<std::ptrdiff_t>(rowBytes(x)), pixelBytes,
                    weightPair(tap.weight));
    }
    m_blendedRow.resize(rowBytes(sourceSize.width));
    if (m_pixelBytes == kPixel) {
        prepareColumnPatterns();
    } else if (m_instructionSet >= InstructionSet::Avx512) {
        prepareSampleBlocks(kSampleBlock, kBlockWindow);
    } else {
        prepareSampleBlocks(kSampleGroup, kGroupWindow);
    }
}

// For each block of `block` output samples: a window of `window` bytes of the source row that
// holds all their neighbours, as far left as they allow but within the row, and where each
// sample's pair lies in it. The blocks served from the left, while their neighbours fit a
// window, may be blended a block at a time.
void PictureResampler::prepareSampleBlocks(int block, int window) {
    const int width = m_targetSize.width;
    m_blockStarts.clear();
    m_blockPatterns.assign(static_cast<std::size_t>(width + kSampleBlock) * 2, 0);
    int served = 0;
    for (int x = 0; x < width && m_sourceSize.width >= window; x += block) {
        const int count = std::min(block, width - x);
        const auto firstOf = [this](int i) { return m_columnFirsts[static_cast<std::size_t>(i)]; };
        const int start = std::min(firstOf(x), m_sourceSize.width - window);
        if (firstOf(x + count - 1) + 1 - start >= window) {
            break;
        }
        for (int i = 0; i < count; ++i) {
            unsigned char* pair = m_blockPatterns.data() + 2 * static_cast<std::size_t>(x + i);
            pair[0] = static_cast<unsigned char>(firstOf(x + i) - start);
            pair[1] = static_cast<unsigned char>(pair[0] + 1);
        }
        m_blockStarts.push_back(start);
        served = x + count;
    }
    m_blockColumns = served;
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
    prepareOctetPatterns();
}

// For each eight output pixels from a multiple of eight: where each one's neighbours lie among
// the sixteen source pixels from the first one's first neighbour. The octets served from the
// left, while all neighbours lie within those sixteen pixels and the sixteen within the row, may
// be blended sixteen pixels at a time.
void PictureResampler::prepareOctetPatterns() {
    constexpr int kOctet = 8;
    constexpr int kWindow = 16;
    const int width = m_targetSize.width;
    m_octetPatterns.assign(static_cast<std::size_t>(width) * 2 * kPixel, 0);
    int served = 0;
    const auto firstOf = [this](int x) { return m_columnFirsts[static_cast<std::size_t>(x)]; };
    for (int x = 0; x + kOctet <= width; x += kOctet) {
        const int base = firstOf(x);
        if (base + kWindow > m_sourceSize.width || firstOf(x + kOctet - 1) + 1 - base >= kWindow) {
            break;
        }
        for (int i = 0; i < kOctet; ++i) {
            const int offset = firstOf(x + i) - base;
            unsigned char* pattern = m_octetPatterns.data() + 2 * pixelOffset(x + i);
            for (int channel = 0; channel < kPixel; ++channel) {
                for (int neighbour = 0; neighbour < 2; ++neighbour) {
                    pattern[2 * channel + neighbour] =
                        static_cast<unsigned char>((offset + neighbour) * kPixel + channel);
                }
            }
        }
        served = x + kOctet;
    }
    m_octetColumns = served / 16 * 16;
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
    if (m_instructionSet >= InstructionSet::Avx512) {
        i = blendRowsAvx512(upper, lower, weight, bytes, out);
    }
    if (m_instructionSet >= InstructionSet::Avx2) {
        i += blendRowsAvx2(upper + i, lower + i, weight, bytes - i, out + i);
    }
    if (m_instructionSet >= InstructionSet::Ssse3) {
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
            std::memcpy(out + rowBytes(x), row, m_pixelBytes);
        }
        return;
    }
    for (int x = blendVectorColumns(row, out); x < width; ++x) {
        const unsigned char* pair = row + rowBytes(m_columnFirsts[static_cast<std::size_t>(x)]);
        const int weight = m_columnWeights[rowBytes(x)] >> 8;
        for (std::size_t byte = 0; byte < m_pixelBytes; ++byte) {
            out[rowBytes(x) + byte] = blend(pair[byte], pair[m_pixelBytes + byte], weight);
        }
    }
}

// The columns the vector paths serve from the left; the plain loop does the rest.
int PictureResampler::blendVectorColumns(const unsigned char* row, unsigned char* out) const {
    int x = 0;
#if KRT_RESAMPLE_X86
    if (m_pixelBytes != kPixel) {
        if (m_instructionSet >= InstructionSet::Avx512) {
            x = blendSamplesAvx512(row, out, m_blockColumns, m_blockStarts.data(),
                                   m_blockPatterns.data(), m_columnWeights.data());
        } else if (m_instructionSet >= InstructionSet::Avx2) {
            x = blendSamplesAvx2(row, out, m_blockColumns, m_blockStarts.data(),
                                 m_blockPatterns.data(), m_columnWeights.data());
        }
        return x;
    }
    if (m_instructionSet >= InstructionSet::Avx512) {
        x = blendColumnsAvx512(row, out, m_octetColumns, m_columnFirsts.data(),
                               m_octetPatterns.data(), m_columnWeights.data());
    }
    if (m_instructionSet >= InstructionSet::Avx2) {
        x = blendColumnsAvx2(row, out, x, m_quadColumns, m_columnFirsts.data(),
                             m_columnPatterns.data(), m_columnWeights.data());
    }
    if (m_instructionSet >= InstructionSet::Ssse3) {
        x = blendColumnsSsse3(row, out, x, m_targetSize.width, m_columnFirsts.data(),
                              m_columnWeights.data());
    }
#else
    static_cast<void>(row);
    static_cast<void>(out);
#endif
    return x;
}

}  // namespace krt
