#pragma once

#include <string>
#include <string_view>

namespace krt {

// A remembered password's entry in the session's secret store: the program's service, and a
// key naming the user and the server. The address is dotted IPv4 and holds no '@', so the
// last '@' always separates the two.
inline constexpr std::string_view kSecretStoreService = "krt-client";

inline std::string secretStoreKey(std::string_view serverAddress, std::string_view userName) {
    std::string key(userName);
    key += '@';
    key += serverAddress;
    return key;
}

// The entry of a server the operator added: its name first, so that the store's own browser
// tells the sites apart, and the first server's key after it. Names and addresses are unique
// in the list, so no two servers share an entry.
inline std::string serverSecretStoreKey(std::string_view serverName, std::string_view serverAddress,
                                        std::string_view userName) {
    std::string key(serverName);
    key += ": ";
    key += secretStoreKey(serverAddress, userName);
    return key;
}

}  // namespace krt
