#pragma once

#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "media/digital_zoom.h"
#include "media/jpeg_crop.h"
#include "media/picture_size.h"

namespace krt {

// A decoded picture: four bytes per pixel, blue, green, red and an unused byte in memory order
// (what a 32-bit RGB image of the window toolkit reads on a little-endian machine), stored
// bottom-up: the first row in memory is the picture's bottom row. Drawn top-down as it lies,
// the picture shows mirrored top to bottom, as the window is specified to draw it.
struct DecodedPicture {
    static constexpr int kBytesPerPixel = 4;

    PictureSize size;
    std::vector<unsigned char> pixels;  // reused from frame to frame
    PictureSize source;                 // of the frame's whole picture

    int bytesPerLine() const { return size.width * kBytesPerPixel; }
};

// A DCT scaling factor of the JPEG decoder, num/denom.
struct ScalingFactor {
    int num = 1;
    int denom = 1;

    bool operator==(const ScalingFactor&) const = default;
};

// The size the decoder gives a picture at that factor (rounding up, as the decoder does).
PictureSize scaledSize(PictureSize source, ScalingFactor factor);

// Of the factors, the one whose picture is the smallest still at least the target in both
// directions; the largest factor when none reaches the target.
ScalingFactor chooseScalingFactor(PictureSize source, PictureSize target,
                                  std::span<const ScalingFactor> factors);

// Decodes JPEG frames to the size they are drawn at: by TurboJPEG's DCT scaling to the nearest
// size at least as large, then, when that is not the size, by libyuv's bilinear scaling of the
// decoded pixels. Of a zoomed view only the blocks of the part shown are decoded, at the scale
// the part needs, so that it shows the camera's detail. One per stream: it keeps its decoders
// and buffers from frame to frame. Not for use by two threads at once.
class FrameDecoder {
  public:
    // Larger decoded pictures are refused, whatever their frame claims.
    static constexpr long kMaxDecodedPixels = 4096L * 4096L;
    // Frames announcing a larger picture are refused: a progressive frame, and any frame cut
    // for a zoomed view, holds the coefficients of its whole picture while it is read, 2 to 6
    // bytes a pixel.
    static constexpr long kMaxSourcePixels = 8192L * 4096L;

    FrameDecoder();

    // The picture size the frame announces, or nothing when it is no readable JPEG.
    std::optional<PictureSize> readSize(std::span<const unsigned char> jpeg);
    // Decodes into `picture`, which then has exactly the target size: the whole picture, or
    // `part` of it (in fractions of the picture as it is drawn). A frame that does not decode
    // leaves it unchanged, is counted and yields false.
    bool decode(std::span<const unsigned char> jpeg, PictureSize target, DecodedPicture& picture,
                const ZoomRegion& part = {});
    int failedFrames() const { return m_failedFrames; }

  private:
    bool decodeTo(std::span<const unsigned char> jpeg, PictureSize size, unsigned char* pixels,
                  int bytesPerLine);
    bool decodePart(std::span<const unsigned char> jpeg, PictureSize source, const ZoomRegion& part,
                    PictureSize target);
    // The region of the picture (in its pixels, rows top-down) at the target size: the picture
    // at the smallest DCT scale at which the region reaches the target, then the region alone
    // scaled to it.
    bool decodeRegion(std::span<const unsigned char> jpeg, PictureSize size, const Rect& region,
                      PictureSize target, std::span<const ScalingFactor> factors);

    std::unique_ptr<void, int (*)(void*)> m_decompressor;  // TurboJPEG's handle
    std::vector<ScalingFactor> m_factors;
    // A part is decoded at most at the camera's own size: the decoder's enlarging scales cost
    // four times as much as its own and add no detail over the bilinear scaling.
    std::vector<ScalingFactor> m_partFactors;
    // The next picture, filled while the current one stays whole; the two trade places.
    std::vector<unsigned char> m_next;
    // The picture at the DCT scale, on its way to the target size.
    std::vector<unsigned char> m_scaled;
    // A zoomed view's part, cut out of the frame before it is decoded.
    JpegCrop m_crop;
    int m_failedFrames = 0;
};

}  // namespace krt
