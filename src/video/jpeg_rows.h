#pragma once

#include <array>
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

// The planes of a YCbCr frame as the decoder holds them before it upsamples and converts them:
// luma at the scaled size, chroma at that size too or at half of it both ways, rounded up.
struct PlaneLayout {
    PictureSize luma;
    PictureSize chroma;
    // Bytes from row to row, and rows, that a plane needs: the decoder writes whole blocks.
    int lumaStride = 0;
    int chromaStride = 0;
    int lumaRows = 0;
    int chromaRows = 0;

    bool halfChroma() const { return chroma != luma; }
};

// Where a frame's planes go, and who hears of their rows as they arrive.
class JpegPlaneSink {
  public:
    virtual ~JpegPlaneSink() = default;
    // Where the planes go, luma, blue and red chroma, each whole at the layout's strides.
    virtual std::array<unsigned char*, 3> planes(const PlaneLayout& layout) = 0;
    // Every luma row below `lumaRows` and every chroma row below `chromaRows` has been written.
    virtual void rowsDecoded(int lumaRows, int chromaRows) = 0;
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
    // After start(): the planes of the frame's decode at `factor`, when its colours are YCbCr
    // with chroma at the luma's size or at half of it both ways; nothing otherwise.
    std::optional<PlaneLayout> planeLayout(ScalingFactor factor);
    // Decodes the started frame into planes, laid out as planeLayout() told, and closes it;
    // false on an error.
    bool decodePlanes(JpegPlaneSink& sink);
    // Closes the frame, whether it was decoded or not.
    void finish();

  private:
    bool decodeRows(JpegRowSink& sink);
    bool readPlanes(JpegPlaneSink& sink);

    struct Decompressor;
    std::unique_ptr<Decompressor> m_decompressor;
    std::vector<unsigned char*> m_rowAddresses;
    PlaneLayout m_layout;
    std::array<std::vector<unsigned char*>, 3> m_planeRows;
};

}  // namespace krt
