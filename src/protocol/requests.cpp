#include "protocol/requests.h"

#include <string>

#include "protocol/xml_message.h"

namespace krt {
namespace {

constexpr std::string_view kTabs3 = "\t\t\t";
constexpr std::string_view kTabs4 = "\t\t\t\t";

std::string element(std::string_view name, std::string_view escapedValue) {
    std::string text;
    text.reserve(2 * name.size() + escapedValue.size() + 5);
    text.append("<").append(name).append(">").append(escapedValue);
    text.append("</").append(name).append(">");
    return text;
}

std::string envelope(std::string_view requestId, std::string_view requestData) {
    std::string text = "<kmRequest>";
    text.append(kTabs3).append(element("kmRequestID", escapeXmlText(requestId)));
    text.append(kTabs3).append(requestData).append("</kmRequest>");
    return text;
}

}  // namespace

std::string escapeXmlText(std::string_view text) {
    // A reader drops text that is blanks only; as references it arrives as it was sent.
    if (isBlankOnly(text)) {
        return characterReferences(text);
    }
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '\r':
                // A literal one would reach the server as a line feed.
                escaped += "&#13;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string versionRequest() {
    return envelope("getMobileClientCommunicationVersion", "<kmRequestData/>");
}

std::string channelListRequest(std::string_view userName) {
    return envelope(
        "getAuthorizedChannelsIDList",
        "<kmRequestData>" + element("UserName", escapeXmlText(userName)) + "</kmRequestData>");
}

std::string channelRequest(std::string_view requestName, std::string_view channelId) {
    std::string data = "<kmRequestData>";
    data.append(kTabs4).append(element("kmChannelID", escapeXmlText(channelId)));
    data.append(kTabs3).append("</kmRequestData>");
    return envelope(requestName, data);
}

std::string ptzRequest(std::string_view userName, std::string_view channelId, int command) {
    std::string data = "<kmRequestData>";
    data.append(kTabs4).append(element("UserName", escapeXmlText(userName)));
    data.append(kTabs4).append(element("kmChannelID", escapeXmlText(channelId)));
    data.append(kTabs4).append(element("kmPTZCommand", std::to_string(command)));
    data.append(kTabs3).append("</kmRequestData>");
    return envelope("PTZCommand2", data);
}

std::string liveVideoRequest(LiveResolution resolution, std::string_view requestParam) {
    const std::string_view id = resolution == LiveResolution::Low ? "getLowResolutionLiveVideo"
                                                                  : "getMediumResolutionLiveVideo";
    return "<kmRequest>" + element("kmRequestID", id) +
           element("kmRequestParam", escapeXmlText(requestParam)) + "<kmRequestData/></kmRequest>";
}

XmlNode newRequestDocument(std::string_view requestId) {
    XmlNode root = loadXmlDocument("<kmRequest></kmRequest>");
    root.appendElement("kmRequestID", requestId);
    return root;
}

}  // namespace krt
