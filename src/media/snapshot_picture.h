#pragma once

#include <optional>
#include <span>

#include "media/frame_decoder.h"

namespace krt {

// Snapshots are kept decoded at most this large; the alert scales them from there.
inline constexpr PictureSize kSnapshotKeepLimit{960, 720};

// The largest size with the picture's proportions that fits the area (enlarging if need be);
// nothing fits an empty picture or area.
PictureSize scaleToFit(PictureSize picture, PictureSize area);

// Whether the bytes hold one whole JPEG: its start marker first and its end marker last. A
// truncated download lacks the end marker.
bool isWholeJpeg(std::span<const unsigned char> bytes);

// The snapshot decoded right way up (the server stores it upside down), at its own size or
// shrunk with its proportions to fit `limit`. Nothing when the bytes are no whole JPEG, do not
// decode, or claim more pixels than the decoder's cap allows at any of its scales.
std::optional<DecodedPicture> decodeSnapshot(std::span<const unsigned char> jpeg,
                                             PictureSize limit = kSnapshotKeepLimit);

}  // namespace krt
