#include "alarms/alarm_message.h"

#include "alarms/alarm_time.h"
#include "protocol/requests.h"

namespace krt {
namespace {

// Cuts at most kMaxAlarmFieldBytes, backing off to the start of a UTF-8 sequence so that no
// character is split.
std::string boundedField(std::string text) {
    if (text.size() <= kMaxAlarmFieldBytes) {
        return text;
    }
    std::size_t end = kMaxAlarmFieldBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    text.resize(end);
    return text;
}

// The request's whole document as text, then the two zero bytes the server expects.
std::optional<std::vector<char>> framedPayload(const XmlNode& root) {
    const std::optional<std::string> text = kmKRTMgrXMLData::serialize(root.ownerDocument());
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
    return AlarmMessage{boundedField(data.childText("kmAlarmTimestamp")),
                        boundedField(data.childText("kmAlarmName")),
                        boundedField(data.childText("kmAlarmChannelID"))};
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
