#include "video/ycc_rows.h"

#include <algorithm>
#include <array>
#include <cstddef>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KRT_YCC_X86 1
#endif

namespace krt {
namespace {

// Chroma's centre value, and the JFIF factors beyond 1 in Q15, for the rounding high multiply
// (a × b + 2^14) >> 15: red = Y + Cr' × 1.402, blue = Y + Cb' × 1.772,
// green = Y − Cb' × 0.344136 − Cr' × 0.714136.
constexpr int kChromaCentre = 128;
constexpr std::int16_t kRedFromCr = 13173;    // 0.402
constexpr std::int16_t kBlueFromCb = 25297;   // 0.772
constexpr std::int16_t kGreenFromCb = 11277;  // 0.344136
constexpr std::int16_t kGreenFromCr = 23401;  // 0.714136
// Repeated edge columns on either side of the column sums.
constexpr int kEdge = 1;
// Samples a vector step takes: 32 chroma columns, or 32 pixels.
constexpr int kStep = 32;

int mulhrs(int value, int factor) {
    return (value * factor + (1 << 14)) >> 15;
}

unsigned char clamped(int value) {
    return static_cast<unsigned char>(std::clamp(value, 0, 255));
}

void convertPixel(int y, int cb, int cr, unsigned char* out) {
    cb -= kChromaCentre;
    cr -= kChromaCentre;
    out[0] = clamped(y + cb + mulhrs(cb, kBlueFromCb));
    out[1] = clamped(y - mulhrs(cb, kGreenFromCb) - mulhrs(cr, kGreenFromCr));
    out[2] = clamped(y + cr + mulhrs(cr, kRedFromCr));
    out[3] = 255;
}

#if KRT_YCC_X86
__attribute__((target(KRT_AVX512), always_inline)) inline __mmask32 firstOf32(int count) {
    return static_cast<__mmask32>(count >= 32 ? ~0U : (1U << count) - 1);
}

__attribute__((target(KRT_AVX512), always_inline)) inline __m512i widened(const unsigned char* row,
                                                                          __mmask32 kept) {
    return _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(kept, row));
}

__attribute__((target(KRT_AVX512))) void columnSumsAvx512(const unsigned char* near,
                                                          const unsigned char* far, int width,
                                                          std::int16_t* sums) {
    const __m512i three = _mm512_set1_epi16(3);
    for (int x = 0; x < width; x += kStep) {
        const __mmask32 kept = firstOf32(width - x);
        const __m512i sum = _mm512_add_epi16(_mm512_mullo_epi16(widened(near + x, kept), three),
                                             widened(far + x, kept));
        _mm512_mask_storeu_epi16(sums + x, kept, sum);
    }
}

// Per chroma column, the output pair (3 × sum + left + 8) >> 4 and (3 × sum + right + 7) >> 4,
// as the two bytes of one word: little-endian, the words are the output row in order.
__attribute__((target(KRT_AVX512))) void outputPairsAvx512(const std::int16_t* sums, int width,
                                                           unsigned char* out) {
    const __m512i three = _mm512_set1_epi16(3);
    const __m512i eight = _mm512_set1_epi16(8);
    const __m512i seven = _mm512_set1_epi16(7);
    for (int x = 0; x < width; x += kStep) {
        const __m512i left = _mm512_loadu_si512(sums + x - kEdge);
        const __m512i tripled = _mm512_mullo_epi16(_mm512_loadu_si512(sums + x), three);
        const __m512i right = _mm512_loadu_si512(sums + x + kEdge);
        const __m512i even =
            _mm512_srli_epi16(_mm512_add_epi16(_mm512_add_epi16(tripled, left), eight), 4);
        const __m512i odd =
            _mm512_srli_epi16(_mm512_add_epi16(_mm512_add_epi16(tripled, right), seven), 4);
        _mm512_mask_storeu_epi16(out + 2 * static_cast<std::size_t>(x), firstOf32(width - x),
                                 _mm512_or_si512(even, _mm512_slli_epi16(odd, 8)));
    }
}

// For 16 pixels from `firstPixel`, where each of their 4 bytes lies in the packed blue-green
// and red-255 vectors (the second from 64 on): packing leaves each 16-byte quarter L holding
// pixels 8L to 8L + 7, blue or red first, then green or 255.
constexpr std::array<unsigned char, 64> pixelOrder(int firstPixel) {
    std::array<unsigned char, 64> order{};
    for (int q = 0; q < 16; ++q) {
        const int pixel = firstPixel + q;
        const int start = 16 * (pixel / 8) + pixel % 8;
        const auto at = [&](int byte) { return (4 * static_cast<std::size_t>(q)) + byte; };
        order[at(0)] = static_cast<unsigned char>(start);
        order[at(1)] = static_cast<unsigned char>(start + 8);
        order[at(2)] = static_cast<unsigned char>(64 + start);
        order[at(3)] = static_cast<unsigned char>(64 + start + 8);
    }
    return order;
}
alignas(64) constexpr std::array<unsigned char, 64> kLowPixels = pixelOrder(0);
alignas(64) constexpr std::array<unsigned char, 64> kHighPixels = pixelOrder(16);

__attribute__((target(KRT_AVX512), always_inline)) inline __m512i scaled(__m512i value,
                                                                         std::int16_t factor) {
    return _mm512_mulhrs_epi16(value, _mm512_set1_epi16(factor));
}

__attribute__((target(KRT_AVX512))) void convertAvx512(const unsigned char* luma,
                                                       const unsigned char* blue,
                                                       const unsigned char* red, int width,
                                                       unsigned char* out) {
    const __m512i centre = _mm512_set1_epi16(kChromaCentre);
    const __m512i opaque = _mm512_set1_epi16(255);
    const __m512i lowOrder = _mm512_load_si512(kLowPixels.data());
    const __m512i highOrder = _mm512_load_si512(kHighPixels.data());
    for (int x = 0; x < width; x += kStep) {
        const int left = width - x;
        const __mmask32 kept = firstOf32(left);
        const __m512i y = widened(luma + x, kept);
        const __m512i cb = _mm512_sub_epi16(widened(blue + x, kept), centre);
        const __m512i cr = _mm512_sub_epi16(widened(red + x, kept), centre);
        const __m512i b = _mm512_add_epi16(_mm512_add_epi16(y, cb), scaled(cb, kBlueFromCb));
        const __m512i g = _mm512_sub_epi16(_mm512_sub_epi16(y, scaled(cb, kGreenFromCb)),
                                           scaled(cr, kGreenFromCr));
        const __m512i r = _mm512_add_epi16(_mm512_add_epi16(y, cr), scaled(cr, kRedFromCr));
        const __m512i blueGreen = _mm512_packus_epi16(b, g);
        const __m512i redOpaque = _mm512_packus_epi16(r, opaque);
        unsigned char* pixels = out + 4 * static_cast<std::size_t>(x);
        const auto quadsKept = [](int pixelsLeft) {
            return static_cast<__mmask16>(pixelsLeft >= 16 ? 0xFFFF : (1U << pixelsLeft) - 1);
        };
        _mm512_mask_storeu_epi32(pixels, quadsKept(left),
                                 _mm512_permutex2var_epi8(blueGreen, lowOrder, redOpaque));
        if (left > 16) {
            _mm512_mask_storeu_epi32(pixels + 64, quadsKept(left - 16),
                                     _mm512_permutex2var_epi8(blueGreen, highOrder, redOpaque));
        }
    }
}

// Samples an AVX2 step takes: 16 chroma columns, or 16 pixels. Chroma left over after the whole
// steps goes to the plain code; pixels to one more, overlapping step.
constexpr int kAvx2Step = 16;

__attribute__((target("avx2"), always_inline)) inline __m256i widened16(const unsigned char* row) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row)));
}

__attribute__((target("avx2"), always_inline)) inline __m256i loadWords(const std::int16_t* at) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

__attribute__((target("avx2"), always_inline)) inline __m256i scaled16(__m256i value,
                                                                       std::int16_t factor) {
    return _mm256_mulhrs_epi16(value, _mm256_set1_epi16(factor));
}

// Clamped to 0-255.
__attribute__((target("avx2"), always_inline)) inline __m256i level(__m256i value) {
    return _mm256_min_epi16(_mm256_max_epi16(value, _mm256_setzero_si256()),
                            _mm256_set1_epi16(255));
}

__attribute__((target("avx2"))) int columnSumsAvx2(const unsigned char* near,
                                                   const unsigned char* far, int width,
                                                   std::int16_t* sums) {
    const __m256i three = _mm256_set1_epi16(3);
    int x = 0;
    for (; x + kAvx2Step <= width; x += kAvx2Step) {
        const __m256i sum =
            _mm256_add_epi16(_mm256_mullo_epi16(widened16(near + x), three), widened16(far + x));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + x), sum);
    }
    return x;
}

// As outputPairsAvx512, 16 chroma columns at a time.
__attribute__((target("avx2"))) int outputPairsAvx2(const std::int16_t* sums, int width,
                                                    unsigned char* out) {
    const __m256i three = _mm256_set1_epi16(3);
    const __m256i eight = _mm256_set1_epi16(8);
    const __m256i seven = _mm256_set1_epi16(7);
    int x = 0;
    for (; x + kAvx2Step <= width; x += kAvx2Step) {
        const __m256i tripled = _mm256_mullo_epi16(loadWords(sums + x), three);
        const __m256i even = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_add_epi16(tripled, loadWords(sums + x - kEdge)), eight), 4);
        const __m256i odd = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_add_epi16(tripled, loadWords(sums + x + kEdge)), seven), 4);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * static_cast<std::size_t>(x)),
                            _mm256_or_si256(even, _mm256_slli_epi16(odd, 8)));
    }
    return x;
}

// As convertAvx512, 16 pixels from `x`: each pixel's blue and green, and its red and 255, are
// made into words, and unpacking the two gives whole pixels, 0-3 and 8-11 in one vector and
// 4-7 and 12-15 in the other.
__attribute__((target("avx2"), always_inline)) inline void convertStepAvx2(
    const unsigned char* luma, const unsigned char* blue, const unsigned char* red, int x,
    unsigned char* out) {
    const __m256i centre = _mm256_set1_epi16(kChromaCentre);
    const __m256i y = widened16(luma + x);
    const __m256i cb = _mm256_sub_epi16(widened16(blue + x), centre);
    const __m256i cr = _mm256_sub_epi16(widened16(red + x), centre);
    const __m256i b = level(_mm256_add_epi16(_mm256_add_epi16(y, cb), scaled16(cb, kBlueFromCb)));
    const __m256i g = level(_mm256_sub_epi16(_mm256_sub_epi16(y, scaled16(cb, kGreenFromCb)),
                                             scaled16(cr, kGreenFromCr)));
    const __m256i r = level(_mm256_add_epi16(_mm256_add_epi16(y, cr), scaled16(cr, kRedFromCr)));
    const __m256i blueGreen = _mm256_or_si256(b, _mm256_slli_epi16(g, 8));
    const __m256i redOpaque = _mm256_or_si256(r, _mm256_set1_epi16(static_cast<short>(0xFF00)));
    const __m256i low = _mm256_unpacklo_epi16(blueGreen, redOpaque);
    const __m256i high = _mm256_unpackhi_epi16(blueGreen, redOpaque);
    auto* pixels = reinterpret_cast<__m256i*>(out + 4 * static_cast<std::size_t>(x));
    _mm256_storeu_si256(pixels, _mm256_permute2x128_si256(low, high, 0x20));
    _mm256_storeu_si256(pixels + 1, _mm256_permute2x128_si256(low, high, 0x31));
}

// A row of at least one step ends with a step that overlaps the one before it: it writes the
// same bytes again rather than leaving a few pixels to the plain code.
__attribute__((target("avx2"))) int convertAvx2(const unsigned char* luma,
                                                const unsigned char* blue, const unsigned char* red,
                                                int width, unsigned char* out) {
    if (width < kAvx2Step) {
        return 0;
    }
    for (int x = 0; x + kAvx2Step <= width; x += kAvx2Step) {
        convertStepAvx2(luma, blue, red, x, out);
    }
    if (width % kAvx2Step != 0) {
        convertStepAvx2(luma, blue, red, width - kAvx2Step, out);
    }
    return width;
}
#endif

}  // namespace

YccRows::YccRows(InstructionSet ceiling) : m_instructionSet(usableInstructionSet(ceiling)) {}

void YccRows::upsampleChroma(const unsigned char* near, const unsigned char* far, int chromaWidth,
                             unsigned char* out) {
    if (chromaWidth <= 0) {
        return;
    }
    // Whole vectors may be read past the last sum: they feed only outputs that are not stored.
    m_columnSums.resize(static_cast<std::size_t>(chromaWidth) + std::size_t{2 * kEdge + kStep});
    std::int16_t* sums = m_columnSums.data() + kEdge;
    const int width = chromaWidth;
#if KRT_YCC_X86
    if (m_instructionSet >= InstructionSet::Avx512) {
        columnSumsAvx512(near, far, chromaWidth, sums);
        sums[-1] = sums[0];
        sums[width] = sums[width - 1];
        outputPairsAvx512(sums, chromaWidth, out);
        return;
    }
#endif
    int summed = 0;
#if KRT_YCC_X86
    if (m_instructionSet >= InstructionSet::Avx2) {
        summed = columnSumsAvx2(near, far, width, sums);
    }
#endif
    for (int x = summed; x < width; ++x) {
        sums[x] = static_cast<std::int16_t>(3 * near[x] + far[x]);
    }
    sums[-1] = sums[0];
    sums[width] = sums[width - 1];
    int paired = 0;
#if KRT_YCC_X86
    if (m_instructionSet >= InstructionSet::Avx2) {
        paired = outputPairsAvx2(sums, width, out);
    }
#endif
    for (int x = paired; x < width; ++x) {
        const int tripled = 3 * sums[x];
        unsigned char* pair = out + 2 * static_cast<std::size_t>(x);
        pair[0] = static_cast<unsigned char>((tripled + sums[x - 1] + 8) >> 4);
        pair[1] = static_cast<unsigned char>((tripled + sums[x + 1] + 7) >> 4);
    }
}

void YccRows::convert(const unsigned char* luma, const unsigned char* blue,
                      const unsigned char* red, int width, unsigned char* out) const {
#if KRT_YCC_X86
    if (m_instructionSet >= InstructionSet::Avx512) {
        convertAvx512(luma, blue, red, width, out);
        return;
    }
#endif
    int converted = 0;
#if KRT_YCC_X86
    if (m_instructionSet >= InstructionSet::Avx2) {
        converted = convertAvx2(luma, blue, red, width, out);
    }
#endif
    for (int x = converted; x < width; ++x) {
        convertPixel(luma[x], blue[x], red[x], out + 4 * static_cast<std::size_t>(x));
    }
}

}  // namespace krt
