#pragma once

#include <memory>
#include <span>

#include "video/picture_size.h"

namespace krt {

// A DCT scaling factor of the decoder, num/denom.
struct ScalingFactor {
    int num = 1;
    int denom = 1;

    bool operator==(const ScalingFactor&) const = default;
};

// Decodes a JPEG one row at a time, at one of the decoder's DCT scales, to 4-byte pixels in
// blue, green, red, unused order, top row first. A row is decoded only when it is asked for,
// so a caller that uses each row at once keeps its working set small. Warnings (a damaged
// but readable frame) do not stop it; errors end the frame. Not for use by two threads at once.
class JpegRowReader {
  public:
    JpegRowReader();
    ~JpegRowReader();
    JpegRowReader(const JpegRowReader&) = delete;
    JpegRowReader& operator=(const JpegRowReader&) = delete;

    // Starts a frame; false when it does not start or its scaled size is not `expected`.
    bool start(std::span<const unsigned char> jpeg, ScalingFactor factor, PictureSize expected);
    // Decodes the next row into `row`, which holds the width times 4 bytes; false on an error,
    // which ends the frame.
    bool readRow(unsigned char* row);
    // Ends the frame, whether its rows were all read or not.
    void finish();

  private:
    struct Decompressor;
    std::unique_ptr<Decompressor> m_decompressor;
};

}  // namespace krt
