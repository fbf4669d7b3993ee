#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace krt {

// Where one live stream connects: the parts of "address:channel[:port]".
struct ConnectionTarget {
    std::string address;
    std::string channel;
    int port = 5500;

    bool operator==(const ConnectionTarget&) const = default;
};

// Longest address, channel or port part that a connection text may hold.
inline constexpr std::size_t kMaxConnectionPart = 255;

// Splits the text at its first ':' (the address before it); with a further ':', the rest after
// the last one is read as the port's leading decimal digits and the channel is what lies
// between, else the rest is the channel and the port is 5500. Nothing without a ':' or with a
// part longer than 255 characters.
std::optional<ConnectionTarget> parseConnectionText(std::string_view text);

// The text a video tile hands to its stream: "%s:%s:%d".
std::string formatConnectionText(std::string_view address, std::string_view channelId, int port);

}  // namespace krt
