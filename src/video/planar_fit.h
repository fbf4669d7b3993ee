#pragma once

#include <array>
#include <vector>

#include "video/instruction_set.h"
#include "video/jpeg_rows.h"
#include "video/picture_resampler.h"
#include "video/picture_size.h"
#include "video/ycc_rows.h"

namespace krt {

// Decodes a YCbCr frame to any size by fitting its planes before colour conversion: half-size
// chroma is first brought to full size as the decoder would, then the three planes are resampled
// bilinearly, a byte a sample, and converted to pixels at the target size. The same filters as
// fitting the decoded pixels, on a byte a sample instead of four a pixel, and no conversion of
// pixels that the fit drops. Keeps its buffers from frame to frame. Not for use by two threads
// at once.
class PlanarFit final : private JpegPlaneSink {
  public:
    explicit PlanarFit(InstructionSet ceiling = InstructionSet::Avx512);

    // Decodes the frame that `reader` has started, laid out as its planeLayout() told, into
    // `target`: `targetSize` pixels of 4 bytes, stored bottom-up. False on a decoding error.
    bool decode(JpegRowReader& reader, PictureSize targetSize, unsigned char* target);

  private:
    static constexpr std::size_t kPlanes = 3;  // luma, blue and red chroma

    // A plane's rows at the decoded size, and its rows fitted to the target size.
    struct Plane {
        unsigned char* rows = nullptr;
        std::size_t stride = 0;
        unsigned char* fitted = nullptr;
        int fittedRows = 0;

        unsigned char* row(int y) const { return rows + static_cast<std::size_t>(y) * stride; }
    };

    std::array<unsigned char*, kPlanes> planes(const PlaneLayout& layout) override;
    void rowsDecoded(int lumaRows, int chromaRows) override;
    // Brings to full size the chroma rows whose half-size rows are below `chromaRows`.
    void upsampleRows(int chromaRows);
    // Fits the plane's target rows whose source rows are below `sourceRows`.
    void fitRows(Plane& plane, int sourceRows);
    unsigned char* fittedRow(const Plane& plane, int y) const;

    PictureResampler m_resampler;
    YccRows m_ycc;
    std::vector<unsigned char> m_decoded;   // the planes as decoded
    std::vector<unsigned char> m_fullSize;  // half-size chroma brought to full size
    std::vector<unsigned char> m_fitted;    // the planes at the target size
    PlaneLayout m_layout;
    std::array<unsigned char*, kPlanes> m_decodedPlanes{};
    std::array<Plane, kPlanes> m_planes;  // chroma: decoded or brought to full size
    int m_fullSizeRows = 0;
    PictureSize m_targetSize;
    unsigned char* m_target = nullptr;
    int m_converted = 0;
};

}  // namespace krt
