#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/diag_log.h"
#include "protocol/xml_message.h"

namespace krt {

// The fields of a pushed alarm that the client uses. The message carries more (video channel,
// other information, secondary channels), which nothing in the client reads.
struct AlarmMessage {
    std::string timestamp;  // kmAlarmTimestamp
    std::string alarmName;  // kmAlarmName
    std::string channelId;  // kmAlarmChannelID
};

// The fields under the root's kmResponseData; a missing field is empty. Nothing when the root
// has no kmResponseData.
std::optional<AlarmMessage> readAlarmMessage(const XmlNode& root);

// The subscription "setalarmnotifications", framed as the whole serialised document followed
// by two zero bytes. Nothing when the document does not serialise.
std::optional<std::vector<char>> subscriptionRequest();

// "getAlarmImage" for one alarm: channel, name and the 17-digit time, in that order.
std::optional<std::vector<char>> alarmImageRequest(std::string_view channelId,
                                                   std::string_view alarmName,
                                                   const LocalTime& time);

}  // namespace krt
