#include "common/server_text.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol/diag_log.h"
#include "support/log_capture.h"

namespace krt {
namespace {

std::size_t characters(std::string_view utf8) {
    std::size_t count = 0;
    for (const char byte : utf8) {
        count += (static_cast<unsigned char>(byte) & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

std::string repeated(std::string_view piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

struct HostileText {
    const char* what;
    std::string text;
    std::string shown;
};

void PrintTo(const HostileText& c, std::ostream* out) {
    *out << c.what;
}

class ServerText : public testing::TestWithParam<HostileText> {};

TEST_P(ServerText, IsShownAsItReadsWithHiddenCharactersWrittenOut) {
    const std::string shown = shownServerText(GetParam().text);
    EXPECT_EQ(shown, GetParam().shown);
    EXPECT_LE(characters(shown), kShownTextCharacters);
    // What is shown is shown again unchanged: no view can make more of it.
    EXPECT_EQ(shownServerText(shown), shown);
}

// Server text reaches the diagnostic log only as shown: one entry, on one line, whatever the
// server sent.
TEST_P(ServerText, IsLoggedAsShownInOneEntryOnOneLine) {
    const test::LogCapture log;
    writeLog("KRT", "DVideoWindow::reconnect()", shownServerText(GetParam().text).c_str());
    EXPECT_EQ(log.count("\n"), 1);
    EXPECT_EQ(log.count("\r"), 0);
    EXPECT_TRUE(log.contains("-DVideoWindow::reconnect()-" + GetParam().shown + "-"));
}

const std::string kCodeOf202E = "\u27E8U+202E\u27E9";

INSTANTIATE_TEST_SUITE_P(
    Hostile, ServerText,
    testing::Values(
        HostileText{"plain", "Door Open", "Door Open"}, HostileText{"empty", "", ""},
        // Markup is printable text: the views show it as such, never render it.
        HostileText{"markup", "<font size=7 color=red>ALARM</font>",
                    "<font size=7 color=red>ALARM</font>"},
        HostileText{"local image", "<img src=\"/home/operator/secret.png\">",
                    "<img src=\"/home/operator/secret.png\">"},
        HostileText{"fake all clear",
                    "<table bgcolor=yellow><tr><td>FAKE: Door Closed, all clear</td></tr></table>",
                    "<table bgcolor=yellow><tr><td>FAKE: Door Closed, all clear</td></tr></table>"},
        HostileText{"right-to-left override", "\u202ENEPO ROOD", kCodeOf202E + "NEPO ROOD"},
        HostileText{"embeddings, isolates and marks",
                    "a\u202Ab\u202Bc\u202Cd\u202De\u2066f\u2067g\u2068h\u2069i\u200Ej\u200Fk\u061C",
                    "a⟨U+202A⟩b⟨U+202B⟩c⟨U+202C⟩d⟨U+202D⟩e⟨U+2066⟩f⟨U+2067⟩g⟨U+2068⟩h⟨U+2069⟩i"
                    "⟨U+200E⟩j⟨U+200F⟩k⟨U+061C⟩"},
        HostileText{"zero-width", "D\u200Bo\u200Co\u200Dr Open",
                    "D⟨U+200B⟩o⟨U+200C⟩o⟨U+200D⟩r Open"},
        HostileText{"other invisible",
                    "\uFEFFa\u00ADb\u2060c\u2061d\u2064e\u180Ef\u115Fg\u3164h\U000E0041",
                    "⟨U+FEFF⟩a⟨U+00AD⟩b⟨U+2060⟩c⟨U+2061⟩d⟨U+2064⟩e⟨U+180E⟩f⟨U+115F⟩g⟨U+3164⟩h"
                    "⟨U+E0041⟩"},
        HostileText{"controls and line breaks",
                    std::string("a\tb\nc\rd\x1B[2J\x7F") + std::string(1, '\0') +
                        "\u0085\u009B\u2028\u2029",
                    "a⟨U+0009⟩b⟨U+000A⟩c⟨U+000D⟩d⟨U+001B⟩[2J⟨U+007F⟩⟨U+0000⟩⟨U+0085⟩⟨U+009B⟩"
                    "⟨U+2028⟩⟨U+2029⟩"},
        HostileText{"noncharacter", "a\uFFFFb", "a⟨U+FFFF⟩b"},
        HostileText{
            "invalid UTF-8",
            "a\xFF"
            "b\xC3"
            "c\xC0\xAF"
            "d\xED\xA0\x80"
            "e\xF4\x90\x80\x80"
            "f\xE2\x82",
            "a\uFFFDb\uFFFDc\uFFFD\uFFFDd\uFFFD\uFFFD\uFFFDe\uFFFD\uFFFD\uFFFD\uFFFDf\uFFFD"},
        HostileText{"scripts of the world",
                    "باب مفتوح דלת פתוחה 門が開いている Дверь दरवाज़ा ประตู\u00A0A",
                    "باب مفتوح דלת פתוחה 門が開いている Дверь दरवाज़ा ประตู\u00A0A"},
        HostileText{"emoji keep their look", "\u26A0\uFE0F \U0001F44D\U0001F3FD",
                    "\u26A0\uFE0F \U0001F44D\U0001F3FD"},
        HostileText{"just fits", repeated("A", 300), repeated("A", 300)},
        HostileText{"one too many", repeated("A", 301), repeated("A", 299) + "\u2026"},
        HostileText{"10,000 characters", repeated("\u00E9", 10'000),
                    repeated("\u00E9", 299) + "\u2026"},
        HostileText{"10,000 overrides", repeated("\u202E", 10'000),
                    repeated(kCodeOf202E, 37) + "\u2026"}));

}  // namespace
}  // namespace krt
