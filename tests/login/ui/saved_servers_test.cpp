#include "login/ui/saved_servers.h"

#include <gtest/gtest-spi.h>

#include <QTest>
#include <fstream>

#include "common/ui/private_session.h"
#include "common/ui/qt_text.h"
#include "common/ui/ui_test_support.h"
#include "login/server_list_file.h"
#include "login/ui/fake_secret_service.h"

namespace krt {
namespace {

constexpr int kStoreAnswer_ms = 10'000;

ServerEntry site(std::string name, std::string address, bool remember = true) {
    return ServerEntry{std::move(name), std::move(address), kServerPort, "op", remember, {}};
}

class SavedServersTest : public test::UiTest {
  protected:
    std::filesystem::path file() const { return m_folder.path() / "settings.servers.json"; }

    static void waitForTheStore(const SavedServers& servers) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !servers.isWaitingForStore(); }, kStoreAnswer_ms));
    }
    // The passwords the file keeps, by server, as the next run reads them.
    std::map<std::string, std::string> filedPasswords() const {
        ServerList list(ServerEntry{});
        static_cast<void>(readServersFile(file(), list, std::chrono::system_clock::now()));
        std::map<std::string, std::string> passwords;
        for (const ServerEntry& entry : list.added()) {
            passwords[entry.name] = entry.filedPassword;
        }
        return passwords;
    }
};

// This process has no session bus (QtApplicationEnvironment): there is no store at all, so a
// remembered password is kept in the file, and only while it is remembered.
TEST_F(SavedServersTest, WithoutAStoreThePasswordIsKeptInTheFileWhileRemembered) {
    struct Change {
        const char* what;
        std::function<std::optional<std::string>(SavedServers&)> change;
        std::map<std::string, std::string> filed;
    };
    for (const Change& c : std::initializer_list<Change>{
             {"nothing changed",
              [](SavedServers&) { return std::nullopt; },
              {{"Site A", "pw-a"}, {"Site B", ""}}},
             {"renamed, password kept",
              [](SavedServers& s) {
                  return s.edit("site a", site("North", "10.0.0.2"), std::nullopt);
              },
              {{"North", "pw-a"}, {"Site B", ""}}},
             {"new password",
              [](SavedServers& s) {
                  return s.edit("Site A", site("Site A", "10.0.0.2"), QString("new"));
              },
              {{"Site A", "new"}, {"Site B", ""}}},
             {"no longer remembered",
              [](SavedServers& s) {
                  return s.edit("Site A", site("Site A", "10.0.0.2", false), std::nullopt);
              },
              {{"Site A", ""}, {"Site B", ""}}},
             {"remembered from now on",
              [](SavedServers& s) {
                  return s.edit("Site B", site("Site B", "10.0.0.3"), QString("pw-b"));
              },
              {{"Site A", "pw-a"}, {"Site B", "pw-b"}}},
             {"removed", [](SavedServers& s) { return s.remove("Site A"); }, {{"Site B", ""}}},
         }) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(file());
        SavedServers servers(file(), nullptr);
        ASSERT_EQ(servers.add(site("Site A", "10.0.0.2"), "pw-a"), std::nullopt);
        ASSERT_EQ(servers.add(site("Site B", "10.0.0.3", false), "ignored"), std::nullopt);
        waitForTheStore(servers);
        EXPECT_TRUE(servers.isStoreMissing());
        EXPECT_EQ(c.change(servers), std::nullopt);
        waitForTheStore(servers);
        EXPECT_EQ(filedPasswords(), c.filed);

        std::optional<QString> read;
        bool answered = false;
        servers.readPassword(c.filed.begin()->first, [&](const std::optional<QString>& found) {
            read = found;
            answered = true;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return answered; }, kStoreAnswer_ms));
        const std::string expected = c.filed.begin()->second;
        EXPECT_EQ(read, expected.empty() ? std::nullopt : std::optional(qtText(expected)));
    }
}

TEST_F(SavedServersTest, TwoKeepersOfTheSameFileKeepEachOthersServers) {
    SavedServers loginDialogs(file(), nullptr);
    SavedServers settingsPages(file(), nullptr);
    ASSERT_EQ(settingsPages.add(site("Site A", "10.0.0.2", false), {}), std::nullopt);
    ASSERT_EQ(loginDialogs.add(site("Site B", "10.0.0.3", false), {}), std::nullopt);
    EXPECT_EQ(loginDialogs.list().added().size(), 2U);
    // Checked against what the other one added, too.
    EXPECT_NE(loginDialogs.add(site("site a", "10.0.0.9", false), {}), std::nullopt);
}

TEST_F(SavedServersTest, AChangeThatCannotBeWrittenIsNotMade) {
    std::ofstream(m_folder.path() / "blocker") << "a file where the folder should be";
    SavedServers servers(m_folder.path() / "blocker" / "settings.servers.json", nullptr);
    const std::optional<std::string> refused = servers.add(site("Site A", "10.0.0.2"), "pw");
    ASSERT_TRUE(refused.has_value());
    EXPECT_NE(refused->find("could not be saved"), std::string::npos) << *refused;
    EXPECT_TRUE(servers.list().added().empty());
    EXPECT_FALSE(servers.isWaitingForStore()) << "nothing went to the store";
}

TEST_F(SavedServersTest, TheFirstServerIsTheLoginDialogsAndTakesItsAddress) {
    store("IPAddress", "10.0.0.1");
    store("UserName", "op");
    SavedServers servers(file(), nullptr);
    EXPECT_EQ(servers.list().first().address, "10.0.0.1");
    const std::optional<std::string> refused = servers.add(site("Site A", "10.0.0.1"), {});
    ASSERT_TRUE(refused.has_value());
    EXPECT_NE(refused->find("login dialog's server"), std::string::npos) << *refused;
}

// With a store, each server's password is there under its own entry and never in the file.
TEST_F(SavedServersTest, WithAStoreEachPasswordHasItsOwnEntry) {
    if (const std::string missing = test::missingProgram({"dbus-daemon"}); !missing.empty()) {
        GTEST_SKIP() << missing << " is not installed (scripts/setup installs it)";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The store's library keeps its first session bus: a process of its own.
    const auto body = [this] {
        const test::PrivateBus bus(m_folder.path());
        test::FakeSecretService store(bus.connection(), std::chrono::milliseconds(0));
        qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(bus.address()));
        for (const char* variable :
             {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION"}) {
            qunsetenv(variable);
        }
        SavedServers servers(file(), nullptr);
        EXPECT_EQ(servers.add(site("Site A", "10.0.0.2"), "pw-a"), std::nullopt);
        EXPECT_EQ(servers.add(site("Site B", "10.0.0.3"), "pw-b"), std::nullopt);
        waitForTheStore(servers);
        EXPECT_FALSE(servers.isStoreMissing());
        EXPECT_EQ(store.password("Site A: op@10.0.0.2"), "pw-a");
        EXPECT_EQ(store.password("Site B: op@10.0.0.3"), "pw-b");
        EXPECT_EQ(filedPasswords(),
                  (std::map<std::string, std::string>{{"Site A", ""}, {"Site B", ""}}));

        EXPECT_EQ(servers.edit("Site A", site("North", "10.0.0.2"), std::nullopt), std::nullopt);
        waitForTheStore(servers);
        EXPECT_EQ(store.password("Site A: op@10.0.0.2"), std::nullopt);
        EXPECT_EQ(store.password("North: op@10.0.0.2"), "pw-a");

        EXPECT_EQ(servers.remove("Site B"), std::nullopt);
        waitForTheStore(servers);
        EXPECT_EQ(store.password("Site B: op@10.0.0.3"), std::nullopt);
        EXPECT_EQ(store.password("North: op@10.0.0.2"), "pw-a");
    };
    EXPECT_EXIT(test::runAndExit(body), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace krt
