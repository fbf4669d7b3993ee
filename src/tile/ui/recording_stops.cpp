#include "tile/ui/recording_stops.h"

namespace krt {

RecordingStops& RecordingStops::instance() {
    static RecordingStops stops;
    return stops;
}

}  // namespace krt
