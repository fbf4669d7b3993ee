// The one rule by which every view shows a server's text: whatever the bytes, what comes out
// is one bounded line of valid UTF-8 with nothing in it that is invisible or reorders the text,
// and showing it again changes nothing.
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "common/server_text.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string shown = krt::shownServerText(text);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(shown.data());
    const auto length = static_cast<std::int32_t>(shown.size());
    std::size_t characters = 0;
    for (std::int32_t at = 0; at < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, at, length, c);
        FUZZ_CHECK(c >= 0);
        const std::int8_t type = u_charType(c);
        FUZZ_CHECK(type != U_CONTROL_CHAR && type != U_FORMAT_CHAR && type != U_LINE_SEPARATOR &&
                   type != U_PARAGRAPH_SEPARATOR);
        ++characters;
    }
    FUZZ_CHECK(characters <= krt::kShownTextCharacters);
    FUZZ_CHECK(krt::shownServerText(shown) == shown);
    return 0;
}
