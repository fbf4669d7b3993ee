#include "login/ui/saved_servers.h"

#include <algorithm>
#include <chrono>

#include "common/ui/qt_text.h"
#include "common/ui/settings_store.h"
#include "login/secret_store_key.h"
#include "login/server_list_file.h"

namespace krt {

ServerEntry firstServerFromSettings() {
    return ServerEntry{{},
                       settingValue<Setting::IPAddress>(),
                       kServerPort,
                       settingValue<Setting::UserName>(),
                       static_cast<bool>(settingValue<Setting::RememberLogin>()),
                       {}};
}

std::filesystem::path savedServersPath() {
    return serversFilePath(settingsFilePath());
}

QString serverSecretKey(const ServerEntry& entry) {
    return qtText(serverSecretStoreKey(entry.name, entry.address, entry.userName));
}

SavedServers::SavedServers(std::filesystem::path file, QObject* parent)
    : QObject(parent), m_file(std::move(file)), m_list(firstServerFromSettings()) {
    reload();
}

void SavedServers::reload() {
    ServerList fresh(firstServerFromSettings());
    const ServersFileResult result =
        readServersFile(m_file, fresh, std::chrono::system_clock::now());
    m_list = std::move(fresh);
    m_fileMessage = result.message;
    m_fileWritable = result.writable();
}

std::optional<std::string> SavedServers::keep(ServerList next) {
    if (!m_fileWritable) {
        return m_fileMessage;
    }
    if (auto error = writeServersFile(m_file, next)) {
        return error;
    }
    m_list = std::move(next);
    emit changed();
    return std::nullopt;
}

std::optional<std::string> SavedServers::add(ServerEntry entry, const QString& password) {
    reload();
    entry.filedPassword.clear();
    ServerList next = m_list;
    if (auto error = next.add(std::move(entry))) {
        return error;
    }
    const ServerEntry added = next.added().back();
    if (auto error = keep(std::move(next))) {
        return error;
    }
    if (added.rememberLogin) {
        keepPassword(added, password);
    }
    return std::nullopt;
}

std::optional<std::string> SavedServers::edit(std::string_view name, ServerEntry entry,
                                              const std::optional<QString>& password) {
    reload();
    const ServerEntry* found = m_list.find(name);
    if (found == nullptr) {
        return std::string(kServerNotFound);
    }
    const ServerEntry before = *found;
    // A password kept in the file for want of a store goes along with the entry.
    entry.filedPassword = entry.rememberLogin && !password ? before.filedPassword : std::string();
    entry.name = serverNameTrimmed(entry.name);
    ServerList next = m_list;
    if (auto error = next.replace(name, entry)) {
        return error;
    }
    if (auto error = keep(std::move(next))) {
        return error;
    }
    const bool moved = serverSecretKey(before) != serverSecretKey(entry);
    if (before.rememberLogin && (!entry.rememberLogin || (moved && password))) {
        forgetPassword(before);
    }
    if (entry.rememberLogin && password) {
        keepPassword(entry, *password);
    } else if (entry.rememberLogin && before.rememberLogin && moved) {
        movePassword(before, entry);
    }
    return std::nullopt;
}

std::optional<std::string> SavedServers::remove(std::string_view name) {
    reload();
    const ServerEntry* found = m_list.find(name);
    if (found == nullptr) {
        return std::string(kServerNotFound);
    }
    const ServerEntry before = *found;
    ServerList next = m_list;
    if (auto error = next.remove(name)) {
        return error;
    }
    if (auto error = keep(std::move(next))) {
        return error;
    }
    if (before.rememberLogin) {
        forgetPassword(before);
    }
    return std::nullopt;
}

void SavedServers::readPassword(std::string_view name, PasswordHandler handler) {
    const ServerEntry* found = m_list.find(name);
    if (found == nullptr || !found->rememberLogin) {
        handler(std::nullopt);
        return;
    }
    if (!found->filedPassword.empty()) {
        // Kept for want of a store: moved into one that is there now.
        const QString filed = qtText(found->filedPassword);
        keepPassword(*found, filed);
        handler(filed);
        return;
    }
    readSecret(serverSecretKey(*found), this,
               counted([this, handler = std::move(handler)](const SecretReply& reply) {
                   setStoreMissing(reply.answer == SecretAnswer::NoStore);
                   handler(reply.answer == SecretAnswer::Done ? std::optional(reply.password)
                                                              : std::nullopt);
               }));
}

void SavedServers::keepPassword(const ServerEntry& entry, const QString& password) {
    const QString key = serverSecretKey(entry);
    writeSecret(
        key, password, this,
        counted([this, key, password, generation = nextGeneration(key)](const SecretReply& reply) {
            if (!isLatest(key, generation)) {
                return;
            }
            if (reply.answer == SecretAnswer::Done) {
                setFiledPassword(key, std::string());
            } else if (reply.answer == SecretAnswer::NoStore) {
                setFiledPassword(key, password.toStdString());
            }
            setStoreMissing(reply.answer == SecretAnswer::NoStore);
        }));
}

void SavedServers::forgetPassword(const ServerEntry& entry) {
    const QString key = serverSecretKey(entry);
    nextGeneration(key);
    removeSecret(key, this, counted([](const SecretReply&) {}));
}

void SavedServers::movePassword(const ServerEntry& from, const ServerEntry& to) {
    const QString fromKey = serverSecretKey(from);
    const QString toKey = serverSecretKey(to);
    nextGeneration(fromKey);
    readSecret(fromKey, this,
               counted([this, fromKey, toKey, to,
                        generation = nextGeneration(toKey)](const SecretReply& reply) {
                   if (!isLatest(toKey, generation) || reply.answer != SecretAnswer::Done) {
                       return;
                   }
                   keepPassword(to, reply.password);
                   removeSecret(fromKey, this, counted([](const SecretReply&) {}));
               }));
}

void SavedServers::setFiledPassword(const QString& key, const std::string& password) {
    reload();
    const auto added = m_list.added();
    const auto found = std::ranges::find_if(
        added, [&key](const ServerEntry& entry) { return serverSecretKey(entry) == key; });
    if (found == added.end() || found->filedPassword == password) {
        return;
    }
    ServerEntry updated = *found;
    updated.filedPassword = password;
    ServerList next = m_list;
    // A file that cannot be written now (a full disk) keeps what it had: the operator types
    // the password at the next login.
    if (!next.replace(updated.name, updated)) {
        static_cast<void>(keep(std::move(next)));
    }
}

bool SavedServers::isLatest(const QString& key, unsigned generation) const {
    const auto found = m_generations.find(key);
    return found != m_generations.end() && found->second == generation;
}

SecretReplyHandler SavedServers::counted(SecretReplyHandler handler) {
    ++m_waiting;
    return [this, handler = std::move(handler)](const SecretReply& reply) {
        --m_waiting;
        handler(reply);
    };
}

void SavedServers::setStoreMissing(bool missing) {
    if (missing != m_storeMissing) {
        m_storeMissing = missing;
        emit storeMissingChanged(missing);
    }
}

}  // namespace krt
