#include "stream/connection_text.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

struct ParseCase {
    std::string text;
    std::optional<ConnectionTarget> expected;
};

void PrintTo(const ParseCase& c, std::ostream* out) {
    *out << '"' << c.text.substr(0, 40) << '"';
}

class ConnectionTextParse : public testing::TestWithParam<ParseCase> {};

TEST_P(ConnectionTextParse, SplitsAddressChannelAndPort) {
    EXPECT_EQ(parseConnectionText(GetParam().text), GetParam().expected);
}

const std::string kLongest(kMaxConnectionPart, 'c');

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectionTextParse,
    testing::Values(ParseCase{"10.0.0.5:7", ConnectionTarget{"10.0.0.5", "7", 5500}},
                    ParseCase{"10.0.0.5:7:6000", ConnectionTarget{"10.0.0.5", "7", 6000}},
                    ParseCase{"10.0.0.5", std::nullopt}, ParseCase{"", std::nullopt},
                    // The port follows the last ':'; the channel keeps the ones before it.
                    ParseCase{"10.0.0.5:cam:81:99", ConnectionTarget{"10.0.0.5", "cam:81", 99}},
                    ParseCase{"10.0.0.5:a:b", ConnectionTarget{"10.0.0.5", "a", 0}},
                    ParseCase{"10.0.0.5:7:abc", ConnectionTarget{"10.0.0.5", "7", 0}},
                    ParseCase{"10.0.0.5:7:", ConnectionTarget{"10.0.0.5", "7", 0}},
                    ParseCase{":7", ConnectionTarget{"", "7", 5500}},
                    ParseCase{"1.2.3.4:" + kLongest, ConnectionTarget{"1.2.3.4", kLongest, 5500}},
                    ParseCase{"1.2.3.4:" + kLongest + "c", std::nullopt},
                    ParseCase{kLongest + "a:7", std::nullopt}));

TEST(ConnectionTextFormat, TheTileTextParsesBackToItsParts) {
    const std::string text = formatConnectionText("127.0.0.1", "Gate 7", 5500);
    EXPECT_EQ(text, "127.0.0.1:Gate 7:5500");
    EXPECT_EQ(parseConnectionText(text), (ConnectionTarget{"127.0.0.1", "Gate 7", 5500}));
}

TEST(ConnectionTextFormat, ChannelIdsHoldingColonsParseBack) {
    for (const std::string channel : {":", "a:b", ":7:", "cam::81:"}) {
        const std::string text = formatConnectionText("10.0.0.5", channel, 6000);
        EXPECT_EQ(parseConnectionText(text), (ConnectionTarget{"10.0.0.5", channel, 6000})) << text;
    }
}

}  // namespace
}  // namespace krt
