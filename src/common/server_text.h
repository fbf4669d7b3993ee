#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace krt {

// The most characters of one server text that are shown; a longer text is cut and ends in
// "…". Room for every field the server fills (at most 255 characters) written out in full.
inline constexpr std::size_t kShownTextCharacters = 300;

// Text from the server (UTF-8 as received) as the operator is shown it: printable text of any
// script as it is; every character that would be obeyed or hidden rather than seen (controls
// and line breaks, bidirectional controls such as U+202E, zero-width and other invisible
// format characters) written out as "⟨U+202E⟩"; each piece that is not UTF-8 as U+FFFD.
// The result is one line of valid UTF-8 of at most kShownTextCharacters characters.
std::string shownServerText(std::string_view serverText);

}  // namespace krt
