// Feeds arbitrary bytes to the reply reader as a server would send them, then parses whatever
// reply it accepts as XML, the way every request reads its answer.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "protocol/packet_framing.h"
#include "protocol/socket_client.h"
#include "protocol/xml_message.h"
#include "socket_pair.h"

namespace {

// A child as a reader sees it again: a text ends at a zero byte, and texts that end up side by
// side read back as one.
struct Child {
    pugi::xml_node node;
    std::string text;  // of a text child
};

std::vector<Child> readableChildren(const pugi::xml_node& node) {
    std::vector<Child> children;
    bool lastIsText = false;
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() != pugi::node_pcdata) {
            children.push_back({child, {}});
            lastIsText = false;
        } else if (*child.value() != '\0') {
            if (!lastIsText) {
                children.push_back({{}, {}});
            }
            children.back().text += child.value();
            lastIsText = true;
        }
    }
    // A reader drops a text of only blanks, tabs and line feeds (a carriage return is written
    // as a reference, which is no blank to the reader).
    std::erase_if(children, [](const Child& child) {
        return !child.node && child.text.find_first_not_of(" \t\n") == std::string::npos;
    });
    return children;
}

bool sameAttributes(const pugi::xml_node& a, const pugi::xml_node& b) {
    pugi::xml_attribute left = a.first_attribute();
    pugi::xml_attribute right = b.first_attribute();
    for (; left && right; left = left.next_attribute(), right = right.next_attribute()) {
        if (std::strcmp(left.name(), right.name()) != 0 ||
            std::strcmp(left.value(), right.value()) != 0) {
            return false;
        }
    }
    return !left && !right;
}

// Same elements, attributes and texts, byte for byte.
bool sameTree(const pugi::xml_node& a, const pugi::xml_node& b) {
    if (a.type() != b.type() || std::strcmp(a.name(), b.name()) != 0 ||
        std::strcmp(a.value(), b.value()) != 0 || !sameAttributes(a, b)) {
        return false;
    }
    const std::vector<Child> left = readableChildren(a);
    const std::vector<Child> right = readableChildren(b);
    return std::ranges::equal(left, right, [](const Child& l, const Child& r) {
        return !l.node || !r.node ? !l.node && !r.node && l.text == r.text
                                  : sameTree(l.node, r.node);
    });
}

void readReply(const FuzzSocketPair& pair) {
    krt::PktHeader header;
    if (krt::PacketFraming::recvPktHeader(pair.readerFd(), header) != krt::HeaderStatus::Ok) {
        return;
    }
    FUZZ_CHECK(header.payloadLength > 0 && header.payloadLength <= krt::kMaxPayloadLength);
    // A payload longer than any input never arrives whole; its buffer would only cost time.
    if (header.payloadLength > FuzzSocketPair::kMaxInput) {
        return;
    }
    std::vector<char> payload(header.payloadLength + krt::Reply::kZeroTail, '\0');
    std::size_t received = 0;
    krt::PacketFraming::recvData(pair.readerFd(), std::span(payload.data(), header.payloadLength),
                                 received);
    FUZZ_CHECK(received <= header.payloadLength);
    if (received != header.payloadLength) {
        return;
    }
    const krt::XmlNode root = krt::loadXmlDocument(payload.data());
    (void)root.childInt("kmReturnCode");
    (void)root.childText("kmDescription");
    for (const krt::XmlNode& id : root.child("VideoChannels").children("ChannelID")) {
        (void)id.text();
    }
    if (!root) {
        return;
    }
    // What the client writes of a reply reads back as the same document.
    const std::optional<std::string> text = krt::XmlMessage::serialize(root);
    FUZZ_CHECK(text.has_value());
    const krt::XmlNode again = krt::loadXmlDocument(*text);
    FUZZ_CHECK(static_cast<bool>(again));
    FUZZ_CHECK(sameTree(root.node(), again.node()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const FuzzSocketPair pair;
    if (size <= FuzzSocketPair::kMaxInput) {
        pair.write({reinterpret_cast<const char*>(data), size});
        readReply(pair);
        pair.drain();
    }
    return 0;
}
