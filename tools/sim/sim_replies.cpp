#include "sim_replies.h"

#include <algorithm>
#include <array>
#include <vector>

#include "protocol/packet_framing.h"

namespace krt::sim {
namespace {

XmlNode newReply() {
    return loadXmlDocument("<kmResponse></kmResponse>");
}

std::string serialized(const XmlNode& root) {
    return XmlMessage::serialize(root.ownerDocument()).value_or(std::string());
}

void appendUnlessOmitted(XmlNode& parent, const std::set<std::string>& omitted,
                         std::string_view name, std::string_view text) {
    if (!omitted.contains(std::string(name))) {
        parent.appendElement(name, text);
    }
}

std::string longestText(const std::vector<std::string>& texts) {
    const auto found = std::max_element(
        texts.begin(), texts.end(),
        [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
    return found == texts.end() ? std::string() : *found;
}

}  // namespace

std::optional<std::uint32_t> requestPayloadLength(std::span<const char> header) {
    constexpr std::string_view kStartOfFrame = "KMCS";
    if (header.size() < kPktHeaderSize ||
        std::string_view(header.data(), kStartOfFrame.size()) != kStartOfFrame) {
        return std::nullopt;
    }
    const auto byteAt = [header](std::size_t i) { return static_cast<std::uint8_t>(header[i]); };
    const std::uint32_t length =
        std::uint32_t{byteAt(7)} << 16 | std::uint32_t{byteAt(8)} << 8 | byteAt(9);
    if (length == 0 || length > kMaxRequestBytes) {
        return std::nullopt;
    }
    return length;
}

std::optional<ParsedRequest> parseRequest(std::span<const char> payload) {
    const std::string_view whole(payload.data(), payload.size());
    const std::string_view text = whole.substr(0, whole.find('\0'));
    XmlNode root = loadXmlDocument(text);
    if (!root) {
        return std::nullopt;
    }
    std::string id = root.childText("kmRequestID");
    if (id.empty()) {
        return std::nullopt;
    }
    return ParsedRequest{std::move(id), std::move(root)};
}

std::string statusReply(int returnCode, std::string_view description) {
    XmlNode root = newReply();
    root.appendElement("kmReturnCode", std::to_string(returnCode));
    root.appendElement("kmDescription", description);
    return serialized(root);
}

LoginOutcome loginReply(const SimConfig& config, std::string_view userName,
                        std::string_view password) {
    const SimUser* user = config.findUser(userName);
    if (user != nullptr && user->refusalCode) {
        return {statusReply(*user->refusalCode, "Login refused"),
                "refused " + std::to_string(*user->refusalCode)};
    }
    if (user == nullptr || user->password != password) {
        return {statusReply(config.badLoginCode, "Invalid user name or password"),
                user == nullptr ? "unknown user" : "wrong password"};
    }
    const std::set<std::string>& omitted = user->omitElements;
    XmlNode root = newReply();
    if (user->acceptedReturnCode) {
        root.appendElement("kmReturnCode", std::to_string(*user->acceptedReturnCode));
    }
    if (!omitted.contains("kmResponseData")) {
        XmlNode data = root.appendElement("kmResponseData");
        appendUnlessOmitted(data, omitted, "kmDescription", user->privilege);
        appendUnlessOmitted(data, omitted, "kmNumberOfSupportedCameras",
                            std::to_string(config.channels.size()));
        appendUnlessOmitted(data, omitted, "kmSiteName", config.siteName);
        appendUnlessOmitted(data, omitted, "GetLiveVideoFromServer", "1");
    }
    return {serialized(root), "accepted"};
}

std::string versionReply(const SimConfig& config) {
    return statusReply(1, config.protocolVersion);
}

std::string channelListReply(const SimConfig& config, std::string_view userName) {
    if (config.findUser(userName) == nullptr) {
        return statusReply(config.badLoginCode, "Unknown user");
    }
    XmlNode root = newReply();
    root.appendElement("kmReturnCode", "1");
    if (!config.listWithoutVideoChannels) {
        XmlNode list = root.appendElement("VideoChannels");
        for (const std::string& id : config.listedChannelIds()) {
            list.appendElement("ChannelID", id);
        }
    }
    return serialized(root);
}

std::string channelDetailsReply(const SimConfig& config, std::string_view channelId) {
    const SimChannel* channel = config.findChannel(channelId);
    if (channel == nullptr) {
        return statusReply(-1, "Unknown channel");
    }
    const std::set<std::string>& omitted = channel->omitElements;
    XmlNode root = newReply();
    root.appendElement("kmReturnCode", "1");
    XmlNode list = root.appendElement("VideoChannels");
    if (omitted.contains("VideoChannel")) {
        return serialized(root);
    }
    XmlNode details = list.appendElement("VideoChannel");
    appendUnlessOmitted(details, omitted, "ChannelID", channel->id);
    appendUnlessOmitted(details, omitted, "ChannelType", channel->type);
    appendUnlessOmitted(details, omitted, "ChannelDescription", channel->description);
    appendUnlessOmitted(details, omitted, "Width", std::to_string(channel->width));
    appendUnlessOmitted(details, omitted, "Height", std::to_string(channel->height));
    appendUnlessOmitted(details, omitted, "RecWidth", std::to_string(channel->recWidth));
    appendUnlessOmitted(details, omitted, "RecHeight", std::to_string(channel->recHeight));
    return serialized(root);
}

std::string ptzStatusReply(const SimConfig& config, std::string_view channelId) {
    const SimChannel* channel = config.findChannel(channelId);
    if (channel == nullptr) {
        return statusReply(-1, "Unknown channel");
    }
    XmlNode root = newReply();
    root.appendElement("kmReturnCode", "1");
    if (channel->ptzStatus) {
        root.appendElement("kmDescription", *channel->ptzStatus);
    }
    return serialized(root);
}

std::string alarmPushMessage(const AlarmMessage& alarm) {
    XmlNode root = newReply();
    root.appendElement("kmReturnCode", "1");
    XmlNode data = root.appendElement("kmResponseData");
    data.appendElement("kmAlarmTimestamp", alarm.timestamp);
    data.appendElement("kmAlarmName", alarm.name);
    data.appendElement("kmAlarmChannelID", alarm.channelId);
    data.appendElement("kmAlarmVideoChannelID", alarm.channelId);
    data.appendElement("kmAlarmOtherInformation", "Simulated alarm");
    data.appendElement("kmAlarmOtherInformation2");
    data.appendElement("kmAlarmSecondaryVideoChannel1");
    data.appendElement("kmAlarmSecondaryVideoChannel2");
    data.appendElement("kmAlarmSecondaryVideoChannel3");
    return serialized(root);
}

std::optional<std::string> oversizedReply(const SimConfig& config) {
    std::optional<std::string> found;
    const auto measure = [&found](const std::string& what, const std::string& reply) {
        if (!found && reply.size() > kMaxPayloadLength) {
            found = what + " would be " + std::to_string(reply.size()) +
                    " bytes; a frame carries at most " + std::to_string(kMaxPayloadLength);
        }
    };
    measure("the version reply", versionReply(config));
    for (const SimUser& user : config.users) {
        measure("the login reply of user \"" + user.name + "\"",
                loginReply(config, user.name, user.password).reply);
    }
    if (!config.users.empty()) {
        measure("the channel list reply", channelListReply(config, config.users.front().name));
    }
    std::vector<std::string> alarmChannels = config.alarms.channels;
    for (const SimChannel& channel : config.channels) {
        const std::string which = " of channel \"" + channel.id + "\"";
        measure("the details reply" + which, channelDetailsReply(config, channel.id));
        measure("the PTZ status reply" + which, ptzStatusReply(config, channel.id));
        alarmChannels.push_back(channel.id);
    }
    measure("a scheduled alarm",
            alarmPushMessage({"00000000000000000", longestText(config.alarms.names),
                              longestText(alarmChannels)}));
    return found;
}

std::optional<PlainReply> plainReply(const SimConfig& config, const ParsedRequest& request) {
    constexpr std::array kServedElsewhere = {"setalarmnotifications", "getAlarmImage",
                                             "getLowResolutionLiveVideo",
                                             "getMediumResolutionLiveVideo", "PTZCommand2"};
    const std::string& id = request.id;
    if (std::find(kServedElsewhere.begin(), kServedElsewhere.end(), id) != kServedElsewhere.end()) {
        return std::nullopt;
    }
    if (id == "validateuser") {
        const std::string user = request.field("UserName");
        LoginOutcome login = loginReply(config, user, request.field("Password"));
        return PlainReply{std::move(login.reply), "user " + user + ": " + login.summary};
    }
    if (id == "getMobileClientCommunicationVersion") {
        return PlainReply{versionReply(config), config.protocolVersion};
    }
    if (id == "getAuthorizedChannelsIDList") {
        const std::string user = request.field("UserName");
        return PlainReply{channelListReply(config, user), "user " + user};
    }
    if (id == "getVideoChannelDetails") {
        const std::string channelId = request.field("kmChannelID");
        return PlainReply{channelDetailsReply(config, channelId), "channel " + channelId};
    }
    if (id == "getCameraPTZStatus") {
        const std::string channelId = request.field("kmChannelID");
        return PlainReply{ptzStatusReply(config, channelId), "channel " + channelId};
    }
    return PlainReply{statusReply(-1, "Unknown request"), "unknown request"};
}

}  // namespace krt::sim
