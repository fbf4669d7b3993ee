#include "login/ui/remembered_login.h"

#include <gtest/gtest-spi.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "common/ui/private_session.h"
#include "common/ui/ui_test_support.h"
#include "login/ui/fake_secret_service.h"
#include "login/ui/ip_address_edit.h"
#include "login/ui/login_dialog.h"
#include "support/loopback_server.h"

namespace krt {
namespace {

enum class Store {
    Present,    // GNOME Keyring, unlocked
    Absent,     // nothing on the session bus serves secrets
    Refusing,   // GNOME Keyring with no keyring it may open: it asks, and no one can answer
    Prompting,  // a locked keyring whose unlock prompts the operator answers after 3 s
};

// Where the remembered password ends up.
enum class Kept { InStore, InFile, Nowhere };

struct Case {
    const char* name;
    Store store;
    Kept kept;
    const char* earlierFilePassword;  // in a settings file an earlier version wrote
};

constexpr int kWait_ms = 10'000;
constexpr std::chrono::milliseconds kPromptAnswer{3000};

// A private session bus and, on it, the store the case names.
class StoreSession {
  public:
    StoreSession(const std::filesystem::path& folder, Store store) : m_bus(folder) {
        if (store == Store::Absent) {
            return;
        }
        if (store == Store::Prompting) {
            m_fake = std::make_unique<test::FakeSecretService>(m_bus.connection(), kPromptAnswer);
            return;
        }
        test::Environment home;
        for (const char* variable : {"HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
            std::filesystem::create_directory(folder / variable);
            std::filesystem::permissions(folder / variable, std::filesystem::perms::owner_all);
            home[variable] = (folder / variable).string();
        }
        std::vector<std::string> arguments{"--foreground", "--components=secrets"};
        if (store != Store::Refusing) {
            arguments.push_back("--unlock");  // with the password on standard input
        }
        m_keyring.emplace("gnome-keyring-daemon", arguments, m_bus.environment(home),
                          "keyring-password");
        EXPECT_TRUE(m_bus.waitForService("org.freedesktop.secrets"));
    }

    const std::string& address() const { return m_bus.address(); }
    // Another desktop session begins: a keyring that asks to be unlocked asks again.
    void relock() const {
        if (m_fake) {
            m_fake->lock();
        }
    }
    test::FakeSecretService& fake() const { return *m_fake; }
    // The remembered password as the desktop's own tool finds it in the store.
    std::optional<QString> lookup() const {
        if (m_fake) {
            return m_fake->password(QStringLiteral("fieldops01@10.1.2.3"));
        }
        const test::SessionProgram tool(
            "secret-tool", {"lookup", "server", "krt-client", "user", "fieldops01@10.1.2.3"},
            m_bus.environment());
        const std::string found = tool.firstLine();
        return found.empty() ? std::nullopt : std::optional(QString::fromStdString(found));
    }

  private:
    test::PrivateBus m_bus;
    std::optional<test::SessionProgram> m_keyring;
    std::unique_ptr<test::FakeSecretService> m_fake;  // answers on this process's event loop
};

class RememberedPassword : public test::UiTest {
  protected:
    // The store's library takes the session bus, and the desktop's kind chooses the store: here
    // it is the session's Secret Service.
    static void useSessionOf(const StoreSession& session) {
        qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(session.address()));
        for (const char* variable :
             {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION"}) {
            qunsetenv(variable);
        }
    }

    static void waitForTheStore(const LoginDialog& dialog) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.rememberedLogin()->isWaitingForStore(); },
                                    kWait_ms));
    }

    // From the first start to the box cleared on the next.
    void runCase(const Case& c) {
        const StoreSession session(m_folder.path(), c.store);
        useSessionOf(session);
        const QString password = c.earlierFilePassword ? c.earlierFilePassword : "s3cret & <b>";
        AppState app;
        {
            if (c.earlierFilePassword) {
                store("RememberLogin", "1");
                store("UserName", "fieldops01");
                store("IPAddress", "10.1.2.3");
                store("Password", c.earlierFilePassword);
            }
            LoginDialog first(app);
            if (!c.earlierFilePassword) {
                first.addressField()->setText("10.1.2.3");
                first.userNameField()->setText("fieldops01");
                first.passwordField()->setText(password);
                QTest::mouseClick(first.rememberLoginBox(), Qt::LeftButton);
            }
            EXPECT_EQ(first.passwordField()->text(), password);
            // Watched all the while the store takes to answer, however long that is.
            bool everInFile = false;
            bool everNoticed = false;
            EXPECT_TRUE(QTest::qWaitFor(
                [&] {
                    everInFile |= stored("Password") == password.toStdString();
                    everNoticed |= first.storeNotice()->isVisibleTo(&first);
                    return !first.rememberedLogin()->isWaitingForStore();
                },
                kWait_ms));
            EXPECT_EQ(everInFile, c.kept == Kept::InFile || c.earlierFilePassword != nullptr);
            EXPECT_EQ(everNoticed, c.kept == Kept::InFile);
            EXPECT_TRUE(isStored("Password"));
            EXPECT_EQ(stored("Password"), c.kept == Kept::InFile ? password.toStdString() : "");
            EXPECT_EQ(std::filesystem::status(settingsFilePath()).permissions(),
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
            EXPECT_EQ(first.storeNotice()->isVisibleTo(&first), c.kept == Kept::InFile);
            EXPECT_EQ(first.storeNotice()->text(),
                      "No secret store found: the password is kept "
                      "in a file only you can read");
            EXPECT_EQ(session.lookup(),
                      c.kept == Kept::InStore ? std::optional(password) : std::nullopt);
        }
        session.relock();
        LoginDialog next(app);
        bool noticedNext = false;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                noticedNext |= next.storeNotice()->isVisibleTo(&next);
                return !next.rememberedLogin()->isWaitingForStore();
            },
            kWait_ms));
        EXPECT_EQ(noticedNext, c.kept == Kept::InFile);
        EXPECT_EQ(next.passwordField()->text(), c.kept == Kept::Nowhere ? QString() : password);
        QTest::mouseClick(next.rememberLoginBox(), Qt::LeftButton);
        waitForTheStore(next);
        EXPECT_EQ(stored("RememberLogin"), "0");
        EXPECT_FALSE(isStored("Password"));
        EXPECT_EQ(session.lookup(), std::nullopt);
    }
};

TEST_F(RememberedPassword, LivesInTheSecretStoreOrElseInAFileOnlyTheUserReads) {
    const std::string missing =
        test::missingProgram({"dbus-daemon", "gnome-keyring-daemon", "secret-tool"});
    if (!missing.empty()) {
        GTEST_SKIP() << missing << " is not installed (scripts/setup installs it)";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const Case& c :
         {Case{"store present", Store::Present, Kept::InStore, nullptr},
          Case{"no store on the bus", Store::Absent, Kept::InFile, nullptr},
          Case{"store refusing", Store::Refusing, Kept::Nowhere, nullptr},
          Case{"unlock prompt answered after 3 s", Store::Prompting, Kept::InStore, nullptr},
          Case{"earlier file, store present", Store::Present, Kept::InStore, "older-pw"},
          Case{"earlier file, no store", Store::Absent, Kept::InFile, "older-pw"}}) {
        EXPECT_EXIT(test::runAndExit([&] { runCase(c); }), ::testing::ExitedWithCode(0), "")
            << c.name;
    }
}

// Login waits for a remembered password that a locked keyring holds back, but not for one the
// operator types meanwhile.
TEST_F(RememberedPassword, LoginWaitsForTheStoreOnlyWhileNoPasswordIsTyped) {
    if (const std::string missing = test::missingProgram({"dbus-daemon"}); !missing.empty()) {
        GTEST_SKIP() << missing << " is not installed (scripts/setup installs it)";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto body = [this] {
        const StoreSession session(m_folder.path(), Store::Prompting);
        useSessionOf(session);
        std::string address;
        {
            const test::LoopbackListener unused = test::listenOnFreeLoopbackAddress(5500);
            address = unused.address;
        }
        session.fake().add(QString::fromStdString("fieldops01@" + address), "from-the-store");
        store("RememberLogin", "1");
        store("UserName", "fieldops01");
        store("IPAddress", address);
        AppState app;
        LoginDialog dialog(app);
        QTest::mouseClick(dialog.loginButton(), Qt::LeftButton);
        EXPECT_FALSE(dialog.isLoginRunning()) << "the remembered password is on its way";
        dialog.passwordField()->setText("typed");
        QTest::mouseClick(dialog.loginButton(), Qt::LeftButton);
        EXPECT_TRUE(dialog.isLoginRunning());
        EXPECT_EQ(dialog.m_strPassword, "typed");
        EXPECT_TRUE(dialog.rememberedLogin()->isLoading());
        // The server is not there: the attempt ends, and the store's late answer starts none.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.isLoginRunning(); }, kWait_ms));
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return !dialog.rememberedLogin()->isLoading(); }, kWait_ms));
        EXPECT_FALSE(dialog.isLoginRunning());
        EXPECT_EQ(dialog.passwordField()->text(), "typed");
    };
    EXPECT_EXIT(test::runAndExit(body), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace krt
