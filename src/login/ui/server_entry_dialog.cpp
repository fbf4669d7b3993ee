#include "login/ui/server_entry_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>

#include "common/ui/message_box.h"
#include "common/ui/qt_text.h"
#include "login/login_sequence.h"
#include "login/ui/ip_address_edit.h"
#include "login/ui/saved_servers.h"

namespace krt {

ServerEntryDialog::ServerEntryDialog(Purpose purpose, const ServerEntry& shown, Submit submit,
                                     QWidget* parent)
    : QDialog(parent),
      m_purpose(purpose),
      m_submit(std::move(submit)),
      m_name(new QLineEdit(qtText(shown.name), this)),
      m_address(new IpAddressEdit(this)),
      m_port(new QSpinBox(this)),
      m_userName(new QLineEdit(qtText(shown.userName), this)),
      m_password(new QLineEdit(this)),
      m_rememberLogin(new QCheckBox(QStringLiteral("Remember Login"), this)) {
    setWindowTitle(purpose == Purpose::Add ? QStringLiteral("Add Server")
                                           : QStringLiteral("Edit Server"));
    m_name->setMaxLength(static_cast<int>(kMostServerNameCharacters));
    m_address->setText(qtText(shown.address));
    m_port->setRange(1, 65535);
    m_port->setValue(shown.port);
    m_userName->setMaxLength(static_cast<int>(kMaxUserNameLength));
    m_password->setEchoMode(QLineEdit::Password);
    if (purpose == Purpose::Edit && shown.rememberLogin) {
        // Left empty, the remembered password stays.
        m_password->setPlaceholderText(QStringLiteral("(unchanged)"));
    }
    m_rememberLogin->setChecked(shown.rememberLogin);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &ServerEntryDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ServerEntryDialog::reject);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Name:"), m_name);
    form->addRow(QStringLiteral("Server Address:"), m_address);
    form->addRow(QStringLiteral("Port:"), m_port);
    form->addRow(QStringLiteral("User Name:"), m_userName);
    form->addRow(QStringLiteral("Password:"), m_password);
    form->addRow(m_rememberLogin);
    form->addRow(buttons);
}

void ServerEntryDialog::accept() {
    // An invalid field gets the focus, and the operator is told why, as in the login dialog.
    if (m_address->getAddress(ErrorReport::ToUser).invalidField != 0) {
        return;
    }
    const ServerEntry entry{
        m_name->text().toStdString(),     m_address->text().toStdString(), m_port->value(),
        m_userName->text().toStdString(), m_rememberLogin->isChecked(),    {}};
    const bool unchanged = m_purpose == Purpose::Edit && m_password->text().isEmpty();
    const std::optional<QString> password =
        unchanged ? std::nullopt : std::optional(m_password->text());
    if (const std::optional<std::string> refused = m_submit(entry, password)) {
        showErrorBox(this, QString::fromStdString(*refused));
        return;
    }
    QDialog::accept();
}

bool addServer(SavedServers& servers, QWidget* parent) {
    ServerEntry fresh;
    fresh.userName = servers.list().first().userName;
    ServerEntryDialog dialog(
        ServerEntryDialog::Purpose::Add, fresh,
        [&servers](const ServerEntry& entry, const std::optional<QString>& password) {
            return servers.add(entry, password.value_or(QString()));
        },
        parent);
    return dialog.exec() == QDialog::Accepted;
}

bool editServer(SavedServers& servers, std::string_view name, QWidget* parent) {
    const ServerEntry* shown = servers.list().find(name);
    if (shown == nullptr) {
        return false;
    }
    const std::string editedName = shown->name;
    ServerEntryDialog dialog(
        ServerEntryDialog::Purpose::Edit, *shown,
        [&servers, &editedName](const ServerEntry& entry, const std::optional<QString>& password) {
            return servers.edit(editedName, entry, password);
        },
        parent);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace krt
