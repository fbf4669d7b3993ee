#include "media/jpeg_crop.h"

#include <turbojpeg.h>

#include <algorithm>
#include <new>

namespace krt {
namespace {

tjhandle newTransformer() {
    tjhandle handle = tjInitTransform();
    if (handle == nullptr) {
        throw std::bad_alloc();
    }
    return handle;
}

// Without the frame's application markers (EXIF, colour profiles), which the picture does not
// need and which could make the cut larger than TurboJPEG's worst case for its size, the
// buffer it is written into.
constexpr int kCropOptions = TJXOPT_CROP | TJXOPT_COPYNONE;
// A progressive frame with a hostile number of scans fails instead of taking a long time.
constexpr int kCropFlags = TJFLAG_NOREALLOC | TJFLAG_LIMITSCANS;

bool liesWithin(const Rect& part, PictureSize picture) {
    return part.x >= 0 && part.y >= 0 && part.width > 0 && part.height > 0 &&
           part.x <= picture.width - part.width && part.y <= picture.height - part.height;
}

bool endsTheImage(std::span<const unsigned char> jpeg) {
    return jpeg.size() >= 4 && jpeg[jpeg.size() - 2] == 0xFF && jpeg.back() == 0xD9;
}

}  // namespace

JpegCrop::JpegCrop() : m_transformer(newTransformer(), tjDestroy) {}

std::optional<CroppedJpeg> JpegCrop::crop(std::span<const unsigned char> jpeg, const Rect& part) {
    PictureSize picture;
    int subsampling = -1;  // none known
    int colourspace = 0;
    // The header's values are given also when the call fails over a warning.
    tjDecompressHeader3(m_transformer.get(), jpeg.data(), jpeg.size(), &picture.width,
                        &picture.height, &subsampling, &colourspace);
    if (subsampling < 0 || subsampling >= TJ_NUMSAMP) {
        // A header that fails to read leaves the handle within it.
        m_transformer.reset(newTransformer());
        return std::nullopt;
    }
    if (!liesWithin(part, picture)) {
        return std::nullopt;
    }
    // The cut starts where the block row and column of the part's top left pixel do.
    const int left = part.x - part.x % tjMCUWidth[subsampling];
    const int top = part.y - part.y % tjMCUHeight[subsampling];
    tjtransform transform{};
    transform.r = {left, top, part.x + part.width - left, part.y + part.height - top};
    transform.op = TJXOP_NONE;
    transform.options = kCropOptions;
    const unsigned long worstCase = tjBufSize(transform.r.w, transform.r.h, subsampling);
    if (worstCase == static_cast<unsigned long>(-1)) {
        return std::nullopt;
    }
    if (m_cut.size() < worstCase) {
        m_cut.resize(worstCase);
    }
    // A cut that fails leaves its size at the worst case: no end of image there then.
    m_cut[worstCase - 1] = 0;
    unsigned char* cut = m_cut.data();
    unsigned long cutSize = worstCase;
    // A damaged frame that the library reads past its faults is cut as it is decoded whole: it
    // reports them as a warning.
    const bool cropped = tjTransform(m_transformer.get(), jpeg.data(), jpeg.size(), 1, &cut,
                                     &cutSize, &transform, kCropFlags) == 0 ||
                         tjGetErrorCode(m_transformer.get()) == TJERR_WARNING;
    const std::span<const unsigned char> result(m_cut.data(), std::min(cutSize, worstCase));
    if (!cropped || !endsTheImage(result)) {
        return std::nullopt;
    }
    return CroppedJpeg{result,
                       {transform.r.w, transform.r.h},
                       {part.x - left, part.y - top, part.width, part.height}};
}

}  // namespace krt
