#include "login/ui/remembered_login.h"

#include <signal.h>

#include <gtest/gtest-spi.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "common/ui/private_session.h"
#include "common/ui/ui_test_support.h"
#include "login/secret_store_key.h"
#include "login/ui/ip_address_edit.h"
#include "login/ui/login_dialog.h"

namespace krt {
namespace {

enum class Store {
    Present,   // GNOME Keyring, unlocked
    Absent,    // nothing on the session bus serves secrets
    Refusing,  // GNOME Keyring with no keyring it may open: it asks, and no one can answer
    Late,      // GNOME Keyring, held still until the limit has passed, then answering
};

struct Case {
    const char* name;
    Store store;
    const char* earlierFilePassword;  // a settings file an earlier version wrote; or nothing
};

constexpr const char* kAddress = "10.1.2.3";
constexpr const char* kUser = "fieldops01";
const QString kKey = QStringLiteral("fieldops01@10.1.2.3");
const QString kNotice =
    QStringLiteral("No secret store found: the password is kept in a file only you can read");
constexpr int kStoreWait_ms = 10'000;

// The desktop session of one case: a private session bus, and on it the store the case names.
class StoreSession {
  public:
    StoreSession(const std::filesystem::path& folder, Store store) : m_bus(folder) {
        if (store == Store::Absent) {
            return;
        }
        QProcessEnvironment environment = m_bus.environment();
        for (const char* variable : {"HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
            const std::filesystem::path home = folder / variable;
            std::filesystem::create_directory(home);
            std::filesystem::permissions(home, std::filesystem::perms::owner_all);
            environment.insert(QLatin1String(variable), QString::fromStdString(home.string()));
        }
        QStringList arguments{QStringLiteral("--foreground"),
                              QStringLiteral("--components=secrets")};
        if (store != Store::Refusing) {
            arguments << QStringLiteral("--unlock");  // the keyring's password comes on stdin
        }
        m_keyring.emplace(QStringLiteral("gnome-keyring-daemon"), arguments, environment);
        m_keyring->process().write("keyring-password");
        m_keyring->process().closeWriteChannel();
        EXPECT_TRUE(m_bus.waitForService(QStringLiteral("org.freedesktop.secrets")));
    }

    const QString& address() const { return m_bus.address(); }
    // What the store holds under the key, as the desktop's own tool finds it.
    std::optional<QString> lookup(const QString& key) const {
        QProcess tool;
        tool.setProcessEnvironment(m_bus.environment());
        tool.start(QStringLiteral("secret-tool"),
                   {QStringLiteral("lookup"), QStringLiteral("server"),
                    QLatin1String(kSecretStoreService.data()), QStringLiteral("user"), key});
        tool.waitForFinished(kStoreWait_ms);
        if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
            return std::nullopt;
        }
        return QString::fromUtf8(tool.readAllStandardOutput());
    }
    void hold() const { ::kill(static_cast<pid_t>(m_keyring->processId()), SIGSTOP); }
    void release() const { ::kill(static_cast<pid_t>(m_keyring->processId()), SIGCONT); }

  private:
    test::PrivateBus m_bus;
    std::optional<test::SessionProgram> m_keyring;
};

class RememberedPassword : public test::UiTest {
  protected:
    // One case from the first start to the box cleared again. A process has one session bus,
    // and the store's library keeps its connection to it: each case runs in a process of its
    // own, which reports through its exit status.
    [[noreturn]] void runCaseAndExit(const Case& c) {
        ::testing::TestPartResultArray failures;
        {
            const ::testing::ScopedFakeTestPartResultReporter collect(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &failures);
            runCase(c);
        }
        // The test shows what the process wrote to its error output.
        for (int i = 0; i < failures.size(); ++i) {
            const ::testing::TestPartResult& failure = failures.GetTestPartResult(i);
            std::fprintf(stderr, "%s:%d: %s\n", failure.file_name(), failure.line_number(),
                         failure.message());
        }
        std::fflush(nullptr);
        std::_Exit(failures.size() == 0 ? 0 : 1);
    }

    static void waitForTheStore(const LoginDialog& dialog) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.rememberedLogin()->isWaitingForStore(); },
                                    kStoreWait_ms));
    }

    void runCase(const Case& c) {
        const StoreSession session(m_folder.path(), c.store);
        qputenv("DBUS_SESSION_BUS_ADDRESS", session.address().toUtf8());
        // The store is chosen by the desktop: here it is the session's Secret Service.
        for (const char* variable :
             {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION"}) {
            qunsetenv(variable);
        }
        const bool kept = c.store == Store::Present || c.store == Store::Late;
        const QString password = c.earlierFilePassword ? QLatin1String(c.earlierFilePassword)
                                                       : QStringLiteral("s3cret & <b>");
        AppState app;
        {
            if (c.earlierFilePassword) {
                store("RememberLogin", "1");
                store("UserName", kUser);
                store("IPAddress", kAddress);
                store("Password", c.earlierFilePassword);
            }
            LoginDialog first(app);
            if (!c.earlierFilePassword) {
                first.addressField()->setText(QLatin1String(kAddress));
                first.userNameField()->setText(QLatin1String(kUser));
                first.passwordField()->setText(password);
                if (c.store == Store::Late) {
                    session.hold();
                }
                QTest::mouseClick(first.rememberLoginBox(), Qt::LeftButton);
            }
            EXPECT_EQ(first.passwordField()->text(), password);
            waitForTheStore(first);
            if (c.store == Store::Late) {
                // Kept in the file for now, and out of it once the store has answered.
                EXPECT_EQ(stored("Password"), password.toStdString());
                EXPECT_TRUE(first.storeNotice()->isVisibleTo(&first));
                session.release();
                EXPECT_TRUE(QTest::qWaitFor(
                    [&] { return !first.rememberedLogin()->isStoreMissing(); }, kStoreWait_ms));
            }
            EXPECT_TRUE(isStored("Password"));
            EXPECT_EQ(stored("Password"), kept ? "" : password.toStdString());
            EXPECT_EQ(stored("UserName"), kUser);
            EXPECT_EQ(stored("IPAddress"), kAddress);
            EXPECT_EQ(std::filesystem::status(settingsFilePath()).permissions(),
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
            EXPECT_EQ(first.storeNotice()->isVisibleTo(&first), !kept);
            EXPECT_EQ(first.storeNotice()->text(), kNotice);
            EXPECT_EQ(session.lookup(kKey), kept ? std::optional(password) : std::nullopt);
        }
        // The next start fills in the password; clearing the box takes it out of everything.
        LoginDialog next(app);
        EXPECT_TRUE(QTest::qWaitFor([&] { return next.passwordField()->text() == password; },
                                    kStoreWait_ms));
        EXPECT_TRUE(next.rememberLoginBox()->isChecked());
        QTest::mouseClick(next.rememberLoginBox(), Qt::LeftButton);
        waitForTheStore(next);
        EXPECT_EQ(stored("RememberLogin"), "0");
        EXPECT_FALSE(isStored("Password"));
        EXPECT_EQ(session.lookup(kKey), std::nullopt);
    }
};

TEST_F(RememberedPassword, LivesInTheSecretStoreOrElseInAFileOnlyTheUserReads) {
    if (const QString missing =
            test::missingProgram({"dbus-daemon", "gnome-keyring-daemon", "secret-tool"});
        !missing.isEmpty()) {
        GTEST_SKIP() << missing.toStdString() << " is not installed (scripts/setup installs it)";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const Case cases[] = {
        {"store present", Store::Present, nullptr},
        {"no store on the bus", Store::Absent, nullptr},
        {"store refusing", Store::Refusing, nullptr},
        {"store answering after the limit", Store::Late, nullptr},
        {"earlier version's file, store present", Store::Present, "older-pw"},
        {"earlier version's file, no store", Store::Absent, "older-pw"},
    };
    for (const Case& c : cases) {
        EXPECT_EXIT(runCaseAndExit(c), ::testing::ExitedWithCode(0), "") << c.name;
    }
}

}  // namespace
}  // namespace krt
