// Feeds arbitrary bytes to the reply reader as a server would send them, then parses whatever
// reply it accepts as XML, the way every request reads its answer.
#include <sys/socket.h>
#include <unistd.h>
#include <cstdint>
#include <span>

#include "protocol/socket_client.h"
#include "protocol/socket_common.h"
#include "protocol/tcp_socket.h"
#include "protocol/xml_data.h"

namespace {

// The socket pair's buffer holds this much without a reader.
constexpr std::size_t kMaxInput = 64 * 1024;

void readReply(std::span<const char> bytes) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        return;
    }
    krt::TcpSocket reader(fds[0]);
    krt::TcpSocket writer(fds[1]);
    krt::sendAll(writer.fd(), bytes);
    writer.reset();

    krt::PktHeader header;
    if (krt::kmMgrSocketCommon::recvPktHeader(reader.fd(), header) != krt::HeaderStatus::Ok) {
        return;
    }
    std::vector<char> payload(header.payloadLength + krt::Reply::kZeroTail, '\0');
    std::size_t received = 0;
    krt::kmMgrSocketCommon::recvData(reader.fd(), std::span(payload.data(), header.payloadLength),
                                     received);
    if (received != header.payloadLength) {
        return;
    }
    const krt::XmlNode root = krt::loadXmlDocument(payload.data());
    (void)root.childInt("kmReturnCode");
    (void)root.childText("kmDescription");
    for (const krt::XmlNode& id : root.child("VideoChannels").children("ChannelID")) {
        (void)id.text();
    }
    (void)krt::kmKRTMgrXMLData::serialize(root);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size <= kMaxInput) {
        readReply({reinterpret_cast<const char*>(data), size});
    }
    return 0;
}
