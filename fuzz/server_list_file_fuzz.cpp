// The server list file: whatever its bytes, reading it ends in servers that obey the list's
// rules among themselves or in a reason (never an exception), and a list written back reads
// back the same.
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "login/server_list_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const krt::ParsedServers parsed = krt::parseServers(text);
    if (parsed.error || parsed.newerVersion) {
        FUZZ_CHECK(parsed.servers.empty());
        FUZZ_CHECK(!parsed.error || !parsed.error->empty());
        return 0;
    }
    FUZZ_CHECK(parsed.servers.size() <= krt::kMostServers);
    krt::ServerList list(krt::ServerEntry{});
    for (const krt::ServerEntry& server : parsed.servers) {
        FUZZ_CHECK(!list.add(server));
    }
    const krt::ParsedServers again = krt::parseServers(krt::serversJson(list));
    FUZZ_CHECK(!again.error && again.servers == parsed.servers);
    return 0;
}
