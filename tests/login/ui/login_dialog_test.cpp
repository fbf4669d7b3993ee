#include "login/ui/login_dialog.h"

#include <fcntl.h>
#include <unistd.h>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <fstream>
#include <future>

#include "app/ui/client_startup.h"
#include "app/ui/main_sheet.h"
#include "common/ui/connecting_notice.h"
#include "common/ui/ui_test_support.h"
#include "login/server_list_file.h"
#include "login/ui/ip_address_edit.h"
#include "login/ui/port_forwarding_dialog.h"
#include "login/ui/saved_servers.h"
#include "login/ui/server_entry_dialog.h"
#include "protocol/diag_log.h"
#include "sim_config.h"
#include "sim_server.h"
#include "support/loopback_server.h"

namespace krt {
namespace {

using namespace std::chrono_literals;
using Dialog = LoginDialog;

constexpr int kLoginTimeoutMs = 20'000;

// krt-sim on a loopback address of its own, on the given port.
class RunningSim {
  public:
    explicit RunningSim(sim::SimConfig config, std::uint16_t port = 5500) {
        config.alarms.intervalSeconds = 0;
        test::LoopbackListener listener = test::listenOnFreeLoopbackAddress(port);
        m_address = listener.address;
        m_server = std::make_unique<sim::SimServer>(std::move(config));
        m_server->start(std::move(listener.socket));
    }
    const std::string& address() const { return m_address; }
    sim::SimServer& server() { return *m_server; }

  private:
    std::string m_address;
    std::unique_ptr<sim::SimServer> m_server;
};

class LoginDialogTest : public test::UiTest {
  protected:
    // Fills the dialog as the operator would and presses Login.
    static void logIn(Dialog& dialog, const std::string& address, const QString& user,
                      const QString& password) {
        dialog.addressField()->setText(QString::fromStdString(address));
        dialog.userNameField()->setText(user);
        dialog.passwordField()->setText(password);
        QTest::mouseClick(dialog.loginButton(), Qt::LeftButton);
    }
    // Waits until the dialog has closed; false when it is still open after the time-out.
    static bool waitUntilClosed(Dialog& dialog) {
        return QTest::qWaitFor([&] { return !dialog.isVisible(); }, kLoginTimeoutMs);
    }
    bool waitForMessages(std::size_t count) const {
        return QTest::qWaitFor([&] { return m_messages.boxes().size() >= count; }, kLoginTimeoutMs);
    }
};

TEST_F(LoginDialogTest, FirstRunShowsTheDefaultsAndEveryControl) {
    AppState app;
    const Dialog dialog(app);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Login"));
    EXPECT_EQ(dialog.addressField()->text(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(dialog.userNameField()->text(), QStringLiteral("demo"));
    EXPECT_EQ(dialog.passwordField()->text(), QStringLiteral("demo"));
    EXPECT_EQ(dialog.passwordField()->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(dialog.rememberLoginBox()->isChecked());
    EXPECT_FALSE(dialog.portForwardingBox()->isChecked());
    EXPECT_EQ(dialog.m_nPort, 5500);
    EXPECT_EQ(dialog.m_pApp, &app);
    EXPECT_EQ(dialog.rememberLoginBox()->text(), QStringLiteral("Remember Login"));
    EXPECT_EQ(dialog.portForwardingBox()->text(),
              QStringLiteral("Port forwarding enabled at server"));
    EXPECT_EQ(dialog.loginButton()->text(), QStringLiteral("Login"));
    EXPECT_EQ(dialog.cancelButton()->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(dialog.versionLabel()->text(), QStringLiteral("Version : 13.11.25.01"));
    QStringList labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        labels << label->text();
    }
    EXPECT_TRUE(labels.contains(QStringLiteral("IP Address :")));
    EXPECT_TRUE(labels.contains(QStringLiteral("User Name :")));
    EXPECT_TRUE(labels.contains(QStringLiteral("Password :")));
    EXPECT_FALSE(dialog.windowIcon().isNull());
    EXPECT_FALSE(dialog.connectingNotice()->isVisible());
    EXPECT_FALSE(isStored("RememberLogin"));
}

TEST_F(LoginDialogTest, ARememberLoginOtherThanOneCountsAsNotRemembered) {
    AppState app;
    store("UserName", "someone");
    store("IPAddress", "10.9.8.7");
    store("Password", "pw");
    for (const char* flag : {"0", "2", "", "yes", "-1"}) {
        store("RememberLogin", flag);
        const Dialog dialog(app);
        EXPECT_FALSE(dialog.rememberLoginBox()->isChecked()) << flag;
        EXPECT_EQ(dialog.userNameField()->text(), QStringLiteral("demo")) << flag;
        EXPECT_EQ(dialog.addressField()->text(), QStringLiteral("127.0.0.1")) << flag;
    }
    store("RememberLogin", "1");
    EXPECT_EQ(Dialog(app).userNameField()->text(), QStringLiteral("someone"));
}

TEST_F(LoginDialogTest, PortForwardingSetsTheLoginPortOnlyWhenConfirmed) {
    struct Case {
        const char* tcpPort1;
        bool clearItsBox;
        bool done;  // Done, or Escape
        int port;
    };
    for (const Case& c : {Case{"6000", false, true, 6000}, Case{"70000", false, true, 70000},
                          Case{"6000", true, true, 5500}, Case{"6000", false, false, 5500}}) {
        AppState app;
        Dialog dialog(app);
        dialog.show();
        whenModalRuns<PortForwardingDialog>([&](PortForwardingDialog* forwarding) {
            EXPECT_EQ(forwarding->portField(0)->text(), QStringLiteral("5500"));
            forwarding->portField(0)->setText(QLatin1String(c.tcpPort1));
            if (c.clearItsBox) {
                QTest::mouseClick(forwarding->portForwardingBox(), Qt::LeftButton);
            }
            if (c.done) {
                QTest::mouseClick(forwarding->doneButton(), Qt::LeftButton);
            } else {
                QTest::keyClick(forwarding, Qt::Key_Escape);
            }
        });
        QTest::mouseClick(dialog.portForwardingBox(), Qt::LeftButton);
        EXPECT_EQ(dialog.m_nPort, c.port) << c.tcpPort1;
        // Clearing the box again leaves the port as it is and opens nothing.
        QTest::mouseClick(dialog.portForwardingBox(), Qt::LeftButton);
        EXPECT_FALSE(dialog.portForwardingBox()->isChecked());
        EXPECT_EQ(dialog.m_nPort, c.port) << c.tcpPort1;
    }
}

TEST_F(LoginDialogTest, AddServerOpensTheEntryDialogAndKeepsTheServer) {
    // A damaged list is said, kept aside, and the new server starts a list of its own.
    std::ofstream(savedServersPath()) << "damaged";
    AppState app;
    Dialog dialog(app);
    dialog.show();
    EXPECT_EQ(dialog.addServerButton()->text(), QStringLiteral("Add server…"));
    EXPECT_TRUE(dialog.rect().contains(dialog.addServerButton()->geometry()));
    whenModalRuns<ServerEntryDialog>([](ServerEntryDialog* entry) {
        entry->nameField()->setText("Site B");
        entry->addressField()->setText("10.0.0.3");
        entry->accept();
    });
    QTest::mouseClick(dialog.addServerButton(), Qt::LeftButton);
    ServerList next(ServerEntry{});
    EXPECT_EQ(readServersFile(savedServersPath(), next, std::chrono::system_clock::now()).state,
              ServersFileState::Read);
    ASSERT_EQ(next.added().size(), 1U);
    EXPECT_EQ(next.added().front().name, "Site B");
    EXPECT_FALSE(dialog.isLoginRunning()) << "adding a server logs in to nothing";
    ASSERT_EQ(m_messages.boxes().size(), 1U);
    EXPECT_TRUE(m_messages.boxes().front().text.contains("cannot be read"));
}

TEST_F(LoginDialogTest, AForwardedPortAbove65535SendsTheLoginToItsLow16Bits) {
    RunningSim sim(sim::defaultConfig(), 70000 % 65536);
    AppState app;
    Dialog dialog(app);
    dialog.show();
    dialog.m_nPort = 70000;
    logIn(dialog, sim.address(), QStringLiteral("disabled"), QStringLiteral("disabled"));
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_EQ(m_messages.texts(),
              (std::vector<std::string>{"Error while login,user is disabled.\n"
                                        "Please use different user for login."}));
    EXPECT_EQ(app.m_loginPort, 70000);
    EXPECT_EQ(sim.server().requestCount("validateuser"), 1u);
}

// Every way a login can fail against the simulator, with the exact message it shows; the
// dialog stays for another try, the password cleared where the server refused the user.
TEST_F(LoginDialogTest, EveryFailedLoginShowsItsMessageAndLeavesTheDialogForAnotherTry) {
    struct Case {
        const char* name;
        std::function<void(sim::SimConfig&)> configure;
        const char* user;
        const char* password;
        const char* message;  // nullptr: no message box
        bool userRefused;
    };
    const auto addUser = [](std::string name, std::function<void(sim::SimUser&)> change) {
        return [name, change](sim::SimConfig& config) {
            sim::SimUser user;
            user.name = name;
            user.password = name;
            change(user);
            config.users.push_back(user);
        };
    };
    const std::vector<Case> cases{
        {"disabled user",
         {},
         "disabled",
         "disabled",
         "Error while login,user is disabled.\nPlease use different user for login.",
         true},
        {"operator only", addUser("op", [](sim::SimUser& u) { u.refusalCode = -10018; }), "op",
         "op",
         "Unable to login to the server, only users with Operator privilege are allowed to "
         "login.",
         true},
        {"wrong password",
         {},
         "demo",
         "wrong",
         "Unable to login to the server. Please check the Username and Password.",
         true},
        {"refusal code 0", addUser("zero", [](sim::SimUser& u) { u.refusalCode = 0; }), "zero",
         "zero", "Unable to login to the server. Please check the Username and Password.", true},
        {"refusal code 7", addUser("seven", [](sim::SimUser& u) { u.refusalCode = 7; }), "seven",
         "seven", nullptr, true},
        {"other privilege",
         {},
         "operator",
         "operator",
         "Unable to login to the server.\nOnly users with Doruvareva Client privilege are "
         "allowed to login.",
         true},
        {"reply without site name",
         addUser("nosite", [](sim::SimUser& u) { u.omitElements = {"kmSiteName"}; }), "nosite",
         "nosite", "Error while login.", false},
        {"reply without privilege",
         addUser("nopriv", [](sim::SimUser& u) { u.omitElements = {"kmDescription"}; }), "nopriv",
         "nopriv", "Error while login.", false},
        {"other protocol version",
         [](sim::SimConfig& config) { config.protocolVersion = "MobileClient-01-00-00"; }, "demo",
         "demo",
         "This is a old version of KRT Client.\nPlease contact Administrator for latest "
         "version.",
         false},
        {"version reply with return code 0",
         [](sim::SimConfig& config) {
             sim::FaultMode fault;
             fault.kind = sim::FaultKind::ReplyText;
             fault.request = "getMobileClientCommunicationVersion";
             fault.text =
                 "<kmResponse><kmReturnCode>0</kmReturnCode>"
                 "<kmDescription>MobileClient-02-00-01</kmDescription></kmResponse>";
             config.faults.push_back(fault);
         },
         "demo", "demo",
         "This is a old version of KRT Client.\nPlease contact Administrator for latest "
         "version.",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimConfig config = sim::defaultConfig();
        if (c.configure) {
            c.configure(config);
        }
        RunningSim sim(config);
        AppState app;
        Dialog dialog(app);
        dialog.show();
        const std::size_t before = m_messages.boxes().size();
        logIn(dialog, sim.address(), QLatin1String(c.user), QLatin1String(c.password));
        EXPECT_TRUE(dialog.connectingNotice()->isVisible());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isLoginRunning(); }, kLoginTimeoutMs));
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_FALSE(dialog.connectingNotice()->isVisible());
        EXPECT_EQ(dialog.userNameField()->text(), QLatin1String(c.user));
        EXPECT_EQ(dialog.addressField()->text(), QString::fromStdString(sim.address()));
        EXPECT_EQ(dialog.passwordField()->text(),
                  c.userRefused ? QString() : QLatin1String(c.password));
        EXPECT_EQ(dialog.focusWidget() == dialog.passwordField(), c.userRefused);
        const std::vector<std::string> all = m_messages.texts();
        const std::vector<std::string> shown(all.begin() + static_cast<long>(before), all.end());
        EXPECT_EQ(shown,
                  c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
        for (std::size_t i = before; i < m_messages.boxes().size(); ++i) {
            EXPECT_EQ(m_messages.boxes()[i].caption, QStringLiteral("Error"));
            EXPECT_EQ(m_messages.boxes()[i].icon, MessageIcon::Error);
            EXPECT_EQ(m_messages.boxes()[i].owner, &dialog);
        }
        EXPECT_EQ(app.m_serverAddress, sim.address());
        EXPECT_EQ(app.m_userName, c.user);
    }
}

TEST_F(LoginDialogTest, ADownServerShowsUnableToConnectAndTheLoginIsStillRemembered) {
    std::string address;
    {
        const test::LoopbackListener unused = test::listenOnFreeLoopbackAddress(5500);
        address = unused.address;
    }  // closed: nothing listens there any more
    AppState app;
    Dialog dialog(app);
    dialog.show();
    QTest::mouseClick(dialog.rememberLoginBox(), Qt::LeftButton);
    logIn(dialog, address, QStringLiteral("demo"), QStringLiteral("typed"));
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_EQ(m_messages.texts(), std::vector<std::string>{"Unable to connect to the server"});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(stored("RememberLogin"), "1");
    EXPECT_EQ(stored("IPAddress"), address);
}

// A wall started before its server: the remembered login is tried without a click, again
// and again while the server cannot be reached, and goes on into the session once it can.
TEST_F(LoginDialogTest, ALoginAtStartWaitsForAServerThatIsNotThereYet) {
    std::string address;
    {
        const test::LoopbackListener unused = test::listenOnFreeLoopbackAddress(5500);
        address = unused.address;
    }
    for (const auto& [name, value] : {std::pair<const char*, std::string>{"RememberLogin", "1"},
                                      {"UserName", "demo"},
                                      {"Password", "demo"},
                                      {"IPAddress", address}}) {
        store(name, value);
    }
    AppState app;
    bool sessionRan = false;
    Dialog dialog(app, [&](AppState&, QWidget*) { sessionRan = true; });
    dialog.show();
    dialog.loginAtStart();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return dialog.startRetryTimer()->isActive(); }, kLoginTimeoutMs));
    EXPECT_EQ(dialog.startRetryTimer()->interval(), 30'000);
    EXPECT_TRUE(dialog.isVisible()) << "the program goes on";
    EXPECT_TRUE(dialog.startStatusLabel()->isVisible());
    EXPECT_TRUE(dialog.startStatusLabel()->text().contains(QStringLiteral("every 30 s")));
    EXPECT_TRUE(m_messages.boxes().empty()) << "no box waits for a click on a wall";
    // The server comes up where it was; the next try (brought forward) gets in.
    sim::SimServer server(sim::defaultConfig());
    server.start(test::listenOnLoopbackAddress(address, 5500));
    dialog.startRetryTimer()->start(1);
    ASSERT_TRUE(waitUntilClosed(dialog));
    EXPECT_TRUE(sessionRan);
    EXPECT_FALSE(dialog.startStatusLabel()->isVisible());
    EXPECT_EQ(app.channelCount(), 9);
}

TEST_F(LoginDialogTest, AnAcceptedLoginRunsTheMainSheetAndEndsWhenItCloses) {
    // A reply with kmResponseData is accepted whatever kmReturnCode it also carries.
    for (const std::optional<int> returnCode : {std::optional<int>(), std::optional<int>(-5)}) {
        sim::SimConfig config = sim::defaultConfig();
        config.users.front().acceptedReturnCode = returnCode;
        RunningSim sim(config);
        AppState app;
        Dialog dialog(app, runMainSheet);
        dialog.show();
        QStringList tabs;
        bool loginShownBehindTheSheet = true;
        whenModalRuns<MainSheet>([&](MainSheet* sheet) {
            loginShownBehindTheSheet = dialog.isVisible();
            for (int i = 0; i < sheet->tabs()->count(); ++i) {
                tabs << sheet->tabs()->tabText(i);
            }
            sheet->setCloseQuestion([](const QString&) { return true; });
            sheet->close();
        });
        logIn(dialog, sim.address(), QStringLiteral("demo"), QStringLiteral("demo"));
        ASSERT_TRUE(waitUntilClosed(dialog));
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(m_messages.texts(), std::vector<std::string>{});
        EXPECT_EQ(tabs, (QStringList{"Videos", "Alarms", "Settings", "About"}));
        EXPECT_FALSE(loginShownBehindTheSheet);
        EXPECT_EQ(app.channelCount(), 9);
        EXPECT_EQ(app.m_userName, "demo");
        EXPECT_EQ(app.m_loginPort, 5500);
    }
}

// The program's error output goes into a file for the life of the object.
class ErrorOutputToFile {
  public:
    explicit ErrorOutputToFile(const std::filesystem::path& file) : m_saved(::dup(STDERR_FILENO)) {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~ErrorOutputToFile() {
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
    }
    ErrorOutputToFile(const ErrorOutputToFile&) = delete;
    ErrorOutputToFile& operator=(const ErrorOutputToFile&) = delete;

  private:
    int m_saved;
};

// A remembered login from a mistyped password through a session to its end: the dialog stays
// for the second try, the session's end ends it, and the diagnostic log, the error output and
// the messages hold neither password.
TEST_F(LoginDialogTest, AMistypedPasswordGetsAnotherTryAndNoLogHoldsEither) {
    const std::string password = "Pw-7f3kQ-zeta";
    const std::string typo = "Pw-typo-91x";
    sim::SimConfig config = sim::defaultConfig();
    config.users.push_back({});
    config.users.back().name = "fieldops";
    config.users.back().password = password;
    RunningSim sim(config);
    const std::filesystem::path logFolder = m_folder.path() / "log";
    std::filesystem::create_directory(logFolder);
    enableDiagLog(logFolder.string());
    {
        const ErrorOutputToFile errors(m_folder.path() / "errors.txt");
        AppState app;
        Dialog dialog(app, runMainSheet);
        dialog.show();
        QTest::mouseClick(dialog.rememberLoginBox(), Qt::LeftButton);
        logIn(dialog, sim.address(), QStringLiteral("fieldops"), QString::fromStdString(typo));
        ASSERT_TRUE(waitForMessages(1));
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(dialog.passwordField()->text().isEmpty());

        bool subscribed = false;
        whenModalRuns<MainSheet>([&](MainSheet* sheet) {
            subscribed = sim.server().waitForSubscribers(1, 10s);
            sheet->setCloseQuestion([](const QString&) { return true; });
            sheet->close();
        });
        // The second try by Enter in the password field, as an operator types it.
        dialog.passwordField()->setText(QString::fromStdString(password));
        QTest::keyClick(dialog.passwordField(), Qt::Key_Return);
        ASSERT_TRUE(waitUntilClosed(dialog));
        EXPECT_TRUE(subscribed);
    }
    enableDiagLog("");
    std::string everything;
    const auto append = [&everything](const std::filesystem::path& file) {
        std::ifstream in(file);
        everything.append(std::istreambuf_iterator<char>(in), {});
    };
    for (const auto& file : std::filesystem::directory_iterator(logFolder)) {
        append(file.path());
    }
    append(m_folder.path() / "errors.txt");
    for (const std::string& text : m_messages.texts()) {
        everything += text;
    }
    EXPECT_NE(everything.find("KRT-Invalid User Details--"), std::string::npos);
    EXPECT_EQ(everything.find(password), std::string::npos);
    EXPECT_EQ(everything.find(typo), std::string::npos);
}

TEST_F(LoginDialogTest, InputTheServerWouldRefuseKeepsTheDialogOpen) {
    struct Case {
        const char* address;
        QString user;
        const char* message;
        const char* rememberLogin;  // what the attempt stored; nullptr: nothing
    };
    const std::vector<Case> cases{
        // A bad address stops the login before anything is stored or sent.
        {"10.0..1", QStringLiteral("demo"), "Missing value in IP address", nullptr},
        {"127.0.0.1", QString(32, QLatin1Char('u')),
         "The user name is too long.\nIt may have at most 31 characters.", "0"},
    };
    for (const Case& c : cases) {
        AppState app;
        Dialog dialog(app);
        dialog.show();
        const std::size_t before = m_messages.boxes().size();
        logIn(dialog, c.address, c.user, QStringLiteral("demo"));
        ASSERT_TRUE(waitForMessages(before + 1)) << c.message;
        EXPECT_EQ(m_messages.texts().back(), c.message);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.isLoginRunning(); }, kLoginTimeoutMs));
        EXPECT_TRUE(dialog.isVisible()) << c.message;
        EXPECT_FALSE(dialog.connectingNotice()->isVisible());
        EXPECT_EQ(isStored("RememberLogin"), c.rememberLogin != nullptr) << c.message;
        if (c.rememberLogin) {
            EXPECT_EQ(stored("RememberLogin"), c.rememberLogin);
        }
        EXPECT_TRUE(app.m_serverAddress.empty()) << "nothing reached the application state";
    }
}

TEST_F(LoginDialogTest, StaysResponsiveWhileASlowServerAnswers) {
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    test::ScriptedServer server([released](int peer) {
        if (test::readFramePayload(peer) && released.wait_for(30s) == std::future_status::ready) {
            const std::string reply =
                test::frameBytes("<kmResponse><kmReturnCode>-10011</kmReturnCode></kmResponse>");
            ::send(peer, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
    });
    AppState app;
    Dialog dialog(app);
    dialog.show();
    logIn(dialog, server.address(), QStringLiteral("demo"), QStringLiteral("demo"));

    EXPECT_TRUE(dialog.isLoginRunning());
    EXPECT_TRUE(dialog.connectingNotice()->isVisible());
    EXPECT_EQ(dialog.connectingNotice()->windowTitle(), QStringLiteral("Connecting To Server"));
    EXPECT_NE(dialog.connectingNotice()->findChild<QLabel*>()->text().indexOf(
                  "Please wait while application is connecting to server ..."),
              -1);
    bool timerRan = false;
    QTimer::singleShot(0, &dialog, [&] { timerRan = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return timerRan; }, kLoginTimeoutMs));
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.acceptedCount() == 1; }, kLoginTimeoutMs));
    dialog.connectingNotice()->reject();  // the notice cannot be closed
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.connectingNotice()->isVisible());
    EXPECT_TRUE(dialog.isLoginRunning());

    release.set_value();
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_EQ(m_messages.texts(),
              (std::vector<std::string>{"Error while login,user is disabled.\n"
                                        "Please use different user for login."}));
}

// Cancel while the server holds its reply stops the conversation at once; the dialog stays
// for another try, which then goes through.
TEST_F(LoginDialogTest, CancelDuringTheLoginStopsItAndLeavesTheDialogReady) {
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    test::ScriptedServer server([released](int peer) {
        if (test::readFramePayload(peer) && released.wait_for(30s) == std::future_status::ready) {
            const std::string reply =
                test::frameBytes("<kmResponse><kmReturnCode>-10011</kmReturnCode></kmResponse>");
            ::send(peer, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
    });
    AppState app;
    Dialog dialog(app);
    dialog.show();
    logIn(dialog, server.address(), QStringLiteral("demo"), QStringLiteral("demo"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.acceptedCount() == 1; }, kLoginTimeoutMs));

    QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.isLoginRunning(); }, 1000));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.connectingNotice()->isVisible());
    EXPECT_TRUE(m_messages.texts().empty());

    release.set_value();
    QTest::mouseClick(dialog.loginButton(), Qt::LeftButton);
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_EQ(m_messages.texts(),
              (std::vector<std::string>{"Error while login,user is disabled.\n"
                                        "Please use different user for login."}));
}

TEST_F(LoginDialogTest, CancelEndsTheDialog) {
    AppState app;
    Dialog dialog(app);
    dialog.show();
    QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(m_messages.boxes().empty());
}

TEST_F(LoginDialogTest, ResizingPlacesSevenRowsOfTheAddressFieldsHeight) {
    AppState app;
    Dialog dialog(app);
    dialog.setMinimumSize(0, 0);
    for (const QSize size : {QSize(400, 420), QSize(500, 361), QSize(640, 700)}) {
        dialog.hide();
        dialog.resize(size);
        dialog.show();
        ASSERT_EQ(dialog.size(), size);
        const int g = dialog.addressField()->height();
        const int b = (size.height() - 7 * g) / 8;
        const std::vector<QWidget*> leftColumn{
            dialog.findChildren<QLabel*>(Qt::FindDirectChildrenOnly).first(), dialog.loginButton(),
            dialog.rememberLoginBox(), dialog.portForwardingBox(), dialog.versionLabel()};
        EXPECT_EQ(dialog.addressField()->y(), b);
        EXPECT_EQ(dialog.userNameField()->y(), g + 2 * b);
        EXPECT_EQ(dialog.passwordField()->y(), 2 * g + 3 * b);
        EXPECT_EQ(dialog.cancelButton()->y(), 3 * g + 4 * b);
        EXPECT_EQ(dialog.loginButton()->y(), 3 * g + 4 * b);
        EXPECT_EQ(dialog.rememberLoginBox()->y(), 4 * g + 5 * b);
        EXPECT_EQ(dialog.portForwardingBox()->y(), 5 * g + 6 * b);
        EXPECT_EQ(dialog.versionLabel()->y(), 6 * g + 7 * b);
        for (const QWidget* control : leftColumn) {
            EXPECT_EQ(control->x(), leftColumn.front()->x());
            EXPECT_EQ(control->height(), g);
        }
        EXPECT_EQ(dialog.cancelButton()->x(), dialog.addressField()->x());
        EXPECT_EQ(dialog.addressField()->x() - leftColumn.front()->x(),
                  leftColumn.front()->width() + 10);
    }
}

}  // namespace
}  // namespace krt
