#pragma once

#include <QObject>
#include <QString>
#include <optional>
#include <string>

#include "login/ui/secret_store.h"

namespace krt {

// The login the dialog remembers between runs. "RememberLogin", "UserName" and "IPAddress"
// stay in the settings file; the password goes into the session's secret store, under the
// program's service with the user name and server address as key, and the file's "Password"
// is written empty. Only where no store exists at all is the password kept in the file, which
// only its owner can read, and isStoreMissing() says so; a store that is there but slow (a
// locked keyring asking to be unlocked) is waited for, and one that says no keeps nothing.
class RememberedLogin : public QObject {
    Q_OBJECT

  public:
    struct Stored {
        std::string serverAddress;
        std::string userName;
        // Set when the file holds it; otherwise passwordLoaded() brings the store's.
        std::optional<QString> password;
    };

    explicit RememberedLogin(QObject* parent);

    // Nothing when the login is not remembered. A password found in the file (an earlier
    // version's, or kept there for want of a store) is moved into the store, and leaves the
    // file once the store has confirmed it.
    std::optional<Stored> load();
    // Box ticked: the login and its password are remembered; an entry of a login remembered
    // before under another key leaves the store.
    void remember(const std::string& serverAddress, const std::string& userName,
                  const QString& password);
    // Box cleared: the remembered password leaves the store and the file.
    void forget();

    // The store's answer to load() is awaited (the dialog's Login waits for it).
    bool isLoading() const { return m_loading; }
    // Any store answer is awaited.
    bool isWaitingForStore() const { return m_waiting > 0; }
    bool isStoreMissing() const { return m_storeMissing; }

  signals:
    void passwordLoaded(const QString& password);
    void loadingEnded();
    void storeMissingChanged(bool missing);

  private:
    // Writes the password into the store, and into the file only when there is no store.
    void keepPassword(const QString& key, const QString& password);
    // The handler, counted while its answer is awaited.
    SecretReplyHandler counted(SecretReplyHandler handler);
    void setStoreMissing(bool missing);

    // Counts remember(), forget() and load(): the answer to an older one must not write over
    // what a newer one has put into the file.
    unsigned m_generation = 0;
    int m_waiting = 0;
    bool m_loading = false;
    bool m_storeMissing = false;
};

}  // namespace krt
