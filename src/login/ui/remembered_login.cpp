#include "login/ui/remembered_login.h"

#include "common/ui/qt_text.h"
#include "common/ui/settings_store.h"
#include "login/secret_store_key.h"

namespace krt {
namespace {

QString keyOf(std::string_view serverAddress, std::string_view userName) {
    return qtText(secretStoreKey(serverAddress, userName));
}

}  // namespace

RememberedLogin::RememberedLogin(QObject* parent) : QObject(parent) {}

std::optional<RememberedLogin::Stored> RememberedLogin::load() {
    ++m_generation;
    if (!settingValue<Setting::RememberLogin>()) {
        return std::nullopt;
    }
    Stored stored{settingValue<Setting::IPAddress>(), settingValue<Setting::UserName>(),
                  std::nullopt};
    const QString key = keyOf(stored.serverAddress, stored.userName);
    if (const std::string filed = settingValue<Setting::Password>(); !filed.empty()) {
        stored.password = qtText(filed);
        keepPassword(key, *stored.password);
        return stored;
    }
    m_loading = true;
    readSecret(key, this, counted([this](const SecretReply& reply) {
                   if (reply.answer == SecretAnswer::Done) {
                       emit passwordLoaded(reply.password);
                   }
                   setStoreMissing(reply.answer == SecretAnswer::NoStore);
                   m_loading = false;
                   emit loadingEnded();
               }));
    return stored;
}

void RememberedLogin::remember(const std::string& serverAddress, const std::string& userName,
                               const QString& password) {
    ++m_generation;
    const bool wasRemembered = settingValue<Setting::RememberLogin>();
    const QString oldKey =
        keyOf(settingValue<Setting::IPAddress>(), settingValue<Setting::UserName>());
    const QString key = keyOf(serverAddress, userName);
    setSettingValue<Setting::RememberLogin>(true);
    setSettingValue<Setting::UserName>(userName);
    setSettingValue<Setting::IPAddress>(serverAddress);
    if (wasRemembered && oldKey != key) {
        removeSecret(oldKey, this, counted([](const SecretReply&) {}));
    }
    // What the file holds is an older password; this one reaches the file only if the store
    // turns out not to exist.
    setSettingValue<Setting::Password>(std::string());
    keepPassword(key, password);
}

void RememberedLogin::forget() {
    ++m_generation;
    const std::string serverAddress = settingValue<Setting::IPAddress>();
    const std::string userName = settingValue<Setting::UserName>();
    setSettingValue<Setting::RememberLogin>(false);
    clearSetting(Setting::Password);
    if (!serverAddress.empty() || !userName.empty()) {
        removeSecret(keyOf(serverAddress, userName), this, counted([](const SecretReply&) {}));
    }
}

void RememberedLogin::keepPassword(const QString& key, const QString& password) {
    writeSecret(key, password, this,
                counted([this, password, generation = m_generation](const SecretReply& reply) {
                    if (generation != m_generation) {
                        return;
                    }
                    // A store that said no keeps nothing, and the file stays as it was.
                    if (reply.answer == SecretAnswer::Done) {
                        setSettingValue<Setting::Password>(std::string());
                    } else if (reply.answer == SecretAnswer::NoStore) {
                        setSettingValue<Setting::Password>(password.toStdString());
                    }
                    setStoreMissing(reply.answer == SecretAnswer::NoStore);
                }));
}

SecretReplyHandler RememberedLogin::counted(SecretReplyHandler handler) {
    ++m_waiting;
    return [this, handler = std::move(handler)](const SecretReply& reply) {
        --m_waiting;
        handler(reply);
    };
}

void RememberedLogin::setStoreMissing(bool missing) {
    if (missing != m_storeMissing) {
        m_storeMissing = missing;
        emit storeMissingChanged(missing);
    }
}

}  // namespace krt
