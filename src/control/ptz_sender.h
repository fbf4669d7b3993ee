#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/video_channel.h"
#include "protocol/tcp_socket.h"

namespace krt {

enum class PtzButton { Left, Right, Up, Down, ZoomIn, ZoomOut };

// One PTZ button of the Videos page: its control, caption and the code its press sends.
struct PtzButtonSpec {
    PtzButton button;
    int controlId;
    std::string_view caption;
    int pressCode;
};

// Every release sends this code, whichever button it was.
inline constexpr int kPtzReleaseCode = 26;

// In the order the buttons stand in their row.
inline constexpr std::array<PtzButtonSpec, 6> kPtzButtons{{
    {PtzButton::Left, 1040, "Left", 2},
    {PtzButton::Right, 1041, "Right", 3},
    {PtzButton::Up, 1042, "Up", 4},
    {PtzButton::Down, 1043, "Down", 5},
    {PtzButton::ZoomIn, 1044, "Z+", 11},
    {PtzButton::ZoomOut, 1045, "Z-", 12},
}};

const PtzButtonSpec& ptzButtonSpec(PtzButton button);

// What a press-and-release button reports: 1 pressed, 2 released.
enum class ButtonEventKind { Pressed = 1, Released = 2 };

// The code a button event sends: the button's press code, the release code for any release,
// nothing for a control that is none of the six or for any other kind.
std::optional<int> ptzCodeForButtonEvent(int controlId, int kind);

// The Videos page's own connection for PTZ commands, to the login port. No reply is awaited;
// whatever the server answers is read and dropped so that it cannot fill the connection.
class PtzSender {
  public:
    enum class SendResult {
        Sent,
        Dropped,  // no connection, or the channel is not in the catalogue
        Lost,     // the send failed; the connection was made anew, the command is not resent
    };

    PtzSender(std::string serverAddress, int loginPort, std::string userName,
              std::chrono::milliseconds timeout = std::chrono::milliseconds(5'000));

    // (Re)opens the connection; nothing is shown when it fails.
    bool connectPtz();

    enum class Link {
        Alive,
        Reestablished,  // it had been lost (closed by the server or never made) and is back
        Down,
    };
    // Looks at the connection without sending anything and makes it anew when it was lost.
    Link reconnectIfLost();
    SendResult sendPtzCommand(std::span<const VideoChannel> catalogue, int channelIndex, int code);
    bool isConnected() const { return m_socket.valid(); }

  private:
    // Reads what the server sent; false when it has closed the connection.
    bool drainReplies();

    std::string m_serverAddress;
    int m_loginPort;
    std::string m_userName;
    std::chrono::milliseconds m_timeout;
    TcpSocket m_socket;
};

}  // namespace krt
