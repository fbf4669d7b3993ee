#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "video/picture_size.h"

namespace krt {

// Resizes pictures of 4-byte pixels by bilinear interpolation in 8-bit fixed point, pixel
// centres aligned; both buffers keep the same row order. It keeps its tables and its row
// buffer from picture to picture while the sizes stay. Not for use by two threads at once.
class PictureResampler {
  public:
    // `source` holds sourceSize, `target` targetSize pictures, rows without padding.
    void resample(std::span<const unsigned char> source, PictureSize sourceSize,
                  std::span<unsigned char> target, PictureSize targetSize);

  private:
    // Where one output pixel or row reads: the first of its two neighbours and the weight
    // (0 to 256) of the second.
    struct Tap {
        int first = 0;
        int weight = 0;
    };

    void prepare(PictureSize sourceSize, PictureSize targetSize);
    void blendRows(const unsigned char* upper, const unsigned char* lower, int weight,
                   std::size_t bytes);
    void blendColumns(const unsigned char* row, unsigned char* out) const;

    PictureSize m_sourceSize;
    PictureSize m_targetSize;
    std::vector<Tap> m_rows;
    std::vector<Tap> m_columns;
    // Per output pixel, the weights of its two neighbours, each repeated for the 4 bytes.
    std::vector<std::uint16_t> m_columnWeights;
    std::vector<unsigned char> m_blendedRow;
};

}  // namespace krt
