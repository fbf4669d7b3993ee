#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "common/app_state.h"
#include "login/login_sequence.h"
#include "protocol/cancellation.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace krt {

class IpAddressEdit;
class ConnectingNotice;
class RememberedLogin;
class SavedServers;

// The first window of the program: server address, user name and password, the remembered
// login and the port forwarding settings. The whole program runs inside it: a successful
// login runs the session (the main sheet) from its Login handler, and when the session ends,
// or the dialog is closed, the program ends. A login that fails leaves it for another try.
class LoginDialog : public QDialog {
    Q_OBJECT

  public:
    // The address shown until a remembered one replaces it: krt-sim's, for the demo.
    static constexpr std::string_view kDefaultServerAddress = "127.0.0.1";
    // The user name and password shown at first: krt-sim's built-in user.
    static constexpr std::string_view kDefaultLoginText = "demo";

    // Runs the logged-in session modally over the dialog and returns when it ends.
    using SessionRunner = std::function<void(AppState& app, QWidget* parent)>;

    explicit LoginDialog(AppState& app, SessionRunner runSession = {}, QWidget* parent = nullptr);
    ~LoginDialog() override;

    QString m_strUserName;
    QString m_strPassword;
    std::string m_szServerAddress;
    int m_nPort = kServerPort;
    AppState* m_pApp = nullptr;
    int m_bRememberLogin = 0;

    void login();
    // Logs in with the remembered login as soon as the dialog shows, without a click; while
    // the server cannot be reached it tries again every kStartRetry_ms, saying so. Without
    // a remembered login the dialog waits for the user as always.
    void loginAtStart();
    static constexpr int kStartRetry_ms = 30'000;
    QTimer* startRetryTimer() const { return m_startRetry; }
    QLabel* startStatusLabel() const { return m_startStatus; }
    void updateRememberedLogin();
    void editPortForwarding();
    // "Add server…": a server of the operator's list beside this dialog's own.
    void addOtherServer();
    // Cancel (and Escape) while the login conversation runs stops it at once and leaves the
    // dialog ready for another try; otherwise it closes the dialog.
    void reject() override;

    bool isLoginRunning() const { return m_loginWorker.joinable(); }

    IpAddressEdit* addressField() const { return m_address; }
    QLineEdit* userNameField() const { return m_userName; }
    QLineEdit* passwordField() const { return m_password; }
    QCheckBox* rememberLoginBox() const { return m_rememberLogin; }
    QCheckBox* portForwardingBox() const { return m_portForwarding; }
    QPushButton* loginButton() const { return m_login; }
    QPushButton* cancelButton() const { return m_cancel; }
    QPushButton* addServerButton() const { return m_addServer; }
    QLabel* versionLabel() const { return m_version; }
    // "No secret store found: ...", under the Remember Login box while there is none.
    QLabel* storeNotice() const { return m_storeNotice; }
    ConnectingNotice* connectingNotice() const { return m_connecting; }
    RememberedLogin* rememberedLogin() const { return m_remembered; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void initializeFields();
    void layoutControls();
    // The text fields' data exchange (the address is read where it is used).
    void updateFieldsFromControls();
    void updateControlsFromFields();
    void finishLogin(const LoginOutcome& outcome);
    void fillRememberedPassword(const QString& password);
    void loginIfWaiting();
    void showStoreNotice(bool shown);

    QLabel* m_addressLabel;
    IpAddressEdit* m_address;
    QLabel* m_userNameLabel;
    QLineEdit* m_userName;
    QLabel* m_passwordLabel;
    QLineEdit* m_password;
    QCheckBox* m_rememberLogin;
    QCheckBox* m_portForwarding;
    QPushButton* m_login;
    QPushButton* m_cancel;
    QPushButton* m_addServer;
    QLabel* m_version;
    QLabel* m_storeNotice;
    ConnectingNotice* m_connecting;
    RememberedLogin* m_remembered;
    // The operator's other servers, from the first "Add server…" on, kept while the dialog
    // lives: the store answers later.
    SavedServers* m_servers = nullptr;
    bool m_loginWhenLoaded = false;  // Login was pressed while the stored password was awaited
    QLabel* m_startStatus = nullptr;
    QTimer* m_startRetry = nullptr;
    SessionRunner m_runSession;
    std::unique_ptr<Cancellation> m_loginCancellation;  // of the conversation under way
    // Declared last: destroyed (joined) first.
    std::jthread m_loginWorker;
};

}  // namespace krt
