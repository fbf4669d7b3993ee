#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "frame_scene.h"

namespace krt::sim {

// The privilege text a user needs to be let in by the client.
inline constexpr std::string_view kClientPrivilege = "Doruvareva Client";
inline constexpr std::string_view kClientProtocolVersion = "MobileClient-02-00-01";
// The login dialog's default user name and password, so that the demo logs in with one press.
inline constexpr std::string_view kDemoUser = "demo";
inline constexpr std::string_view kDemoPassword = "demo";

// One account. A user with a refusal code is refused with that kmReturnCode whatever the
// password; any other user must give the right password.
struct SimUser {
    std::string name;
    std::string password;
    std::string privilege{kClientPrivilege};
    std::optional<int> refusalCode;
    // Tags left out of the accepted reply: kmResponseData, kmDescription,
    // kmNumberOfSupportedCameras, kmSiteName, GetLiveVideoFromServer.
    std::set<std::string> omitElements;
    // A kmReturnCode beside kmResponseData in the accepted reply (none by default).
    std::optional<int> acceptedReturnCode;
};

struct SimChannel {
    std::string id;
    std::string description;
    std::string type = "IP Camera";
    int width = 1280;
    int height = 960;
    int recWidth = 1280;
    int recHeight = 960;
    // kmDescription of the PTZ status reply; "1" accepts PTZ commands, no value leaves the
    // element out.
    std::optional<std::string> ptzStatus = "0";
    // Frames per second of the live streams; 0 sends them as fast as the connection takes them.
    double frameRate = 10.0;
    // Tags left out of the details reply: VideoChannel, ChannelID, ChannelType,
    // ChannelDescription, Width, Height, RecWidth, RecHeight.
    std::set<std::string> omitElements;

    bool ptzEnabled() const;
};

enum class FaultKind {
    Refuse,            // answer with kmReturnCode `code` and do nothing else
    CloseAfterBytes,   // from this request on, close the connection after `bytes` sent bytes
    BadStartOfFrame,   // from this request on, frames after the first `afterFrames` lack "KMCS"
    Delay,             // wait `delayMs` before the reply
    Trickle,           // from this request on, send in pieces of `pieceBytes`, `pauseMs` apart
    ReplyText,         // answer with `text` as the payload, whatever it is
    Stall,             // read this request and every later one on the connection, never answer
    SilentDrop,        // after `afterFrames` more frames, send and read nothing, never close
    ZeroLength,        // from this request on, frames after `afterFrames` announce 0 bytes
    OverstatedLength,  // from this request on, frames after `afterFrames` announce `bytes` more
    PushText,          // alarms pushed to this subscription go out as `text`, whatever it is
};

// A fault that tests choose by configuration. It applies to every request, or only to
// requests of one name, and to all of them or only to the first `times`.
struct FaultMode {
    FaultKind kind = FaultKind::Delay;
    std::optional<std::string> request;
    std::optional<int> times;
    int code = 0;
    std::size_t bytes = 0;
    int afterFrames = 0;
    int delayMs = 0;
    std::size_t pieceBytes = 1;
    int pauseMs = 1;
    std::string text;

    bool appliesTo(std::string_view requestName) const {
        return !request || *request == requestName;
    }
};

struct AlarmSchedule {
    int intervalSeconds = 30;  // 0: no scheduled alarms
    std::vector<std::string> names = {"Motion", "Video Loss", "Door Open"};
    // Channels the scheduled alarms go to in turn; empty: every channel.
    std::vector<std::string> channels;
};

// A value of an enumeration and the name a configuration file (or a command line) gives it.
template <typename Enum>
struct EnumName {
    Enum value;
    std::string_view text;
};

inline constexpr std::array kPictureDetailNames = {
    EnumName<PictureDetail>{PictureDetail::Flat, "flat"},
    EnumName<PictureDetail>{PictureDetail::Camera, "camera"},
};

// Everything the simulated server answers. Every field has a built-in default (see
// defaultConfig); a configuration file names only what it changes.
struct SimConfig {
    std::string protocolVersion{kClientProtocolVersion};
    std::string siteName = "KRT Simulated Site";
    // kmReturnCode for an unknown user or a wrong password.
    int badLoginCode = -10010;
    std::vector<SimUser> users;
    std::vector<SimChannel> channels;
    // The IDs the channel list reply names, in order, repeats and empty IDs included;
    // without it, the IDs of `channels`.
    std::optional<std::vector<std::string>> channelList;
    // Leaves VideoChannels out of the channel list reply.
    bool listWithoutVideoChannels = false;
    AlarmSchedule alarms;
    // Alarm snapshots are padded with a comment segment up to this size (0: as encoded).
    std::size_t alarmImageMinBytes = 0;
    int jpegQuality = 80;
    // Flat pictures (small frames), or camera-like ones: texture, fine edges, stripes and
    // small text, 30 to 80 KB a frame at 640 x 480 and quality 80.
    PictureDetail pictureDetail = PictureDetail::Flat;
    // Low resolution streams are the channel's size divided by this, medium by the other.
    int lowResolutionDivisor = 4;
    int mediumResolutionDivisor = 2;
    // A connection that has not sent a whole request this long after it was accepted (or
    // after its last reply) is closed; subscriptions, PTZ connections after their first
    // command and stalled connections wait for ever.
    int idleTimeoutMs = 30'000;
    std::vector<FaultMode> faults;

    const SimChannel* findChannel(std::string_view id) const;
    const SimUser* findUser(std::string_view name) const;
    std::vector<std::string> listedChannelIds() const;
};

struct ConfigError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Nine channels (1 to 9, three of them with PTZ: 1, 4 and 7), the user demo/demo with the
// client's privilege, "operator"/"operator" with another privilege, "disabled" refused with
// -10011, an alarm every 30 seconds.
SimConfig defaultConfig();

// Reads a JSON configuration on top of the built-in default. Unknown keys, wrong types and
// values out of range are errors, so that a mistyped test configuration cannot pass unseen.
SimConfig parseConfig(std::string_view jsonText);
SimConfig loadConfigFile(const std::filesystem::path& path);
// The configuration as JSON, in the format parseConfig reads.
std::string configToJson(const SimConfig& config);

}  // namespace krt::sim
