#include "frame_renderer.h"

// Builds without Qt (the ThreadSanitizer build) have no fonts: pictures go without texts.
namespace krt::sim {

void drawTexts(std::span<const SceneText>, RasterImage&) {}

}  // namespace krt::sim
