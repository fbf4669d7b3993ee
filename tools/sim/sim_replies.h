#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "protocol/xml_message.h"
#include "sim_config.h"

namespace krt::sim {

// A request as the server reads it: the text up to the first zero byte (the login and alarm
// requests carry zero bytes after their text), parsed.
struct ParsedRequest {
    std::string id;  // kmRequestID
    XmlNode root;

    std::string param() const { return root.childText("kmRequestParam"); }
    std::string field(std::string_view name) const {
        return root.child("kmRequestData").childText(name);
    }
};

// Requests are a few hundred bytes; anything far larger is not a client of ours.
inline constexpr std::uint32_t kMaxRequestBytes = 64 * 1024;

// The payload length a request's 10-byte frame header announces; nothing when the bytes are
// not such a header ("KMCS", three parameter bytes, a big-endian 24-bit length) or the length
// is 0 or above kMaxRequestBytes. Reads only the first 10 bytes.
std::optional<std::uint32_t> requestPayloadLength(std::span<const char> header);

// Nothing when the text is not XML or names no request. Takes any bytes.
std::optional<ParsedRequest> parseRequest(std::span<const char> payload);

// One alarm as it is pushed and later asked for by its image request.
struct AlarmMessage {
    std::string timestamp;  // 17 digits of local time
    std::string name;
    std::string channelId;
};

struct LoginOutcome {
    std::string reply;
    std::string summary;  // for the request log
};

LoginOutcome loginReply(const SimConfig& config, std::string_view userName,
                        std::string_view password);
std::string versionReply(const SimConfig& config);
std::string channelListReply(const SimConfig& config, std::string_view userName);
std::string channelDetailsReply(const SimConfig& config, std::string_view channelId);
std::string ptzStatusReply(const SimConfig& config, std::string_view channelId);
// The reply to a request that is answered with one frame and needs no other state: login,
// version, catalogue and PTZ status; an unknown request gets a refusal. Nothing for the
// requests that stream, subscribe, fetch an alarm image or move a camera.
struct PlainReply {
    std::string reply;
    std::string outcome;  // for the request log
};
std::optional<PlainReply> plainReply(const SimConfig& config, const ParsedRequest& request);

// The first reply that the configuration alone makes too long for one frame (logins, version,
// catalogue, PTZ status, a scheduled alarm), named with its size; nothing when all fit.
std::optional<std::string> oversizedReply(const SimConfig& config);

// A reply with only kmReturnCode and kmDescription: acknowledgements and refusals.
std::string statusReply(int returnCode, std::string_view description);
std::string alarmPushMessage(const AlarmMessage& alarm);

// The text of a live video reply that the client accepts: it must hold "success".
inline constexpr std::string_view kLiveVideoAccepted = "success";

}  // namespace krt::sim
