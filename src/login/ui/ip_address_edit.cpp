#include "login/ui/ip_address_edit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyle>

#include "common/ui/message_box.h"

namespace krt {
namespace {

const QString kDot = QStringLiteral(".");

bool isDirectionKey(const QKeyEvent* event) {
    return event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab;
}

bool canTakeTabFocus(const QWidget* widget) {
    return (widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled() && widget->isVisible();
}

}  // namespace

// One octet: at most three digits. Its keys are handled here and acted upon by the control.
class OctetField : public QLineEdit {
  public:
    OctetField(IpAddressEdit* control, int index)
        : QLineEdit(control), m_control(control), m_index(index) {
        setFrame(false);
        setAlignment(Qt::AlignCenter);
        setMaxLength(static_cast<int>(kOctetDigits));
        // Pasted text is held to digits too; typed text is filtered below.
        setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[0-9]{0,3}")), this));
        // Only the control itself is a tab stop: Tab leaves the whole control.
        setFocusPolicy(Qt::ClickFocus);
    }

  protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::KeyPress && isDirectionKey(static_cast<QKeyEvent*>(event))) {
            m_control->leaveControl(static_cast<QKeyEvent*>(event)->key() == Qt::Key_Tab);
            return true;
        }
        return QLineEdit::event(event);
    }

    void keyPressEvent(QKeyEvent* event) override {
        switch (event->key()) {
            case Qt::Key_Escape:
                event->ignore();  // the dialog cancels
                return;
            case Qt::Key_Left:
                if (cursorPosition() == 0) {
                    m_control->focusField(m_index - 1, IpAddressEdit::FieldText::Kept);
                }
                QLineEdit::keyPressEvent(event);
                return;
            case Qt::Key_Right:
                if (cursorPosition() == text().size()) {
                    m_control->focusField(m_index + 1, IpAddressEdit::FieldText::Kept);
                }
                QLineEdit::keyPressEvent(event);
                return;
            case Qt::Key_Backspace:
                typeCharacter(event, U'\b');
                return;
            default:
                break;
        }
        const QString typed = event->text();
        if (typed.isEmpty()) {
            QLineEdit::keyPressEvent(event);
            return;
        }
        typeCharacter(event, typed.front().unicode());
    }

  private:
    void typeCharacter(QKeyEvent* event, char32_t typed) {
        const OctetCharAction action = classifyOctetChar(typed);
        if (action != OctetCharAction::NextField) {
            m_control->m_autoAdvancedTo = -1;
        }
        switch (action) {
            case OctetCharAction::InsertThenCheck:
                QLineEdit::keyPressEvent(event);
                m_control->afterEdit(m_index);
                return;
            case OctetCharAction::MoveToTabStop:
                m_control->leaveControl(!(event->modifiers() & Qt::ShiftModifier));
                return;
            case OctetCharAction::PressDefaultButton:
                m_control->pressDefaultButton();
                return;
            case OctetCharAction::NextField:
                m_control->separatorTyped(m_index);
                return;
            case OctetCharAction::Beep:
                QApplication::beep();
                return;
        }
    }

    IpAddressEdit* m_control;
    int m_index;
};

IpAddressEdit::IpAddressEdit(QWidget* parent, AutoCheck autoCheck)
    : QFrame(parent), m_autoCheck(autoCheck) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::IBeamCursor);
    for (int i = 0; i < kOctetFields; ++i) {
        m_fields[static_cast<std::size_t>(i)] = new OctetField(this, i);
    }
}

QLineEdit* IpAddressEdit::field(int index) const {
    return m_fields.at(static_cast<std::size_t>(index));
}

std::array<std::string, kOctetFields> IpAddressEdit::fieldTexts() const {
    std::array<std::string, kOctetFields> texts;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        texts[i] = m_fields[i]->text().toStdString();
    }
    return texts;
}

IPAddrValue IpAddressEdit::getAddress(ErrorReport report) {
    const IPAddressReading reading = readIPAddress(fieldTexts());
    if (reading.value.invalidField != 0) {
        if (report == ErrorReport::ToUser) {
            showMessageBox({this, QStringLiteral("Error"), QString::fromStdString(reading.message),
                            MessageIcon::Exclamation});
        }
        focusField(reading.value.invalidField - 1, FieldText::Selected);
    }
    return reading.value;
}

void IpAddressEdit::setAddress(const std::array<std::uint8_t, kOctetFields>& octets) {
    for (std::size_t i = 0; i < octets.size(); ++i) {
        m_fields[i]->setText(QString::number(octets[i]));
    }
}

void IpAddressEdit::setReadOnly(bool readOnly) {
    m_readOnly = readOnly;
    for (OctetField* field : m_fields) {
        field->setReadOnly(readOnly);
    }
    update();
}

QString IpAddressEdit::text() const {
    return QString::fromStdString(joinIPAddressText(fieldTexts()));
}

void IpAddressEdit::setText(const QString& text) {
    const auto texts = splitIPAddressText(text.toStdString());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        m_fields[i]->setText(QString::fromStdString(texts[i]));
    }
}

QSize IpAddressEdit::sizeHint() const {
    const QFontMetrics metrics(font());
    const int fieldWidth = metrics.horizontalAdvance(QStringLiteral("0000"));
    const int frame = 2 * frameWidth();
    return {kOctetFields * fieldWidth + 3 * metrics.horizontalAdvance(kDot) + frame,
            metrics.height() + 6 + frame};
}

void IpAddressEdit::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    const QRect client = contentsRect();
    const IPControlLayout layout =
        layoutIPControl(client.width(), client.height(), fontMetrics().horizontalAdvance(kDot),
                        style()->pixelMetric(QStyle::PM_DefaultFrameWidth));
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        const DialogRect& r = layout.fields[i];
        m_fields[i]->setGeometry(client.x() + r.x, client.y() + r.y, r.width, r.height);
    }
}

void IpAddressEdit::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect client = contentsRect();
    const bool greyed = !isEnabled() || m_readOnly;
    painter.fillRect(client, palette().color(greyed ? QPalette::Button : QPalette::Base));
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    const IPControlLayout layout =
        layoutIPControl(client.width(), client.height(), fontMetrics().horizontalAdvance(kDot),
                        style()->pixelMetric(QStyle::PM_DefaultFrameWidth));
    for (const DialogRect& dot : layout.dots) {
        painter.drawText(QRect(client.x() + dot.x, client.y() + dot.y, dot.width, dot.height),
                         Qt::AlignHCenter | Qt::AlignBottom | Qt::TextSingleLine, kDot);
    }
    painter.end();
    QFrame::paintEvent(event);
}

void IpAddressEdit::focusInEvent(QFocusEvent* event) {
    QFrame::focusInEvent(event);
    focusField(0, FieldText::Selected);
}

void IpAddressEdit::afterEdit(int index) {
    QLineEdit* edited = field(index);
    switch (checkOctetField(edited->text().toStdString(), m_autoCheck)) {
        case OctetFieldState::NotFull:
            return;
        case OctetFieldState::OutOfRange:
            showMessageBox({this, QStringLiteral("Error"),
                            QString::fromStdString(invalidOctetMessage(edited->text().toInt())),
                            MessageIcon::Exclamation});
            focusField(index, FieldText::Selected);
            return;
        case OctetFieldState::Complete:
            m_autoAdvancedTo = index + 1;
            focusField(index + 1, FieldText::Selected);
            return;
    }
}

void IpAddressEdit::separatorTyped(int index) {
    // Whatever the field holds is selected, to be typed over: the move is made either way.
    const bool alreadyMoved = m_autoAdvancedTo == index;
    m_autoAdvancedTo = -1;
    if (!alreadyMoved) {
        focusField(index + 1, FieldText::Selected);
    }
}

void IpAddressEdit::focusField(int index, FieldText text) {
    if (index < 0 || index >= kOctetFields) {
        return;
    }
    QLineEdit* target = field(index);
    target->setFocus(Qt::OtherFocusReason);
    if (text == FieldText::Selected) {
        target->selectAll();
    } else {
        target->deselect();
    }
}

void IpAddressEdit::leaveControl(bool forward) {
    QWidget* candidate = this;
    do {
        candidate = forward ? candidate->nextInFocusChain() : candidate->previousInFocusChain();
    } while (candidate != this && (isAncestorOf(candidate) || !canTakeTabFocus(candidate)));
    if (candidate != this) {
        candidate->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    }
}

void IpAddressEdit::pressDefaultButton() {
    for (QPushButton* button : window()->findChildren<QPushButton*>()) {
        if (button->isDefault() && button->isEnabled() && button->isVisible()) {
            button->click();
            return;
        }
    }
}

}  // namespace krt
