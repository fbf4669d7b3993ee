// Feeds arbitrary bytes to the reply reader as a server would send them, then parses whatever
// reply it accepts as XML, the way every request reads its answer.
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "protocol/socket_client.h"
#include "protocol/socket_common.h"
#include "protocol/xml_data.h"
#include "socket_pair.h"

namespace {

void readReply(const FuzzSocketPair& pair) {
    krt::PktHeader header;
    if (krt::kmMgrSocketCommon::recvPktHeader(pair.readerFd(), header) != krt::HeaderStatus::Ok) {
        return;
    }
    FUZZ_CHECK(header.payloadLength > 0 && header.payloadLength <= krt::kMaxPayloadLength);
    // A payload longer than any input never arrives whole; its buffer would only cost time.
    if (header.payloadLength > FuzzSocketPair::kMaxInput) {
        return;
    }
    std::vector<char> payload(header.payloadLength + krt::Reply::kZeroTail, '\0');
    std::size_t received = 0;
    krt::kmMgrSocketCommon::recvData(pair.readerFd(),
                                     std::span(payload.data(), header.payloadLength), received);
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
    const std::optional<std::string> text = krt::kmKRTMgrXMLData::serialize(root);
    FUZZ_CHECK(text.has_value());
    const krt::XmlNode again = krt::loadXmlDocument(*text);
    FUZZ_CHECK(static_cast<bool>(again));
    FUZZ_CHECK(krt::kmKRTMgrXMLData::serialize(again) == text);
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
