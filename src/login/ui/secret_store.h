#pragma once

#include <QString>
#include <functional>

class QObject;

namespace krt {

// The session's secret store (the Secret Service of GNOME Keyring and others, or KWallet),
// through QtKeychain, under the program's service name. An operation ends when the store
// answers, however long that takes: a locked keyring first asks the operator to unlock it, and
// only the store's own answer says whether it exists.
enum class SecretAnswer {
    Done,      // read, written or removed
    NotFound,  // the store holds no such entry
    Refused,   // the store exists but did not do it: still locked, prompt dismissed, denied
    NoStore    // no secret store at all: no session bus, or nothing on it keeps secrets
};

struct SecretReply {
    SecretAnswer answer = SecretAnswer::NoStore;
    QString password;  // what a read found
};

// Runs once, on the GUI thread, with the store's answer, if `context` still lives by then.
using SecretReplyHandler = std::function<void(const SecretReply& reply)>;

void readSecret(const QString& key, QObject* context, SecretReplyHandler handler);
void writeSecret(const QString& key, const QString& password, QObject* context,
                 SecretReplyHandler handler);
void removeSecret(const QString& key, QObject* context, SecretReplyHandler handler);

}  // namespace krt
