#pragma once

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
#include <map>
#include <optional>

namespace krt::test {

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
// and clear a password, on a bus of the test's own. Its one collection is locked: each item
// it is asked to create waits behind an unlock prompt that the operator answers
// `answer_after` later. Secrets travel unencrypted, as the specification's "plain" session has
// them; items are told apart by their "user" attribute.
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
            return reply(connection, message, {QVariant::fromValue(QDBusObjectPath("/"))});
        }
        return connection.send(message.createErrorReply(QDBusError::UnknownMethod, member));
    }

  private:
    struct Item {
        QString key;
        QByteArray secret;
    };
    struct PendingItem {
        QDBusObjectPath path;
        Item item;
    };

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
        const QString prompt = kRoot + QStringLiteral("/prompt/%1").arg(++m_count);
        m_prompts[prompt] = {
            QDBusObjectPath(kRoot + QStringLiteral("/collection/login/%1").arg(m_count)),
            {attributes.value(QStringLiteral("user")), secret.value}};
        return reply(connection, message,
                     {QVariant::fromValue(QDBusObjectPath("/")),
                      QVariant::fromValue(QDBusObjectPath(prompt))});
    }

    // The operator answers the unlock prompt a while later; only then is the item created.
    bool prompt(const QDBusConnection& connection, const QDBusMessage& message) {
        const auto pending = m_prompts.find(message.path());
        if (pending == m_prompts.end()) {
            return connection.send(message.createErrorReply(QDBusError::UnknownObject, {}));
        }
        QTimer::singleShot(m_answerAfter, this,
                           [this, connection, caller = message.service(), path = pending->first] {
                               completePrompt(connection, caller, path);
                           });
        return reply(connection, message, {});
    }

    void completePrompt(QDBusConnection connection, const QString& caller, const QString& path) {
        const PendingItem pending = m_prompts.at(path);
        m_prompts.erase(path);
        m_items[pending.path.path()] = pending.item;
        QDBusMessage completed = QDBusMessage::createTargetedSignal(
            caller, path, QStringLiteral("org.freedesktop.Secret.Prompt"),
            QStringLiteral("Completed"));
        completed << false << QVariant::fromValue(QDBusVariant(QVariant::fromValue(pending.path)));
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
        return reply(connection, message,
                     {QVariant::fromValue(found), QVariant::fromValue(QList<QDBusObjectPath>())});
    }

    bool getSecrets(const QDBusConnection& connection, const QDBusMessage& message) {
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
    int m_count = 0;
    std::map<QString, PendingItem> m_prompts;  // by the prompt's path
    std::map<QString, Item> m_items;           // by the item's path
};

}  // namespace krt::test

Q_DECLARE_METATYPE(krt::test::ServiceSecret)
