#pragma once

#include <QDialog>
#include <array>

#include "login/login_layout.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace krt {

inline constexpr int kDefaultTcpPort1 = 5500;

// Collects the ports of a server reached through port forwarding. Only "TCP Port1" is used:
// it becomes the login port when the dialog ends with Done and its box selected. Every
// opening starts from the defaults.
class PortForwardingDialog : public QDialog {
    Q_OBJECT

  public:
    explicit PortForwardingDialog(QWidget* parent = nullptr);

    int m_nTcpPort1 = kDefaultTcpPort1;
    int m_nRtspPort = 1024;
    int m_nHttpPort = 9900;
    int m_nRtpPort = 20000;
    int m_nRtcpPort = 20001;
    int m_bPortForwarding = 1;

    // The data exchange: false, after telling the user "Enter an integer.", when a port field
    // does not hold an integer; the fields before it have been transferred.
    bool updateFieldsFromControls();
    void updateControlsFromFields();

    void applyPortForwardingChoice();
    void accept() override;  // Done

    QCheckBox* portForwardingBox() const { return m_portForwarding; }
    // TCP Port1, RTSP, HTTP, RTP, RTCP
    QLineEdit* portField(int index) const;
    QPushButton* doneButton() const { return m_done; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    std::array<int*, kPortRows> portMembers();

    QCheckBox* m_portForwarding;
    std::array<QLabel*, kPortRows> m_labels{};
    std::array<QLineEdit*, kPortRows> m_fields{};
    QPushButton* m_done;
};

}  // namespace krt
