#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "login/server_list.h"

class QCheckBox;
class QLineEdit;
class QSpinBox;

namespace krt {

class IpAddressEdit;
class SavedServers;

// One server of the operator's list: its name, address, port, user, password and whether the
// login is remembered. OK hands the entry to `submit` and closes only when it is taken; a
// refusal is shown and the dialog stays for a correction.
class ServerEntryDialog : public QDialog {
    Q_OBJECT

  public:
    // The refusal to show, or nothing. The password is nothing when an edit leaves it as it is.
    using Submit = std::function<std::optional<std::string>(
        const ServerEntry& entry, const std::optional<QString>& password)>;
    enum class Purpose { Add, Edit };

    ServerEntryDialog(Purpose purpose, const ServerEntry& shown, Submit submit,
                      QWidget* parent = nullptr);

    void accept() override;

    QLineEdit* nameField() const { return m_name; }
    IpAddressEdit* addressField() const { return m_address; }
    QSpinBox* portField() const { return m_port; }
    QLineEdit* userNameField() const { return m_userName; }
    QLineEdit* passwordField() const { return m_password; }
    QCheckBox* rememberLoginBox() const { return m_rememberLogin; }

  private:
    Purpose m_purpose;
    Submit m_submit;
    QLineEdit* m_name;
    IpAddressEdit* m_address;
    QSpinBox* m_port;
    QLineEdit* m_userName;
    QLineEdit* m_password;
    QCheckBox* m_rememberLogin;
};

// "Add server…": the dialog for a new entry of the list. True when one was added.
bool addServer(SavedServers& servers, QWidget* parent);
// "Edit…" of the added server of that name. True when it was changed.
bool editServer(SavedServers& servers, std::string_view name, QWidget* parent);

}  // namespace krt
