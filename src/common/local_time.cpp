#include "common/local_time.h"

#include <iterator>
#include <locale>
#include <sstream>

namespace krt {
namespace {

using std::chrono::system_clock;

// Whole seconds rounded down, so that a time before the epoch keeps its milliseconds positive.
std::chrono::sys_seconds wholeSeconds(system_clock::time_point time) {
    return std::chrono::floor<std::chrono::seconds>(time);
}

}  // namespace

std::string formatTime(const std::tm& parts, std::string_view format) {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    std::use_facet<std::time_put<char>>(text.getloc())
        .put(std::ostreambuf_iterator<char>(text), text, ' ', &parts, format.data(),
             format.data() + format.size());
    return text.str();
}

std::string formatLocalTime(system_clock::time_point time, std::string_view format) {
    const std::time_t seconds = system_clock::to_time_t(wholeSeconds(time));
    std::tm parts{};
    localtime_r(&seconds, &parts);
    return formatTime(parts, format);
}

std::string formatLocalTimeMs(system_clock::time_point time, std::string_view format) {
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(time - wholeSeconds(time)).count();
    std::string text = formatLocalTime(time, format);
    text += static_cast<char>('0' + milliseconds / 100);
    text += static_cast<char>('0' + milliseconds / 10 % 10);
    text += static_cast<char>('0' + milliseconds % 10);
    return text;
}

}  // namespace krt
