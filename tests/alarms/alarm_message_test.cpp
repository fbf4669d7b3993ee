#include "alarms/alarm_message.h"

#include <gtest/gtest.h>

#include <string>

#include "alarms/alarm_time.h"
#include "protocol/xml_message.h"

namespace krt {
namespace {

using namespace std::string_literals;

std::string asText(const std::vector<char>& payload) {
    return {payload.begin(), payload.end()};
}

TEST(AlarmRequests, SubscriptionIsTheWholeDocumentAndTwoZeroBytes) {
    const auto payload = subscriptionRequest();
    ASSERT_TRUE(payload.has_value());
    EXPECT_EQ(asText(*payload),
              "<kmRequest><kmRequestID>setalarmnotifications</kmRequestID></kmRequest>\0\0"s);
}

TEST(AlarmRequests, ImageRequestSendsChannelNameAndSeventeenDigitsInThatOrder) {
    const auto payload = alarmImageRequest("7", "Motion", parseAlarmTimestamp("2013112510303"));
    ASSERT_TRUE(payload.has_value());
    EXPECT_EQ(asText(*payload),
              "<kmRequest><kmRequestID>getAlarmImage</kmRequestID><kmRequestData>"
              "<kmAlarmChannelID>7</kmAlarmChannelID><kmAlarmName>Motion</kmAlarmName>"
              "<kmAlarmTimestamp>20131125103003000</kmAlarmTimestamp>"
              "</kmRequestData></kmRequest>\0\0"s);
}

TEST(AlarmRequests, ImageRequestEscapesWhatTheServerSent) {
    const auto payload = alarmImageRequest("<7>", "A&B", parseAlarmTimestamp("20131125103000"));
    ASSERT_TRUE(payload.has_value());
    const XmlNode root = loadXmlDocument(asText(*payload).c_str());
    ASSERT_TRUE(root);
    EXPECT_EQ(root.child("kmRequestData").childText("kmAlarmChannelID"), "<7>");
    EXPECT_EQ(root.child("kmRequestData").childText("kmAlarmName"), "A&B");
}

TEST(AlarmRequests, ImageRequestNamesTheAlarmByteForByteAsPushed) {
    const XmlNode pushed = loadXmlDocument(
        "<r><kmResponseData><kmAlarmName>Gate&#13;Open&#13;</kmAlarmName>"
        "<kmAlarmChannelID>&#13;7</kmAlarmChannelID></kmResponseData></r>");
    const std::optional<AlarmMessage> message = readAlarmMessage(pushed);
    ASSERT_TRUE(message.has_value());
    const auto payload = alarmImageRequest(message->channelId, message->alarmName, {});
    ASSERT_TRUE(payload.has_value());
    const XmlNode data = loadXmlDocument(asText(*payload).c_str()).child("kmRequestData");
    EXPECT_EQ(data.childText("kmAlarmName"), "Gate\rOpen\r");
    EXPECT_EQ(data.childText("kmAlarmChannelID"), "\r7");
}

struct MessageCase {
    const char* label;
    std::string xml;
    std::optional<AlarmMessage> expected;
};

class AlarmMessageTest : public testing::TestWithParam<MessageCase> {};

TEST_P(AlarmMessageTest, ReadsTheFieldsUnderResponseData) {
    const MessageCase& c = GetParam();
    const XmlNode root = loadXmlDocument(c.xml);
    ASSERT_TRUE(root);
    const std::optional<AlarmMessage> message = readAlarmMessage(root);
    ASSERT_EQ(message.has_value(), c.expected.has_value());
    if (message) {
        EXPECT_EQ(message->timestamp, c.expected->timestamp);
        EXPECT_EQ(message->alarmName, c.expected->alarmName);
        EXPECT_EQ(message->channelId, c.expected->channelId);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Messages, AlarmMessageTest,
    testing::Values(
        MessageCase{"all_fields",
                    "<r><kmResponseData><kmAlarmTimestamp>20131125103000123</kmAlarmTimestamp>"
                    "<kmAlarmName>Motion</kmAlarmName><kmAlarmChannelID>7</kmAlarmChannelID>"
                    "<kmAlarmVideoChannelID>9</kmAlarmVideoChannelID></kmResponseData></r>",
                    AlarmMessage{"20131125103000123", "Motion", "7"}},
        MessageCase{"missing_fields_are_empty",
                    "<r><kmResponseData><kmAlarmName>Door</kmAlarmName></kmResponseData></r>",
                    AlarmMessage{"", "Door", ""}},
        MessageCase{"fields_outside_response_data_do_not_count",
                    "<r><kmAlarmName>Door</kmAlarmName></r>", std::nullopt},
        MessageCase{"long_name_cut_to_255",
                    "<r><kmResponseData><kmAlarmName>" + std::string(300, 'n') +
                        "</kmAlarmName></kmResponseData></r>",
                    AlarmMessage{"", std::string(255, 'n'), ""}},
        // 254 ASCII bytes and a two-byte character: the character does not fit whole.
        MessageCase{"cut_keeps_characters_whole",
                    "<r><kmResponseData><kmAlarmChannelID>" + std::string(254, 'c') + "\xC3\xA9" +
                        "</kmAlarmChannelID></kmResponseData></r>",
                    AlarmMessage{"", "", std::string(254, 'c')}}),
    [](const testing::TestParamInfo<MessageCase>& param) { return param.param.label; });

}  // namespace
}  // namespace krt
