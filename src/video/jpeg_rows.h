#pragma once

#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "video/picture_size.h"

namespace krt {

// A DCT scaling factor of the decoder, num/denom.
struct ScalingFactor {
    int num = 1;
    int denom = 1;

    bool operator==(const ScalingFactor&) const = default;
};

// Where a frame's decoded rows go, and who hears of them as they arrive.
class JpegRowSink {
  public:
    virtual ~JpegRowSink() = default;
    // How many rows past the last reported count may be written before they are reported.
    virtual int rowsAhead() const = 0;
    // Where decoded row `row` (0 is the picture's top) is written: width times 4 bytes.
    virtual unsigned char* rowAddress(int row) = 0;
    // Every row below `count` has been written.
    virtual void rowsDecoded(int count) = 0;
};

// Decodes a JPEG at one of the decoder's DCT scales to 4-byte pixels in blue, green, red,
// unused order, a few rows at a time into a sink, so that a sink that uses each row at once
// keeps its working set small. Warnings (a damaged but readable frame) do not stop it; errors
// end the frame. Not for use by two threads at once.
class JpegRowReader {
  public:
    JpegRowReader();
    ~JpegRowReader();
    JpegRowReader(const JpegRowReader&) = delete;
    JpegRowReader& operator=(const JpegRowReader&) = delete;

    // The scales the decoder offers, N/8 for N from 1 to 16.
    static std::vector<ScalingFactor> scalingFactors();

    // Reads the frame's header and keeps the frame open for decode(); the size it announces,
    // or nothing when it is no readable JPEG.
    std::optional<PictureSize> start(std::span<const unsigned char> jpeg);
    // Decodes the started frame to its end and closes it; false on an error or when its scaled
    // size is not `expected`.
    bool decode(ScalingFactor factor, PictureSize expected, JpegRowSink& sink);
    // Closes the frame, whether it was decoded or not.
    void finish();

  private:
    bool decodeRows(JpegRowSink& sink);

    struct Decompressor;
    std::unique_ptr<Decompressor> m_decompressor;
    std::vector<unsigned char*> m_rowAddresses;
};

}  // namespace krt
