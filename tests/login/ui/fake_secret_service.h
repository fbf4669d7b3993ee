#pragma once

#include <gtest/gtest.h>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMap>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>

namespace krt::test {

// A process has one session bus, and the store's library keeps its connection to it: a case
// that talks to a store runs in a process of its own (EXPECT_EXIT), which reports its failures
// on its error output and exits 0 only without any.
[[noreturn]] inline void runAndExit(const std::function<void()>& body) {
    ::testing::TestPartResultArray failures;
    {
        const ::testing::ScopedFakeTestPartResultReporter collect(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &failures);
        body();
    }
    for (int i = 0; i < failures.size(); ++i) {
        const ::testing::TestPartResult& failure = failures.GetTestPartResult(i);
        std::fprintf(stderr, "%s:%d: %s\n", failure.file_name(), failure.line_number(),
                     failure.message());
    }
    std::fflush(nullptr);
    std::_Exit(failures.size() == 0 ? 0 : 1);
}

// A secret as the Secret Service hands it over in a "plain" session: (oayays).
struct ServiceSecret {
    QDBusObjectPath session;
    QByteArray parameters;
    QByteArray value;
    QString contentType;
};

inline QDBusArgument& operator<<(QDBusArgument& argument, const ServiceSecret& secret) {
    argument.beginStructure();
    argument << secret.session << secret.parameters << secret.value << secret.contentType;
    argument.endStructure();
    return argument;
}

inline const QDBusArgument& operator>>(const QDBusArgument& argument, ServiceSecret& secret) {
    argument.beginStructure();
    argument >> secret.session >> secret.parameters >> secret.value >> secret.contentType;
    argument.endStructure();
    return argument;
}

// The Secret Service (org.freedesktop.secrets) as far as libsecret uses it to store, look up
// and clear a password, on a bus of the test's own. Its one collection starts locked: while it
// is, whatever needs it waits behind an unlock prompt that the operator answers `answer_after`
// later. Secrets travel unencrypted, as a "plain" session has them; items are told apart by
// their "user" attribute.
class FakeSecretService : public QDBusVirtualObject {
  public:
    FakeSecretService(QDBusConnection bus, std::chrono::milliseconds answer_after)
        : m_bus(std::move(bus)), m_answerAfter(answer_after) {
        qDBusRegisterMetaType<ServiceSecret>();
        qDBusRegisterMetaType<QMap<QDBusObjectPath, ServiceSecret>>();
        m_bus.registerVirtualObject(kRoot, this, QDBusConnection::SubPath);
        m_bus.registerService(QStringLiteral("org.freedesktop.secrets"));
    }
    ~FakeSecretService() override {
        m_bus.unregisterService(QStringLiteral("org.freedesktop.secrets"));
        m_bus.unregisterObject(kRoot, QDBusConnection::UnregisterTree);
    }
    FakeSecretService(const FakeSecretService&) = delete;
    FakeSecretService& operator=(const FakeSecretService&) = delete;

    // As at the start of another desktop session.
    void lock() { m_locked = true; }
    // An entry an earlier run has stored.
    void add(const QString& key, const QString& password) {
        m_items[kRoot + QStringLiteral("/collection/login/%1").arg(++m_count)] = {
            key, password.toUtf8()};
    }

    // The password kept under the key, as the store holds it.
    std::optional<QString> password(const QString& key) const {
        for (const auto& [path, item] : m_items) {
            if (item.key == key) {
                return QString::fromUtf8(item.secret);
            }
        }
        return std::nullopt;
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        if (member == QLatin1String("GetAll")) {
            return reply(connection, message, {QVariantMap()});
        }
        if (member == QLatin1String("OpenSession")) {
            return openSession(connection, message);
        }
        if (member == QLatin1String("CreateItem")) {
            return createItem(connection, message);
        }
        if (member == QLatin1String("Unlock")) {
            return unlock(connection, message);
        }
        if (member == QLatin1String("Prompt")) {
            return prompt(connection, message);
        }
        if (member == QLatin1String("SearchItems")) {
            return searchItems(connection, message);
        }
        if (member == QLatin1String("GetSecrets")) {
            return getSecrets(connection, message);
        }
        if (member == QLatin1String("Delete")) {
            m_items.erase(message.path());
            return reply(connection, message, {objectPath(noPrompt())});
        }
        return connection.send(message.createErrorReply(QDBusError::UnknownMethod, member));
    }

  private:
    struct Item {
        QString key;
        QByteArray secret;
    };
    // What the operator's answer to a prompt does; it returns the prompt's result.
    using PromptAnswer = std::function<QDBusVariant()>;

    static constexpr QLatin1StringView kRoot{"/org/freedesktop/secrets"};

    static bool reply(const QDBusConnection& connection, const QDBusMessage& message,
                      const QVariantList& arguments) {
        return connection.send(message.createReply(arguments));
    }

    // Only "plain": libsecret then gives up its encrypted session and sends secrets as they are.
    static bool openSession(const QDBusConnection& connection, const QDBusMessage& message) {
        if (message.arguments().value(0).toString() != QLatin1String("plain")) {
            return connection.send(message.createErrorReply(QDBusError::NotSupported, {}));
        }
        return reply(connection, message,
                     {QVariant::fromValue(QDBusVariant(QString())),
                      QVariant::fromValue(QDBusObjectPath(kRoot + QLatin1String("/session/1")))});
    }

    bool createItem(const QDBusConnection& connection, const QDBusMessage& message) {
        const auto properties = qdbus_cast<QVariantMap>(message.arguments().value(0));
        const auto attributes = qdbus_cast<QMap<QString, QString>>(
            properties.value(QStringLiteral("org.freedesktop.Secret.Item.Attributes")));
        const auto secret = qdbus_cast<ServiceSecret>(message.arguments().value(1));
        const QDBusObjectPath path(kRoot + QStringLiteral("/collection/login/%1").arg(++m_count));
        const auto create = [this, path, item = Item{attributes.value("user"), secret.value}] {
            m_items[path.path()] = item;
            return QDBusVariant(QVariant::fromValue(path));
        };
        if (!m_locked) {
            create();
            return reply(connection, message, {QVariant::fromValue(path), objectPath(noPrompt())});
        }
        return reply(connection, message,
                     {objectPath(noPrompt()), objectPath(addPrompt([this, create] {
                          m_locked = false;
                          return create();
                      }))});
    }

    bool unlock(const QDBusConnection& connection, const QDBusMessage& message) {
        const auto objects = qdbus_cast<QList<QDBusObjectPath>>(message.arguments().value(0));
        if (!m_locked) {
            return reply(connection, message,
                         {QVariant::fromValue(objects), objectPath(noPrompt())});
        }
        return reply(
            connection, message,
            {QVariant::fromValue(QList<QDBusObjectPath>()), objectPath(addPrompt([this, objects] {
                 m_locked = false;
                 return QDBusVariant(QVariant::fromValue(objects));
             }))});
    }

    static QString noPrompt() { return QStringLiteral("/"); }
    static QVariant objectPath(const QString& path) {
        return QVariant::fromValue(QDBusObjectPath(path));
    }
    QString addPrompt(PromptAnswer answer) {
        const QString path = kRoot + QStringLiteral("/prompt/%1").arg(++m_count);
        m_prompts[path] = std::move(answer);
        return path;
    }

    // The operator answers a while later.
    bool prompt(const QDBusConnection& connection, const QDBusMessage& message) {
        if (!m_prompts.contains(message.path())) {
            return connection.send(message.createErrorReply(QDBusError::UnknownObject, {}));
        }
        QTimer::singleShot(m_answerAfter, this,
                           [this, connection, caller = message.service(), path = message.path()] {
                               completePrompt(connection, caller, path);
                           });
        return reply(connection, message, {});
    }

    void completePrompt(QDBusConnection connection, const QString& caller, const QString& path) {
        const QDBusVariant result = m_prompts.at(path)();
        m_prompts.erase(path);
        QDBusMessage completed = QDBusMessage::createTargetedSignal(
            caller, path, QStringLiteral("org.freedesktop.Secret.Prompt"),
            QStringLiteral("Completed"));
        completed << false << QVariant::fromValue(result);
        connection.send(completed);
    }

    bool searchItems(const QDBusConnection& connection, const QDBusMessage& message) {
        const auto attributes = qdbus_cast<QMap<QString, QString>>(message.arguments().value(0));
        QList<QDBusObjectPath> found;
        for (const auto& [path, item] : m_items) {
            if (item.key == attributes.value(QStringLiteral("user"))) {
                found.append(QDBusObjectPath(path));
            }
        }
        const QVariant none = QVariant::fromValue(QList<QDBusObjectPath>());
        const QVariant listed = QVariant::fromValue(found);
        // Unlocked items first, then locked ones.
        return reply(connection, message, {m_locked ? none : listed, m_locked ? listed : none});
    }

    bool getSecrets(const QDBusConnection& connection, const QDBusMessage& message) {
        if (m_locked) {
            return connection.send(message.createErrorReply(
                QStringLiteral("org.freedesktop.Secret.Error.IsLocked"), {}));
        }
        const auto paths = qdbus_cast<QList<QDBusObjectPath>>(message.arguments().value(0));
        const auto session = message.arguments().value(1).value<QDBusObjectPath>();
        QMap<QDBusObjectPath, ServiceSecret> secrets;
        for (const QDBusObjectPath& path : paths) {
            if (const auto item = m_items.find(path.path()); item != m_items.end()) {
                secrets.insert(path, {session, {}, item->second.secret, "text/plain"});
            }
        }
        return reply(connection, message, {QVariant::fromValue(secrets)});
    }

    QDBusConnection m_bus;
    std::chrono::milliseconds m_answerAfter;
    bool m_locked = true;
    int m_count = 0;
    std::map<QString, PromptAnswer> m_prompts;  // by the prompt's path
    std::map<QString, Item> m_items;            // by the item's path
};

}  // namespace krt::test

Q_DECLARE_METATYPE(krt::test::ServiceSecret)
