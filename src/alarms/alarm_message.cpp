#include "alarms/alarm_message.h"

#include "alarms/alarm_time.h"
#include "protocol/requests.h"

namespace krt {
namespace {

// The request's whole document as text, then the two zero bytes the server expects.
std::optional<std::vector<char>> framedPayload(const XmlNode& root) {
    const std::optional<std::string> text = XmlMessage::serialize(root.ownerDocument());
    if (!text || text->empty()) {
        return std::nullopt;
    }
    std::vector<char> payload(text->size() + 2, '\0');
    std::copy(text->begin(), text->end(), payload.begin());
    return payload;
}

}  // namespace

std::optional<AlarmMessage> readAlarmMessage(const XmlNode& root) {
    const XmlNode data = root.child("kmResponseData");
    if (!data) {
        return std::nullopt;
    }
    return AlarmMessage{boundedUtf8(data.childText("kmAlarmTimestamp")),
                        boundedUtf8(data.childText("kmAlarmName")),
                        boundedUtf8(data.childText("kmAlarmChannelID"))};
}

std::optional<std::vector<char>> subscriptionRequest() {
    return framedPayload(newRequestDocument("setalarmnotifications"));
}

std::optional<std::vector<char>> alarmImageRequest(std::string_view channelId,
                                                   std::string_view alarmName,
                                                   const LocalTime& time) {
    XmlNode root = newRequestDocument("getAlarmImage");
    XmlNode data = root.appendElement("kmRequestData");
    data.appendElement("kmAlarmChannelID", channelId);
    data.appendElement("kmAlarmName", alarmName);
    data.appendElement("kmAlarmTimestamp", timestampDigits(time));
    return framedPayload(root);
}

}  // namespace krt
