// The three catalogue replies (channel list, channel details, PTZ status) as the login reads
// them, and the requests that name each listed channel back to the server.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "login/channel_catalogue.h"
#include "protocol/requests.h"
#include "protocol/xml_message.h"

namespace {

bool isUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The bytes of the character that this byte starts, as its top bits say (0 for no start).
std::size_t utf8Length(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x80 ? 1 : byte < 0xC0 ? 0 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
}

// A text kept to the field size is what the server sent, cut short by at most the bytes of
// one character, and never inside a character whose start and continuation bytes it holds.
void checkFieldText(const std::string& text, const std::string& full) {
    FUZZ_CHECK(text.size() <= krt::kMaxFieldTextBytes);
    FUZZ_CHECK(full.compare(0, text.size(), text) == 0);
    if (text.size() == full.size()) {
        return;
    }
    FUZZ_CHECK(text.size() + 3 >= krt::kMaxFieldTextBytes);
    for (std::size_t start = text.size() >= 3 ? text.size() - 3 : 0; start < text.size(); ++start) {
        const std::size_t length = utf8Length(full[start]);
        bool whole = length > 1 && start + length <= full.size();
        for (std::size_t i = start + 1; whole && i < start + length; ++i) {
            whole = isUtf8Continuation(full[i]);
        }
        FUZZ_CHECK(!whole || start + length <= text.size());
    }
}

// The details and PTZ requests carry the ID exactly as the list gave it.
void checkChannelRequest(const std::string& id) {
    for (const std::string_view name : {"getVideoChannelDetails", "getCameraPTZStatus"}) {
        const krt::XmlNode root = krt::loadXmlDocument(krt::channelRequest(name, id));
        FUZZ_CHECK(static_cast<bool>(root));
        FUZZ_CHECK(root.childText("kmRequestID") == name);
        FUZZ_CHECK(root.child("kmRequestData").childText("kmChannelID") == id);
    }
}

void checkList(std::string_view text, const krt::XmlNode& root) {
    const auto ids = krt::readChannelList(text);
    const krt::XmlNode list = root.child("VideoChannels");
    FUZZ_CHECK(ids.has_value() == static_cast<bool>(list));
    if (!ids) {
        return;
    }
    const std::vector<krt::XmlNode> idNodes = list.children("ChannelID");
    FUZZ_CHECK(ids->size() == idNodes.size());
    for (std::size_t i = 0; i < ids->size(); ++i) {
        checkFieldText((*ids)[i], idNodes[i].text());
        checkChannelRequest((*ids)[i]);
    }
}

void checkDetails(std::string_view text, const krt::XmlNode& root) {
    krt::VideoChannel record;
    record.PTZEnabled = true;
    krt::readChannelDetails(text, record);
    const std::vector<krt::XmlNode> channels = root.child("VideoChannels").children("VideoChannel");
    // The PTZ flag comes from its own reply; details never touch it.
    FUZZ_CHECK(record.PTZEnabled);
    FUZZ_CHECK(record.DetailsLoaded == !channels.empty());
    if (channels.empty()) {
        FUZZ_CHECK(record.ChannelID.empty() && record.Width == 0 && record.Height == 0);
        return;
    }
    const krt::XmlNode& last = channels.back();
    checkFieldText(record.ChannelID, last.childText("ChannelID"));
    checkFieldText(record.ChannelType, last.childText("ChannelType"));
    checkFieldText(record.ChannelDescription, last.childText("ChannelDescription"));
    FUZZ_CHECK(record.Width == krt::parseLeadingInt(last.childText("Width")));
    FUZZ_CHECK(record.RecHeight == krt::parseLeadingInt(last.childText("RecHeight")));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // The expectations are read from one parse of the reply.
    const krt::XmlNode root = krt::loadXmlDocument(text);
    checkList(text, root);
    checkDetails(text, root);
    const bool ptz = krt::readPtzStatus(text);
    const krt::XmlNode description = root.child("kmDescription");
    FUZZ_CHECK(!ptz || (description && krt::parseLeadingInt(description.text()) == 1));
    return 0;
}
