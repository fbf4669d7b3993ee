#include "login/ui/port_forwarding_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "common/dialog_text.h"
#include "common/ui/dialog_template.h"
#include "common/ui/message_box.h"

namespace krt {
namespace {

struct PortRow {
    const char* label;
    DialogRect labelUnits;
    DialogRect fieldUnits;
};

// TCP Port1, RTSP, HTTP, RTP, RTCP, as the template has them.
constexpr std::array<PortRow, kPortRows> kPortRowTemplate{{
    {"TCP Port1:", {52, 38, 41, 12}, {111, 36, 47, 12}},
    {"RTSP Port (TCP):", {33, 56, 60, 12}, {111, 55, 47, 12}},
    {"HTTP Port (TCP) :", {33, 74, 60, 12}, {111, 73, 47, 12}},
    {"RTP Port (UDP):", {33, 90, 60, 12}, {111, 92, 47, 12}},
    {"RTCP Port (UDP) :", {33, 110, 60, 12}, {111, 111, 47, 12}},
}};

constexpr std::size_t kTcpPort1Row = 0;
constexpr std::size_t kRtcpRow = 4;

}  // namespace

PortForwardingDialog::PortForwardingDialog(QWidget* parent)
    : QDialog(parent),
      m_portForwarding(new QCheckBox(QStringLiteral("Port forwarding enabled at server"), this)),
      m_done(new QPushButton(QStringLiteral("Done"), this)) {
    setWindowTitle(QStringLiteral("Dialog"));
    m_portForwarding->setObjectName(QStringLiteral("portForwarding"));
    m_done->setObjectName(QStringLiteral("done"));
    placeFromTemplate(m_portForwarding, {26, 18, 167, 11});
    for (std::size_t i = 0; i < kPortRows; ++i) {
        m_labels[i] = new QLabel(QString::fromLatin1(kPortRowTemplate[i].label), this);
        m_fields[i] = new QLineEdit(this);
        m_fields[i]->setObjectName(QStringLiteral("port%1").arg(i + 1));
        placeFromTemplate(m_labels[i], kPortRowTemplate[i].labelUnits);
        placeFromTemplate(m_fields[i], kPortRowTemplate[i].fieldUnits);
    }
    placeFromTemplate(m_done, {81, 133, 50, 14});
    m_done->setDefault(true);
    sizeFromTemplate(this, 224, 169);

    connect(m_portForwarding, &QCheckBox::clicked, this,
            &PortForwardingDialog::applyPortForwardingChoice);
    connect(m_done, &QPushButton::clicked, this, &PortForwardingDialog::accept);

    updateControlsFromFields();
    applyPortForwardingChoice();
}

QLineEdit* PortForwardingDialog::portField(int index) const {
    return m_fields.at(static_cast<std::size_t>(index));
}

std::array<int*, kPortRows> PortForwardingDialog::portMembers() {
    return {&m_nTcpPort1, &m_nRtspPort, &m_nHttpPort, &m_nRtpPort, &m_nRtcpPort};
}

bool PortForwardingDialog::updateFieldsFromControls() {
    const auto members = portMembers();
    for (std::size_t i = 0; i < kPortRows; ++i) {
        const std::optional<int> port = parseDialogInteger(m_fields[i]->text().toStdString());
        if (!port) {
            showMessageBox({this, QStringLiteral("Error"), QStringLiteral("Enter an integer."),
                            MessageIcon::Exclamation});
            m_fields[i]->setFocus();
            m_fields[i]->selectAll();
            return false;
        }
        *members[i] = *port;
    }
    m_bPortForwarding = m_portForwarding->isChecked() ? 1 : 0;
    return true;
}

void PortForwardingDialog::updateControlsFromFields() {
    const auto members = portMembers();
    for (std::size_t i = 0; i < kPortRows; ++i) {
        m_fields[i]->setText(QString::number(*members[i]));
    }
    m_portForwarding->setChecked(m_bPortForwarding == 1);
}

void PortForwardingDialog::applyPortForwardingChoice() {
    if (!updateFieldsFromControls()) {
        return;
    }
    for (QLineEdit* field : m_fields) {
        field->setEnabled(m_bPortForwarding == 1);
    }
}

void PortForwardingDialog::accept() {
    if (updateFieldsFromControls()) {
        QDialog::accept();
    }
}

void PortForwardingDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const PortForwardingLayout layout = layoutPortForwarding(
        {width(), height(), m_portForwarding->width(), m_labels[kTcpPort1Row]->width(),
         m_fields[kTcpPort1Row]->width(), m_labels[kRtcpRow]->width(), m_done->width()});
    moveTo(m_portForwarding, layout.checkBox);
    for (std::size_t i = 0; i < kPortRows; ++i) {
        moveTo(m_labels[i], layout.labels[i]);
        moveTo(m_fields[i], layout.fields[i]);
    }
    moveTo(m_done, layout.done);
}

}  // namespace krt
