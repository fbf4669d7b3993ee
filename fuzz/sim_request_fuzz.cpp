// A request payload as krt-sim reads it from a connection, and the replies its catalogue
// answers with, for the built-in configuration.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "protocol/xml_data.h"
#include "sim_config.h"
#include "sim_replies.h"

namespace {

// Every reply is one XML document that the client can load.
krt::XmlNode loadedReply(const std::string& reply) {
    krt::XmlNode root = krt::loadXmlDocument(reply);
    FUZZ_CHECK(static_cast<bool>(root));
    return root;
}

void answer(const krt::sim::SimConfig& config, const krt::sim::ParsedRequest& request) {
    const std::string user = request.field("UserName");
    const krt::sim::LoginOutcome login =
        krt::sim::loginReply(config, user, request.field("Password"));
    loadedReply(login.reply);

    const krt::XmlNode list = loadedReply(krt::sim::channelListReply(config, user));
    const std::string channelId = request.field("kmChannelID");
    const krt::XmlNode details = loadedReply(krt::sim::channelDetailsReply(config, channelId));
    if (config.findChannel(channelId) != nullptr) {
        // The client files the details under the ID it asked for.
        FUZZ_CHECK(details.child("VideoChannels").child("VideoChannel").childText("ChannelID") ==
                   config.findChannel(channelId)->id);
    }
    loadedReply(krt::sim::ptzStatusReply(config, channelId));
    (void)list;
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
    answer(config, *request);
    return 0;
}
