#include "login/ui/secret_store.h"

#include <qt6keychain/keychain.h>
#include <QPointer>
#include <QTimer>
#include <memory>

#include "common/ui/qt_text.h"
#include "login/secret_store_key.h"

namespace krt {
namespace {

SecretReply replyOf(const QKeychain::Job& job, bool late) {
    switch (job.error()) {
        case QKeychain::NoError: {
            const auto* read = qobject_cast<const QKeychain::ReadPasswordJob*>(&job);
            return {SecretAnswer::Done, read != nullptr ? read->textData() : QString(), late};
        }
        case QKeychain::EntryNotFound:
            return {SecretAnswer::NotFound, {}, late};
        default:
            return {SecretAnswer::Unavailable, {}, late};
    }
}

// The job deletes itself once it has finished, and only then: the store's library keeps a
// pointer to it until it answers, so it has no parent that could delete it before.
void runBounded(QKeychain::Job* job, const QString& key, QObject* context,
                SecretReplyHandler handler) {
    job->setKey(key);
    job->setAutoDelete(true);
    auto timedOut = std::make_shared<bool>(false);
    auto* limit = new QTimer(context);
    limit->setSingleShot(true);
    QObject::connect(limit, &QTimer::timeout, context, [limit, timedOut, handler] {
        *timedOut = true;
        limit->deleteLater();
        handler({});
    });
    QObject::connect(job, &QKeychain::Job::finished, context,
                     [limit = QPointer<QTimer>(limit), timedOut, handler](QKeychain::Job* done) {
                         if (limit) {
                             limit->stop();
                             limit->deleteLater();
                         }
                         handler(replyOf(*done, *timedOut));
                     });
    limit->start(kSecretStoreLimit);
    job->start();
}

QString service() {
    return qtText(kSecretStoreService);
}

}  // namespace

void readSecret(const QString& key, QObject* context, SecretReplyHandler handler) {
    runBounded(new QKeychain::ReadPasswordJob(service()), key, context, std::move(handler));
}

void writeSecret(const QString& key, const QString& password, QObject* context,
                 SecretReplyHandler handler) {
    auto* job = new QKeychain::WritePasswordJob(service());
    job->setTextData(password);
    runBounded(job, key, context, std::move(handler));
}

void removeSecret(const QString& key, QObject* context, SecretReplyHandler handler) {
    runBounded(new QKeychain::DeletePasswordJob(service()), key, context, std::move(handler));
}

}  // namespace krt
