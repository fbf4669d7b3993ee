#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "video/picture_size.h"
#include "video/video_layout.h"

namespace krt {

// A part of a picture decoded alone: four bytes a pixel (blue, green, red, unused), rows
// top-down as the picture is stored, and where in them the part lies, which may be a little
// less than all of them.
struct DecodedPart {
    static constexpr int kBytesPerPixel = 4;

    std::vector<unsigned char> pixels;  // reused from part to part
    int bytesPerLine = 0;
    Rect part;

    const unsigned char* partPixels() const {
        return pixels.data() + static_cast<std::ptrdiff_t>(part.y) * bytesPerLine +
               static_cast<std::ptrdiff_t>(part.x) * kBytesPerPixel;
    }
};

// Decodes a part of a JPEG picture, as a zoomed view shows it, at the camera's own detail and
// no more work than the part needs: libjpeg decodes only the block columns of the part, and
// only the rows down to its last, at the smallest DCT scale (1/8 to 1) that leaves the part at
// least as large as it is drawn. Not for use by two threads at once.
class JpegPartDecoder {
  public:
    JpegPartDecoder();
    ~JpegPartDecoder();
    JpegPartDecoder(const JpegPartDecoder&) = delete;
    JpegPartDecoder& operator=(const JpegPartDecoder&) = delete;

    // `part` in pixels of the picture as stored, within it; `drawn` the size it is drawn at.
    // False when the frame does not decode, or the part is not in its picture.
    bool decode(std::span<const unsigned char> jpeg, const Rect& part, PictureSize drawn,
                DecodedPart& decoded);

  private:
    struct Decompressor;
    bool decodeRows(const Rect& part, PictureSize drawn, DecodedPart& decoded);

    std::unique_ptr<Decompressor> m_decompressor;
    std::vector<unsigned char*> m_rows;
};

}  // namespace krt
