#pragma once

#include <string>
#include <string_view>

#include "protocol/xml_message.h"

namespace krt {

// The requests that are sent as formatted text. Values are XML-escaped, so that a user name
// or channel ID holding '<' or '&' cannot break the envelope.

// "getMobileClientCommunicationVersion"
std::string versionRequest();
// "getAuthorizedChannelsIDList" for the user.
std::string channelListRequest(std::string_view userName);
// "getVideoChannelDetails" or "getCameraPTZStatus" for one channel.
std::string channelRequest(std::string_view requestName, std::string_view channelId);
// "PTZCommand2" with the command code.
std::string ptzRequest(std::string_view userName, std::string_view channelId, int command);

enum class LiveResolution { Low, Medium };
// "getLowResolutionLiveVideo" / "getMediumResolutionLiveVideo" with the request parameter.
std::string liveVideoRequest(LiveResolution resolution, std::string_view requestParam);

// A request built through the document model: "<kmRequest></kmRequest>" parsed, with its
// `kmRequestID` child appended. The caller appends `kmRequestData` and serialises the
// owner document.
XmlNode newRequestDocument(std::string_view requestId);

// Text with '&', '<' and '>' replaced by their entities and a carriage return by "&#13;".
std::string escapeXmlText(std::string_view text);

}  // namespace krt
