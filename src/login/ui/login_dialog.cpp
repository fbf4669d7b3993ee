#include "login/ui/login_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <optional>
#include <utility>

#include "common/ui/connecting_notice.h"
#include "common/ui/dialog_template.h"
#include "common/ui/message_box.h"
#include "common/ui/program_icon.h"
#include "common/ui/qt_text.h"
#include "login/ui/ip_address_edit.h"
#include "login/ui/port_forwarding_dialog.h"
#include "login/ui/remembered_login.h"
#include "login/ui/saved_servers.h"
#include "login/ui/server_entry_dialog.h"

namespace krt {
namespace {

void alignWidths(std::initializer_list<QWidget*> column) {
    int width = 0;
    for (const QWidget* control : column) {
        width = std::max(width, control->width());
    }
    for (QWidget* control : column) {
        control->resize(width, control->height());
    }
}

}  // namespace

LoginDialog::LoginDialog(AppState& app, SessionRunner runSession, QWidget* parent)
    : QDialog(parent),
      m_strUserName(qtText(kDefaultLoginText)),
      m_strPassword(qtText(kDefaultLoginText)),
      m_pApp(&app),
      m_addressLabel(new QLabel(QStringLiteral("IP Address :"), this)),
      m_address(new IpAddressEdit(this)),
      m_userNameLabel(new QLabel(QStringLiteral("User Name :"), this)),
      m_userName(new QLineEdit(this)),
      m_passwordLabel(new QLabel(QStringLiteral("Password :"), this)),
      m_password(new QLineEdit(this)),
      m_rememberLogin(new QCheckBox(QStringLiteral("Remember Login"), this)),
      m_portForwarding(new QCheckBox(QStringLiteral("Port forwarding enabled at server"), this)),
      m_login(new QPushButton(QStringLiteral("Login"), this)),
      m_cancel(new QPushButton(QStringLiteral("Cancel"), this)),
      m_addServer(new QPushButton(QStringLiteral("Add server…"), this)),
      m_version(new QLabel(QStringLiteral("Version : 13.11.25.01"), this)),
      m_storeNotice(new QLabel(
          QStringLiteral("No secret store found: the password is kept in a file only you can read"),
          this)),
      m_connecting(new ConnectingNotice(this)),
      m_remembered(new RememberedLogin(this)),
      m_runSession(std::move(runSession)) {
    setWindowTitle(QStringLiteral("Login"));
    // The notice must leave the dialog's Cancel usable while the login runs.
    m_connecting->setWindowModality(Qt::NonModal);
    m_password->setEchoMode(QLineEdit::Password);
    // Enter in any field logs in, as the Login button does; it never closes the dialog.
    m_login->setDefault(true);
    m_cancel->setAutoDefault(false);
    m_addServer->setAutoDefault(false);
    m_storeNotice->hide();
    m_storeNotice->resize(m_storeNotice->sizeHint());

    placeFromTemplate(m_addressLabel, {18, 13, 41, 11});
    placeFromTemplate(m_address, {79, 12, 56, 13});
    placeFromTemplate(m_userNameLabel, {18, 33, 41, 11});
    placeFromTemplate(m_userName, {79, 31, 56, 14});
    placeFromTemplate(m_passwordLabel, {18, 52, 41, 11});
    placeFromTemplate(m_password, {79, 49, 56, 14});
    placeFromTemplate(m_rememberLogin, {37, 72, 106, 10});
    placeFromTemplate(m_portForwarding, {37, 89, 133, 11});
    placeFromTemplate(m_login, {18, 105, 37, 14});
    placeFromTemplate(m_cancel, {79, 105, 36, 14});
    placeFromTemplate(m_version, {23, 137, 125, 9});
    sizeFromTemplate(this, 188, 158);
    // The host's fonts make some texts wider than the template: each column takes the width
    // of its widest control, so that the columns stay aligned.
    alignWidths({m_addressLabel, m_userNameLabel, m_passwordLabel});
    alignWidths({m_address, m_userName, m_password});
    m_addServer->resize(m_addServer->sizeHint().width(), m_cancel->height());

    connect(m_login, &QPushButton::clicked, this, &LoginDialog::login);
    connect(m_cancel, &QPushButton::clicked, this, &LoginDialog::reject);
    connect(m_addServer, &QPushButton::clicked, this, &LoginDialog::addOtherServer);
    connect(m_rememberLogin, &QCheckBox::clicked, this, &LoginDialog::updateRememberedLogin);
    connect(m_portForwarding, &QCheckBox::clicked, this, &LoginDialog::editPortForwarding);
    connect(m_remembered, &RememberedLogin::passwordLoaded, this,
            &LoginDialog::fillRememberedPassword);
    connect(m_remembered, &RememberedLogin::loadingEnded, this, &LoginDialog::loginIfWaiting);
    connect(m_remembered, &RememberedLogin::storeMissingChanged, this,
            &LoginDialog::showStoreNotice);

    initializeFields();
}

LoginDialog::~LoginDialog() {
    // The worker is joined right after: it must not wait for the server first.
    if (m_loginCancellation) {
        m_loginCancellation->cancel();
    }
}

void LoginDialog::addOtherServer() {
    // Read only when asked for, so that the Settings page, which lists the file's trouble,
    // is the first to read a damaged file unless the operator adds a server here.
    if (m_servers == nullptr) {
        m_servers = new SavedServers(savedServersPath(), this);
        if (!m_servers->fileMessage().empty()) {
            showMessageBox({this, QStringLiteral("Error"), qtText(m_servers->fileMessage()),
                            MessageIcon::Exclamation});
        }
    }
    addServer(*m_servers, this);
}

void LoginDialog::initializeFields() {
    updateControlsFromFields();
    setWindowIcon(programIcon());
    m_address->setText(qtText(kDefaultServerAddress));

    const std::optional<RememberedLogin::Stored> stored = m_remembered->load();
    m_bRememberLogin = stored ? 1 : 0;
    if (!stored) {
        return;
    }
    m_strUserName = qtText(stored->userName);
    m_szServerAddress = stored->serverAddress;
    m_address->setText(qtText(m_szServerAddress));
    // Empty until the secret store answers, unless the file still holds it.
    m_strPassword = stored->password.value_or(QString());
    updateControlsFromFields();
}

void LoginDialog::fillRememberedPassword(const QString& password) {
    // A password the operator has begun to type is theirs.
    if (m_password->isModified() || !m_password->text().isEmpty()) {
        return;
    }
    m_strPassword = password;
    m_password->setText(password);
}

void LoginDialog::loginIfWaiting() {
    if (std::exchange(m_loginWhenLoaded, false)) {
        login();
    }
}

void LoginDialog::showStoreNotice(bool shown) {
    if (shown != m_storeNotice->isHidden()) {
        return;
    }
    // One line under the box: the dialog grows by it, and widens to hold it.
    const QSize notice = m_storeNotice->size();
    const int height = this->height() + (shown ? notice.height() : -notice.height());
    m_storeNotice->setVisible(shown);
    resize(std::max(width(), notice.width() + 2 * notice.height()), height);
    layoutControls();
}

void LoginDialog::updateFieldsFromControls() {
    m_strUserName = m_userName->text();
    m_strPassword = m_password->text();
}

void LoginDialog::updateControlsFromFields() {
    m_userName->setText(m_strUserName);
    m_password->setText(m_strPassword);
    m_rememberLogin->setChecked(m_bRememberLogin == 1);
}

void LoginDialog::updateRememberedLogin() {
    updateFieldsFromControls();
    if (m_rememberLogin->isChecked()) {
        m_bRememberLogin = 1;
        m_remembered->remember(m_address->text().toStdString(), m_strUserName.toStdString(),
                               m_strPassword);
    } else {
        m_bRememberLogin = 0;
        m_remembered->forget();
    }
}

void LoginDialog::editPortForwarding() {
    if (!m_portForwarding->isChecked()) {
        return;
    }
    PortForwardingDialog dialog(this);
    if (dialog.exec() == QDialog::Accepted && dialog.m_bPortForwarding == 1) {
        m_nPort = dialog.m_nTcpPort1;
    }
}

void LoginDialog::login() {
    if (isLoginRunning()) {
        return;
    }
    // The remembered password is on its way (a locked keyring waits for the operator to
    // unlock it); a password typed meanwhile goes at once.
    if (m_remembered->isLoading() && m_password->text().isEmpty()) {
        m_loginWhenLoaded = true;
        return;
    }
    m_loginWhenLoaded = false;
    if (m_startRetry != nullptr) {
        m_startRetry->stop();
    }
    updateFieldsFromControls();
    // An address with an empty or invalid octet never reaches the server: the user has been
    // shown the bad field and corrects it, instead of losing the only login of this run.
    if (m_address->getAddress(ErrorReport::ToUser).invalidField != 0) {
        return;
    }
    m_bRememberLogin = m_rememberLogin->isChecked() ? 1 : 0;
    updateRememberedLogin();

    m_szServerAddress = m_address->text().toStdString().substr(0, kMaxServerAddressLength);
    const LoginCredentials credentials{m_szServerAddress, m_nPort, m_strUserName.toStdString(),
                                       m_strPassword.toStdString()};
    m_connecting->show();
    // The conversation blocks for up to the request client's time-outs; the dialog keeps
    // repainting meanwhile and its Cancel stops it. The application state is not read until
    // the outcome arrives.
    m_loginCancellation = std::make_unique<Cancellation>();
    m_loginWorker = std::jthread([this, credentials, cancellation = m_loginCancellation.get()] {
        const LoginOutcome outcome =
            runLoginConversation(credentials, *m_pApp, ExchangeLimits{{}, cancellation});
        QMetaObject::invokeMethod(
            this, [this, outcome] { finishLogin(outcome); }, Qt::QueuedConnection);
    });
}

void LoginDialog::loginAtStart() {
    if (m_bRememberLogin != 1) {
        return;
    }
    m_startRetry = new QTimer(this);
    m_startRetry->setSingleShot(true);
    m_startRetry->setInterval(kStartRetry_ms);
    connect(m_startRetry, &QTimer::timeout, this, &LoginDialog::login);
    m_startStatus = new QLabel(this);
    m_startStatus->setWordWrap(true);
    m_startStatus->hide();
    QTimer::singleShot(0, this, &LoginDialog::login);
}

void LoginDialog::finishLogin(const LoginOutcome& outcome) {
    m_loginWorker.join();
    m_connecting->hide();
    // At start, a server that is not there yet (a wall that boots before it) is tried again
    // instead of ending the program; the dialog says so and can still be used.
    if (m_startRetry != nullptr && outcome.status == LoginStatus::ServerUnreachable) {
        m_startStatus->setText(QStringLiteral("The server did not answer; trying again every %1 s.")
                                   .arg(kStartRetry_ms / 1000));
        // In the place of the version line, which an operator needs less meanwhile.
        const QRect line = m_version->geometry();
        m_startStatus->setGeometry(8, line.y() - line.height() / 2, width() - 16,
                                   2 * line.height());
        m_version->hide();
        m_startStatus->show();
        m_startRetry->start();
        return;
    }
    if (m_startRetry != nullptr) {
        m_startRetry->stop();
        m_startStatus->hide();
        m_version->show();
    }
    if (!outcome.message.empty()) {
        showErrorBox(this, QString::fromStdString(outcome.message));
    }
    if (!outcome.notice.empty()) {
        showMessageBox({this, QStringLiteral("Error"), QString::fromStdString(outcome.notice),
                        MessageIcon::Exclamation});
    }
    if (outcome.accepted()) {
        if (m_runSession) {
            // The session runs inside this dialog, but an operator has no more use for it:
            // left showing, it would sit behind the main sheet with a Login button that does
            // nothing.
            hide();
            m_runSession(*m_pApp, this);
        }
        QDialog::reject();
    } else if (outcome.userRefused) {
        // Another try: everything as it was but the password, which is typed again.
        m_password->clear();
        m_password->setFocus();
    }
}

void LoginDialog::reject() {
    if (isLoginRunning()) {
        m_loginCancellation->cancel();  // the outcome, Cancelled, comes back as usual
    } else {
        QDialog::reject();
    }
}

void LoginDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    layoutControls();
}

void LoginDialog::layoutControls() {
    const int g = m_address->height();
    const LoginDialogLayout layout = layoutLoginDialog(
        {width(), height(), g, m_addressLabel->width(), m_address->width(),
         m_passwordLabel->width(), m_storeNotice->width(),
         m_storeNotice->isHidden() ? 0 : m_storeNotice->height(), m_cancel->width()});
    const auto place = [g](QWidget* control, ControlPosition position) {
        control->setGeometry(position.x, position.y, control->width(), g);
    };
    place(m_addressLabel, layout.addressLabel);
    place(m_userNameLabel, layout.userNameLabel);
    place(m_passwordLabel, layout.passwordLabel);
    place(m_address, layout.addressField);
    place(m_userName, layout.userNameField);
    place(m_password, layout.passwordField);
    place(m_cancel, layout.cancelButton);
    place(m_login, layout.loginButton);
    place(m_addServer, layout.addServer);
    place(m_rememberLogin, layout.rememberLogin);
    place(m_portForwarding, layout.portForwarding);
    place(m_version, layout.version);
    m_storeNotice->move(layout.notice.x, layout.notice.y);
}

}  // namespace krt
