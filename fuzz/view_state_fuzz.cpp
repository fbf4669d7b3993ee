// The view kept for the next start, as read back from the settings: any text is a view or
// nothing (never an exception), and a view written back reads back the same.
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "video/view_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<krt::ViewState> state = krt::parseViewState(text);
    if (state) {
        FUZZ_CHECK(krt::parseViewState(krt::viewStateText(*state)) == state);
    }
    return 0;
}
