#pragma once

#include <QString>
#include <chrono>
#include <functional>

class QObject;

namespace krt {

// The session's secret store (the Secret Service of GNOME Keyring and others, or KWallet),
// through QtKeychain, under the program's service name. Every operation is bounded: a store
// that has not answered within kSecretStoreLimit counts as none, so that nothing waits on it
// longer; if it answers after all, that answer follows, marked late.
inline constexpr std::chrono::milliseconds kSecretStoreLimit{2000};

enum class SecretAnswer {
    Done,        // read, written or removed
    NotFound,    // the store holds no such entry
    Unavailable  // no store: no session bus, none running, access refused, or no answer in time
};

struct SecretReply {
    SecretAnswer answer = SecretAnswer::Unavailable;
    QString password;   // what a read found
    bool late = false;  // the store's answer after Unavailable was given for want of one
};

// Runs on the GUI thread while `context` lives: once with the store's answer, or twice when
// it comes only after the limit.
using SecretReplyHandler = std::function<void(const SecretReply& reply)>;

void readSecret(const QString& key, QObject* context, SecretReplyHandler handler);
void writeSecret(const QString& key, const QString& password, QObject* context,
                 SecretReplyHandler handler);
void removeSecret(const QString& key, QObject* context, SecretReplyHandler handler);

}  // namespace krt
