// A request payload as krt-sim reads it from a connection, and the reply it answers with for
// the built-in configuration, through the same parser and dispatch as the server.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "protocol/xml_message.h"
#include "sim_config.h"
#include "sim_replies.h"

namespace {

bool isServedElsewhere(std::string_view id) {
    return id == "setalarmnotifications" || id == "getAlarmImage" ||
           id == "getLowResolutionLiveVideo" || id == "getMediumResolutionLiveVideo" ||
           id == "PTZCommand2";
}

void checkReply(const krt::sim::SimConfig& config, const krt::sim::ParsedRequest& request) {
    const std::optional<krt::sim::PlainReply> reply = krt::sim::plainReply(config, request);
    FUZZ_CHECK(reply.has_value() == !isServedElsewhere(request.id));
    if (!reply) {
        return;
    }
    // Every reply is one XML document that the client can load.
    const krt::XmlNode root = krt::loadXmlDocument(reply->reply);
    FUZZ_CHECK(static_cast<bool>(root));
    FUZZ_CHECK(!reply->outcome.empty());
    if (request.id == "getVideoChannelDetails") {
        // The client files the details under the ID the reply names: the one it asked for.
        const krt::sim::SimChannel* channel = config.findChannel(request.field("kmChannelID"));
        const std::string named =
            root.child("VideoChannels").child("VideoChannel").childText("ChannelID");
        FUZZ_CHECK(channel == nullptr || named == channel->id);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const krt::sim::SimConfig config = krt::sim::defaultConfig();
    const std::span<const char> payload(reinterpret_cast<const char*>(data), size);
    const std::optional<krt::sim::ParsedRequest> request = krt::sim::parseRequest(payload);
    if (!request) {
        return 0;
    }
    FUZZ_CHECK(!request->id.empty());
    // Only the text before the first zero byte counts.
    const std::string_view whole(payload.data(), payload.size());
    const krt::XmlNode root = krt::loadXmlDocument(whole.substr(0, whole.find('\0')));
    FUZZ_CHECK(request->id == root.childText("kmRequestID"));
    checkReply(config, *request);
    return 0;
}
