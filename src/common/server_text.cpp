#include "common/server_text.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <limits>

namespace krt {
namespace {

constexpr std::string_view kReplacement = "\uFFFD";
constexpr std::string_view kCut = "\u2026";

// Characters that change how the text around them reads, or take no room of their own: the
// operator must see that they are there. Variation selectors only pick the look of the
// character before them (an emoji's colour form), so they stay.
bool isShownAsCode(UChar32 c) {
    switch (u_charType(c)) {
        case U_CONTROL_CHAR:
        case U_FORMAT_CHAR:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR:
        case U_SURROGATE:
            return true;
        default:
            break;
    }
    return u_hasBinaryProperty(c, UCHAR_NONCHARACTER_CODE_POINT) ||
           (u_hasBinaryProperty(c, UCHAR_DEFAULT_IGNORABLE_CODE_POINT) &&
            !u_hasBinaryProperty(c, UCHAR_VARIATION_SELECTOR));
}

std::string codeText(UChar32 c) {
    std::array<char, 24> text{};
    std::snprintf(text.data(), text.size(), "\u27E8U+%04X\u27E9", static_cast<unsigned>(c));
    return text.data();
}

std::size_t characterCount(std::string_view utf8) {
    std::size_t count = 0;
    for (const char byte : utf8) {
        count += (static_cast<unsigned char>(byte) & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

}  // namespace

std::string shownServerText(std::string_view serverText) {
    std::string shown;
    std::size_t shownCharacters = 0;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(serverText.data());
    const auto length = static_cast<std::int32_t>(
        std::min<std::size_t>(serverText.size(), std::numeric_limits<std::int32_t>::max()));
    std::int32_t at = 0;
    while (at < length) {
        const std::int32_t start = at;
        UChar32 c = 0;
        U8_NEXT(bytes, at, length, c);
        std::string piece;
        if (c < 0) {
            piece = kReplacement;
        } else if (isShownAsCode(c)) {
            piece = codeText(c);
        } else {
            piece.assign(serverText.substr(static_cast<std::size_t>(start),
                                           static_cast<std::size_t>(at - start)));
        }
        const std::size_t pieceCharacters = characterCount(piece);
        // The cut mark needs a character of its own, unless this is the last piece.
        const std::size_t room = kShownTextCharacters - shownCharacters - (at < length ? 1 : 0);
        if (pieceCharacters > room) {
            shown += kCut;
            break;
        }
        shown += piece;
        shownCharacters += pieceCharacters;
    }
    return shown;
}

}  // namespace krt
