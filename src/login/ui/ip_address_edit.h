#pragma once

#include <QFrame>
#include <array>
#include <cstdint>

#include "login/ip_address_rules.h"

class QLineEdit;

namespace krt {

class OctetField;

// Whether a failed read tells the user (and points at the bad field) or stays silent.
enum class ErrorReport { Silent, ToUser };

// An IPv4 address entry of four octet fields with dots between them. Typing moves from field
// to field, a full field above 255 is refused with a message, and reading the address reports
// the first empty or invalid field.
class IpAddressEdit : public QFrame {
    Q_OBJECT

  public:
    explicit IpAddressEdit(QWidget* parent = nullptr, AutoCheck autoCheck = AutoCheck::On);

    // The four octets, or the number of the first invalid field. Either way an invalid field
    // gets the focus with its text selected; with ErrorReport::ToUser the user is told why.
    IPAddrValue getAddress(ErrorReport report);
    void setAddress(const std::array<std::uint8_t, kOctetFields>& octets);
    void setReadOnly(bool readOnly);

    // The fields joined with dots, as the login and the remembered login use it.
    QString text() const;
    void setText(const QString& text);

    QLineEdit* field(int index) const;
    QSize sizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

  private:
    friend class OctetField;

    std::array<std::string, kOctetFields> fieldTexts() const;
    void afterEdit(int index);
    void separatorTyped(int index);
    enum class FieldText { Selected, Kept };
    void focusField(int index, FieldText text);
    void leaveControl(bool forward);
    void pressDefaultButton();

    std::array<OctetField*, kOctetFields> m_fields{};
    AutoCheck m_autoCheck;
    bool m_readOnly = false;
    // The field that a full field moved the focus to, until the next key: a separator typed
    // there while it is empty is dropped, so that "192.168.0.1" can be typed as written.
    int m_autoAdvancedTo = -1;
};

}  // namespace krt
