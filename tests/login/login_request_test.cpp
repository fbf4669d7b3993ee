#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "login/fake_server.h"
#include "login/login_sequence.h"
#include "protocol/requests.h"

namespace krt {
namespace {

struct ValidateUserCase {
    std::string userName;
    std::string password;
    std::string text;  // the serialised request, before its zero half
};

void PrintTo(const ValidateUserCase& c, std::ostream* out) {
    *out << c.userName;
}

class ValidateUserPayload : public ::testing::TestWithParam<ValidateUserCase> {};

TEST_P(ValidateUserPayload, IsTheRequestTextFollowedByAsManyZeroBytes) {
    const ValidateUserCase& c = GetParam();
    const std::string payload = buildValidateUserPayload(c.userName, c.password);

    ASSERT_EQ(payload.size(), 2 * c.text.size());
    EXPECT_EQ(payload.substr(0, c.text.size()), c.text);
    EXPECT_EQ(payload.substr(c.text.size()), std::string(c.text.size(), '\0'));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ValidateUserPayload,
    ::testing::Values(
        ValidateUserCase{"U", "P",
                         "<kmRequest><kmRequestID>validateuser</kmRequestID><kmRequestData>"
                         "<UserName>U</UserName><Password>P</Password></kmRequestData>"
                         "</kmRequest>"},
        // An empty password still sends its element.
        ValidateUserCase{"guard", "",
                         "<kmRequest><kmRequestID>validateuser</kmRequestID><kmRequestData>"
                         "<UserName>guard</UserName><Password></Password></kmRequestData>"
                         "</kmRequest>"},
        // Text nodes are escaped by the serialiser, so no entry can break the envelope.
        ValidateUserCase{"a<b", "x&y>z</Password>",
                         "<kmRequest><kmRequestID>validateuser</kmRequestID><kmRequestData>"
                         "<UserName>a&lt;b</UserName><Password>x&amp;y&gt;z&lt;/Password&gt;"
                         "</Password></kmRequestData></kmRequest>"},
        ValidateUserCase{std::string(31, 'n'), std::string(255, 'p'),
                         "<kmRequest><kmRequestID>validateuser</kmRequestID><kmRequestData>"
                         "<UserName>" +
                             std::string(31, 'n') + "</UserName><Password>" +
                             std::string(255, 'p') + "</Password></kmRequestData></kmRequest>"}));

struct TemplateCase {
    std::string name;
    std::string produced;
    std::string expected;
};

void PrintTo(const TemplateCase& c, std::ostream* out) {
    *out << c.name;
}

class FormattedRequest : public ::testing::TestWithParam<TemplateCase> {};

TEST_P(FormattedRequest, MatchesItsTemplateByteForByte) {
    EXPECT_EQ(GetParam().produced, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, FormattedRequest,
    ::testing::Values(
        TemplateCase{"Version", versionRequest(),
                     "<kmRequest>\t\t\t<kmRequestID>getMobileClientCommunicationVersion"
                     "</kmRequestID>\t\t\t<kmRequestData/></kmRequest>"},
        TemplateCase{"ChannelList", channelListRequest("guard"),
                     "<kmRequest>\t\t\t<kmRequestID>getAuthorizedChannelsIDList</kmRequestID>"
                     "\t\t\t<kmRequestData><UserName>guard</UserName></kmRequestData>"
                     "</kmRequest>"},
        TemplateCase{"Details", channelRequest("getVideoChannelDetails", "7"),
                     "<kmRequest>\t\t\t<kmRequestID>getVideoChannelDetails</kmRequestID>"
                     "\t\t\t<kmRequestData>\t\t\t\t<kmChannelID>7</kmChannelID>\t\t\t"
                     "</kmRequestData></kmRequest>"},
        TemplateCase{"Ptz", channelRequest("getCameraPTZStatus", "Gate-2"),
                     "<kmRequest>\t\t\t<kmRequestID>getCameraPTZStatus</kmRequestID>"
                     "\t\t\t<kmRequestData>\t\t\t\t<kmChannelID>Gate-2</kmChannelID>\t\t\t"
                     "</kmRequestData></kmRequest>"}),
    test::CaseName{});

}  // namespace
}  // namespace krt
