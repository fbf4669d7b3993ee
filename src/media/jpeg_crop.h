#pragma once

#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "media/geometry.h"
#include "media/picture_size.h"

namespace krt {

// A frame cut down to the part of its picture that a zoomed view shows. Valid until the next
// cut.
struct CroppedJpeg {
    std::span<const unsigned char> jpeg;
    PictureSize size;  // of the cut picture
    Rect part;         // where the part lies in it, rows top-down
};

// Cuts a JPEG frame down to the blocks that hold a part of its picture, without decoding it:
// TurboJPEG's lossless crop moves their coefficients into a JPEG of their own, from the block
// row and column where the part starts (which the sampling of the colours sets) to its right
// and bottom edges. Decoding that small JPEG gives the same pixels as decoding the whole
// picture, for a fraction of the decoder's work. Not for use by two threads at once.
class JpegCrop {
  public:
    JpegCrop();

    // `part` in pixels of the picture, rows top-down as it is stored. Nothing when the frame
    // cannot be cut (no readable JPEG, a sampling of the colours that TurboJPEG has no name
    // for) or the part does not lie within its picture.
    std::optional<CroppedJpeg> crop(std::span<const unsigned char> jpeg, const Rect& part);

  private:
    std::unique_ptr<void, int (*)(void*)> m_transformer;  // TurboJPEG's handle
    std::vector<unsigned char> m_cut;
};

}  // namespace krt
