#include "login/ui/secret_store.h"

#include <qt6keychain/keychain.h>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <algorithm>
#include <array>

#include "common/ui/qt_text.h"
#include "login/secret_store_key.h"

namespace krt {
namespace {

// The bus names of the stores QtKeychain can use.
constexpr std::array kStoreBusNames{
    QLatin1StringView("org.freedesktop.secrets"), QLatin1StringView("org.kde.kwalletd6"),
    QLatin1StringView("org.kde.kwalletd5"), QLatin1StringView("org.kde.kwalletd")};

// Asked after a failure, when the library has already tried to start the store: a store that
// could not be started has no name on the bus.
bool isStoreOnTheBus() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    const QDBusConnectionInterface* daemon = bus.interface();
    if (!bus.isConnected() || daemon == nullptr) {
        return false;
    }
    return std::ranges::any_of(kStoreBusNames, [daemon](QLatin1StringView name) {
        return daemon->isServiceRegistered(name).value();
    });
}

SecretAnswer answerOf(QKeychain::Error error) {
    switch (error) {
        case QKeychain::NoError:
            return SecretAnswer::Done;
        case QKeychain::EntryNotFound:
            return SecretAnswer::NotFound;
        case QKeychain::NoBackendAvailable:
            return SecretAnswer::NoStore;
        default:
            // libsecret reports a Secret Service that is not there as any other failure.
            return isStoreOnTheBus() ? SecretAnswer::Refused : SecretAnswer::NoStore;
    }
}

SecretReply replyOf(const QKeychain::Job& job) {
    const SecretAnswer answer = answerOf(job.error());
    const auto* read = qobject_cast<const QKeychain::ReadPasswordJob*>(&job);
    return {answer, answer == SecretAnswer::Done && read != nullptr ? read->textData() : QString()};
}

// The job deletes itself once it has finished, and only then: the store's library keeps a
// pointer to it until it answers, so it has no parent that could delete it before.
void run(QKeychain::Job* job, const QString& key, QObject* context, SecretReplyHandler handler) {
    job->setKey(key);
    job->setAutoDelete(true);
    QObject::connect(
        job, &QKeychain::Job::finished, context,
        [handler = std::move(handler)](QKeychain::Job* done) { handler(replyOf(*done)); });
    job->start();
}

QString service() {
    return qtText(kSecretStoreService);
}

}  // namespace

void readSecret(const QString& key, QObject* context, SecretReplyHandler handler) {
    run(new QKeychain::ReadPasswordJob(service()), key, context, std::move(handler));
}

void writeSecret(const QString& key, const QString& password, QObject* context,
                 SecretReplyHandler handler) {
    auto* job = new QKeychain::WritePasswordJob(service());
    job->setTextData(password);
    run(job, key, context, std::move(handler));
}

void removeSecret(const QString& key, QObject* context, SecretReplyHandler handler) {
    run(new QKeychain::DeletePasswordJob(service()), key, context, std::move(handler));
}

}  // namespace krt
