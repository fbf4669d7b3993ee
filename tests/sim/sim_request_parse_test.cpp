// The request side takes any bytes: framing, parsing and the plain replies.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/requests.h"
#include "sim_config.h"
#include "sim_replies.h"

namespace krt::sim {
namespace {

std::string header(std::uint32_t length, std::string_view start = "KMCS") {
    std::string bytes(start);
    bytes.append(3, '\0');
    bytes += static_cast<char>((length >> 16) & 0xFF);
    bytes += static_cast<char>((length >> 8) & 0xFF);
    bytes += static_cast<char>(length & 0xFF);
    return bytes;
}

TEST(SimRequestFraming, AnnouncedLengthOnlyFromAWholeSaneHeader) {
    struct Case {
        std::string bytes;
        std::optional<std::uint32_t> length;
    };
    const std::vector<Case> cases = {
        {header(300), 300},
        {header(64 * 1024), 64 * 1024},
        {header(64 * 1024 + 1), std::nullopt},
        {header(0), std::nullopt},
        {header(0xFFFFFF), std::nullopt},
        {header(300, "XMCS"), std::nullopt},
        {header(300).substr(0, 9), std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        EXPECT_EQ(requestPayloadLength(c.bytes), c.length);
    }
}

TEST(SimRequestParse, HostileBytesYieldNothingOrAnAnswer) {
    const SimConfig config = defaultConfig();
    const std::string deep = std::string(5000, '<') + "a>";
    std::string nested;
    for (int i = 0; i < 2000; ++i) {
        nested += "<a>";
    }
    struct Case {
        std::string bytes;
        const char* id;  // empty: not a request
    };
    const std::vector<Case> cases = {
        {"", ""},
        {std::string(8, '\0'), ""},
        {"not XML", ""},
        {deep, ""},
        {nested, ""},
        {"<kmRequest></kmRequest>", ""},
        {"<kmRequest><kmRequestID></kmRequestID></kmRequest>", ""},
        {std::string("<kmRequest><kmRequestID>getCameraPTZStatus</kmRequestID></kmRequest>") +
             '\0' + "<<garbage",
         "getCameraPTZStatus"},
        {"<kmRequest><kmRequestID>PTZCommand2</kmRequestID><kmRequestData><kmPTZCommand>"
         "99999999999999999999</kmPTZCommand></kmRequestData></kmRequest>",
         "PTZCommand2"},
        {"<r><kmRequestID>\x01\xff\nx</kmRequestID></r>", "\x01\xff\nx"},
        {std::string(versionRequest()), "getMobileClientCommunicationVersion"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes.substr(0, 80)));
        const std::optional<ParsedRequest> request = parseRequest(c.bytes);
        ASSERT_EQ(request.has_value(), *c.id != '\0');
        if (request) {
            EXPECT_EQ(request->id, c.id);
            const std::optional<PlainReply> reply = plainReply(config, *request);
            // Plain requests and unknown names are answered here; the rest elsewhere.
            if (reply) {
                EXPECT_FALSE(reply->reply.empty());
            }
        }
    }
}

}  // namespace
}  // namespace krt::sim
