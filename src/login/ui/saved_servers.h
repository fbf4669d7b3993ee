#pragma once

#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "login/server_list.h"
#include "login/ui/secret_store.h"

namespace krt {

// The first server as the login dialog remembers it in the settings.
ServerEntry firstServerFromSettings();
// Beside the settings file: ZededUzeriZerave.servers.json.
std::filesystem::path savedServersPath();

// The operator's server list as the program keeps it: the added servers in the list file, and
// each remembered password in the session's secret store under serverSecretStoreKey, or, only
// where no store exists at all, in the list file, which only its owner can read (the rule of
// the first server's remembered login). A store that says no keeps nothing.
//
// Every change first reads the file again, so that the login dialog's list and the Settings
// page's never write over each other's servers, and is kept only once the file is written.
class SavedServers : public QObject {
    Q_OBJECT

  public:
    SavedServers(std::filesystem::path file, QObject* parent);

    const ServerList& list() const { return m_list; }
    // What the operator is told about the file as it was last read, or empty.
    const std::string& fileMessage() const { return m_fileMessage; }

    // Each returns what the operator is told when it is refused, or nothing. A password is
    // remembered only when the entry says so.
    std::optional<std::string> add(ServerEntry entry, const QString& password);
    // Without a password the one remembered stays, under the entry's new key if it has one.
    std::optional<std::string> edit(std::string_view name, ServerEntry entry,
                                    const std::optional<QString>& password);
    std::optional<std::string> remove(std::string_view name);

    // The remembered password of an added server, once the store has answered; nothing when
    // it is not remembered or the store does not give it.
    using PasswordHandler = std::function<void(const std::optional<QString>& password)>;
    void readPassword(std::string_view name, PasswordHandler handler);

    // Any store answer is awaited.
    bool isWaitingForStore() const { return m_waiting > 0; }
    bool isStoreMissing() const { return m_storeMissing; }

  signals:
    void changed();
    void storeMissingChanged(bool missing);

  private:
    void reload();
    // Writes `changed` and takes it as the list, or says why not.
    std::optional<std::string> keep(ServerList changed);
    void keepPassword(const ServerEntry& entry, const QString& password);
    void forgetPassword(const ServerEntry& entry);
    void movePassword(const ServerEntry& from, const ServerEntry& to);
    // The entry's password as the file keeps it, if the entry (same key) is still there.
    void setFiledPassword(const QString& key, const std::string& password);
    SecretReplyHandler counted(SecretReplyHandler handler);
    void setStoreMissing(bool missing);
    // Counts the operations on a key: the answer to an older one must not write over what a
    // newer one has put into the file.
    unsigned nextGeneration(const QString& key) { return ++m_generations[key]; }
    bool isLatest(const QString& key, unsigned generation) const;

    std::filesystem::path m_file;
    ServerList m_list;
    std::string m_fileMessage;
    bool m_fileWritable = true;
    std::map<QString, unsigned> m_generations;
    int m_waiting = 0;
    bool m_storeMissing = false;
};

QString serverSecretKey(const ServerEntry& entry);

}  // namespace krt
