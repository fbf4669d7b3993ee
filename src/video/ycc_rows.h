#pragma once

#include <cstdint>
#include <vector>

#include "video/instruction_set.h"

namespace krt {

// The last steps of a JPEG decode, taken out of the decoder so that planes can be resampled
// before the colour conversion: chroma at half the picture's size brought to its full size, and
// YCbCr made into 4-byte pixels (blue, green, red, 255), row by row. Uses AVX-512 or AVX2 where
// the processor has them; every instruction set gives the same bytes. Not for use by two threads
// at once.
class YccRows {
  public:
    explicit YccRows(InstructionSet ceiling = InstructionSet::Avx512);

    // One full-size chroma row, 2 × chromaWidth samples, smoothed as the JPEG library's own
    // upsampling does: each sample weighs the chroma sample it lies in 9, the one beside it on
    // its side 3, the one above or below 3 and the diagonal one 1; edges repeat. `near` is the
    // chroma row the output row lies in, `far` the one above it (even output rows) or below it
    // (odd ones).
    void upsampleChroma(const unsigned char* near, const unsigned char* far, int chromaWidth,
                        unsigned char* out);
    // `width` pixels from luma and the two chroma rows at full size, by the JFIF equations in
    // fixed point (each chroma term rounded on its own), clamped to 0-255.
    void convert(const unsigned char* luma, const unsigned char* blue, const unsigned char* red,
                 int width, unsigned char* out) const;

  private:
    InstructionSet m_instructionSet;
    // Per chroma column, 3 × near + far, with the edge columns repeated on both sides.
    std::vector<std::int16_t> m_columnSums;
};

}  // namespace krt
