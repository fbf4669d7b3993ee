#pragma once

#include <optional>
#include <span>
#include <vector>

#include "video/jpeg_rows.h"
#include "video/picture_resampler.h"
#include "video/picture_size.h"
#include "video/planar_fit.h"

namespace krt {

// A decoded picture: four bytes per pixel, blue, green, red and an unused byte in memory order
// (what a 32-bit RGB image of the window toolkit reads on a little-endian machine), stored
// bottom-up: the first row in memory is the picture's bottom row. Drawn top-down as it lies,
// the picture shows mirrored top to bottom, as the window is specified to draw it.
struct DecodedPicture {
    static constexpr int kBytesPerPixel = 4;

    PictureSize size;
    std::vector<unsigned char> pixels;  // reused from frame to frame

    int bytesPerLine() const { return size.width * kBytesPerPixel; }
};

// The size the decoder gives a picture at that factor (rounding up, as the decoder does).
PictureSize scaledSize(PictureSize source, ScalingFactor factor);

// Of the factors, the one whose picture is the smallest still at least the target in both
// directions; the largest factor when none reaches the target.
ScalingFactor chooseScalingFactor(PictureSize source, PictureSize target,
                                  std::span<const ScalingFactor> factors);

// Decodes JPEG frames to the size they are drawn at: by the decoder's own DCT scaling to the
// nearest size at least as large, then resampled bilinearly to the exact size, each row as soon
// as the decoder has given the rows it reads. YCbCr frames are resampled as planes before their
// colours are converted, where the processor has AVX2 or AVX-512; other frames, and other
// processors, resample the decoded pixels. One per stream: it keeps its decoders and scratch
// buffers from frame to frame. Not for use by two threads at once.
class FrameDecoder {
  public:
    // Larger decoded pictures are refused, whatever their frame claims.
    static constexpr long kMaxDecodedPixels = 4096L * 4096L;

    explicit FrameDecoder(InstructionSet ceiling = InstructionSet::Avx512);

    // The picture size the frame announces, or nothing when it is no readable JPEG.
    std::optional<PictureSize> readSize(std::span<const unsigned char> jpeg);
    // Decodes into `picture`, which then has exactly the target size. A frame that does not
    // decode leaves it unchanged, is counted and yields false.
    bool decode(std::span<const unsigned char> jpeg, PictureSize target, DecodedPicture& picture);
    int failedFrames() const { return m_failedFrames; }

  private:
    // The frame's header has been read by m_rowReader.
    bool decodeScaled(PictureSize source, PictureSize target, DecodedPicture& picture);
    bool decodeExactly(ScalingFactor factor, PictureSize size);
    bool decodeFitted(ScalingFactor factor, PictureSize scaled, PictureSize target);
    bool fitsPlanes(ScalingFactor factor);

    std::vector<ScalingFactor> m_factors;
    // The next picture, filled while the current one stays whole; the two trade places.
    std::vector<unsigned char> m_next;
    JpegRowReader m_rowReader;
    std::vector<unsigned char> m_spareRows;  // decoded rows on their way into the picture
    PictureResampler m_resampler;
    // Without AVX2 the decoder's own conversion and the pixel resampler are faster.
    bool m_planesFaster;
    PlanarFit m_planarFit;
    int m_failedFrames = 0;
};

}  // namespace krt
