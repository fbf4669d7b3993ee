#include "login/server_list.h"

#include <algorithm>

#include "common/server_text.h"
#include "login/ip_address_rules.h"
#include "login/login_sequence.h"

namespace krt {
namespace {

constexpr int kHighestPort = 65535;

std::size_t characterCount(std::string_view utf8) {
    return static_cast<std::size_t>(std::ranges::count_if(
        utf8, [](char byte) { return (static_cast<unsigned char>(byte) & 0xC0U) != 0x80U; }));
}

std::optional<std::string> checkServerName(std::string_view name) {
    if (name.empty()) {
        return std::string(kServerNameEmpty);
    }
    if (characterCount(name) > kMostServerNameCharacters) {
        return std::string(kServerNameTooLong);
    }
    // A name is shown as it is: one that the text rule would write out could pass for another
    // server's.
    if (shownServerText(name) != name) {
        return std::string(kServerNameUnprintable);
    }
    return std::nullopt;
}

// The address as the login dialog's control reads it, and only in the form it writes.
std::optional<std::string> checkServerAddress(std::string_view address) {
    const std::array<std::string, kOctetFields> fields = splitIPAddressText(address);
    const IPAddressReading reading = readIPAddress(fields);
    if (!reading.message.empty()) {
        return reading.message;
    }
    if (joinIPAddressText(fields) != address) {
        return std::string(kMissingOctetMessage);
    }
    return std::nullopt;
}

std::string nameTakenMessage(std::string_view name) {
    return "A server named \"" + shownServerText(name) + "\" is in the list already.";
}

std::string addressTakenMessage(const ServerEntry& entry, const ServerEntry& holder) {
    const std::string where = entry.address + ":" + std::to_string(entry.port);
    if (holder.name.empty()) {
        return "The server at " + where + " is the login dialog's server already.";
    }
    return "The server at " + where + " is in the list already, as \"" +
           shownServerText(holder.name) + "\".";
}

}  // namespace

std::string serverNameTrimmed(std::string_view name) {
    const std::size_t begin = name.find_first_not_of(" \t");
    if (begin == std::string_view::npos) {
        return {};
    }
    const std::size_t end = name.find_last_not_of(" \t");
    return std::string(name.substr(begin, end + 1 - begin));
}

std::optional<std::string> checkServerEntry(const ServerEntry& entry) {
    if (auto error = checkServerName(entry.name)) {
        return error;
    }
    if (auto error = checkServerAddress(entry.address)) {
        return error;
    }
    if (entry.port < 1 || entry.port > kHighestPort) {
        return std::string(kServerPortInvalid);
    }
    if (entry.userName.size() > kMaxUserNameLength) {
        return std::string(kServerUserTooLong);
    }
    return std::nullopt;
}

ServerList::ServerList(ServerEntry first) : m_first(std::move(first)) {
    m_first.name.clear();
}

const ServerEntry* ServerList::find(std::string_view name) const {
    const std::size_t index = indexOf(name);
    return index == std::string_view::npos ? nullptr : &m_added[index];
}

std::optional<std::string> ServerList::add(ServerEntry entry) {
    if (m_added.size() >= kMostServers) {
        return std::string(kTooManyServers);
    }
    entry.name = serverNameTrimmed(entry.name);
    if (auto error = checkAgainstOthers(entry, std::string_view::npos)) {
        return error;
    }
    m_added.push_back(std::move(entry));
    return std::nullopt;
}

std::optional<std::string> ServerList::replace(std::string_view name, ServerEntry entry) {
    const std::size_t index = indexOf(name);
    if (index == std::string_view::npos) {
        return std::string(kServerNotFound);
    }
    entry.name = serverNameTrimmed(entry.name);
    if (auto error = checkAgainstOthers(entry, index)) {
        return error;
    }
    m_added[index] = std::move(entry);
    return std::nullopt;
}

std::optional<std::string> ServerList::remove(std::string_view name) {
    const std::size_t index = indexOf(name);
    if (index == std::string_view::npos) {
        return std::string(kServerNotFound);
    }
    m_added.erase(m_added.begin() + static_cast<std::ptrdiff_t>(index));
    return std::nullopt;
}

std::optional<std::string> ServerList::checkAgainstOthers(const ServerEntry& entry,
                                                          std::size_t skipped) const {
    if (auto error = checkServerEntry(entry)) {
        return error;
    }
    const auto sameAddress = [&entry](const ServerEntry& other) {
        return other.address == entry.address && other.port == entry.port;
    };
    if (sameAddress(m_first)) {
        return addressTakenMessage(entry, m_first);
    }
    for (std::size_t i = 0; i < m_added.size(); ++i) {
        if (i == skipped) {
            continue;
        }
        if (sameServerName(m_added[i].name, entry.name)) {
            return nameTakenMessage(m_added[i].name);
        }
        if (sameAddress(m_added[i])) {
            return addressTakenMessage(entry, m_added[i]);
        }
    }
    return std::nullopt;
}

std::size_t ServerList::indexOf(std::string_view name) const {
    const auto found = std::ranges::find_if(
        m_added, [name](const ServerEntry& entry) { return sameServerName(entry.name, name); });
    return found == m_added.end() ? std::string_view::npos
                                  : static_cast<std::size_t>(found - m_added.begin());
}

}  // namespace krt
