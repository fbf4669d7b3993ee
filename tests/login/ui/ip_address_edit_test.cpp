#include "login/ui/ip_address_edit.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "common/ui/ui_test_support.h"

namespace krt {
namespace {

using Texts = std::array<const char*, kOctetFields>;

// A dialog with a field before the control, the control, a field after it and a default
// button, as the login dialog has them.
class IPAddrCtlTest : public test::UiTest {
  protected:
    explicit IPAddrCtlTest(AutoCheck autoCheck = AutoCheck::On)
        : m_before(new QLineEdit(&m_dialog)),
          m_control(new IpAddressEdit(&m_dialog, autoCheck)),
          m_after(new QLineEdit(&m_dialog)),
          m_default(new QPushButton(QStringLiteral("Login"), &m_dialog)) {
        m_before->move(0, 0);
        m_control->setGeometry(0, 40, 200, 30);
        m_after->move(0, 80);
        m_default->move(0, 120);
        m_default->setDefault(true);
        m_dialog.show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&m_dialog));
    }

    void setTexts(const Texts& texts) {
        for (int i = 0; i < kOctetFields; ++i) {
            field(i)->setText(QString::fromLatin1(texts[static_cast<std::size_t>(i)]));
        }
    }
    std::array<std::string, kOctetFields> texts() const {
        std::array<std::string, kOctetFields> result;
        for (int i = 0; i < kOctetFields; ++i) {
            result[static_cast<std::size_t>(i)] = field(i)->text().toStdString();
        }
        return result;
    }
    QLineEdit* field(int index) const { return m_control->field(index); }
    // The index of the field that has the focus, or -1.
    int focusedField() const {
        for (int i = 0; i < kOctetFields; ++i) {
            if (field(i)->hasFocus()) {
                return i;
            }
        }
        return -1;
    }
    // Each key goes to the widget that has the focus at that moment, as typing does.
    static void type(const char* keys) {
        for (const char* key = keys; *key; ++key) {
            QTest::keyClick(QApplication::focusWidget(), *key);
        }
    }
    void focus(int index) {
        field(index)->setFocus();
        field(index)->end(false);
    }

    QDialog m_dialog;
    QLineEdit* m_before;
    IpAddressEdit* m_control;
    QLineEdit* m_after;
    QPushButton* m_default;
};

class IPAddrCtlWithoutAutoCheck : public IPAddrCtlTest {
  protected:
    IPAddrCtlWithoutAutoCheck() : IPAddrCtlTest(AutoCheck::Off) {}
};

TEST_F(IPAddrCtlTest, TypingMovesBetweenFieldsAndRefusesWhatIsNoOctet) {
    struct Case {
        Texts start;
        int startField;
        const char* typed;
        Texts expected;
        int focused;
        bool nextSelected;  // the focused field's whole text is selected
        std::vector<std::string> messages;
    };
    const std::string over255 = invalidOctetMessage(300);
    for (const Case& c : {
             Case{{"", "168", "", ""}, 0, "192", {"192", "168", "", ""}, 1, true, {}},
             Case{{"", "", "", ""}, 0, "300", {"300", "", "", ""}, 0, true, {over255}},
             Case{{"", "", "", ""}, 0, "1a2", {"12", "", "", ""}, 0, false, {}},
             Case{{"", "", "", ""}, 0, "10.0", {"10", "0", "", ""}, 1, false, {}},
             Case{{"", "9", "", ""}, 0, "10 ", {"10", "9", "", ""}, 1, true, {}},
             Case{{"", "", "", ""}, 0, "127.0.0.1", {"127", "0", "0", "1"}, 3, false, {}},
             Case{{"", "", "", ""}, 0, "1272", {"127", "2", "", ""}, 1, false, {}},
             Case{{"", "", "", "1"}, 3, "25.", {"", "", "", "125"}, 3, false, {}},
             // A separator right after the automatic move is the one the move already made.
             Case{{"", "", "", ""},
                  0,
                  "192.168.100.200",
                  {"192", "168", "100", "200"},
                  3,
                  false,
                  {}},
             Case{{"", "", "", ""}, 0, "192..", {"192", "", "", ""}, 2, false, {}},
             // Also when the field moved to holds a text, selected to be typed over.
             Case{{"", "0", "0", "1"}, 0, "127.0.90.1", {"127", "0", "90", "1"}, 3, false, {}},
             Case{{"", "", "", ""},
                  3,
                  "256",
                  {"", "", "", "256"},
                  3,
                  true,
                  {invalidOctetMessage(256)}},
             Case{{"", "", "", ""}, 2, "-,x", {"", "", "", ""}, 2, false, {}},
         }) {
        SCOPED_TRACE(c.typed);
        setTexts(c.start);
        focus(c.startField);
        const std::size_t before = m_messages.boxes().size();
        type(c.typed);
        std::array<std::string, kOctetFields> expected;
        std::copy(c.expected.begin(), c.expected.end(), expected.begin());
        EXPECT_EQ(texts(), expected);
        EXPECT_EQ(focusedField(), c.focused);
        const QLineEdit* focused = field(c.focused);
        EXPECT_EQ(!focused->text().isEmpty() && focused->selectedText() == focused->text(),
                  c.nextSelected);
        const std::vector<std::string> all = m_messages.texts();
        EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<long>(before), all.end()),
                  c.messages);
    }
}

TEST_F(IPAddrCtlTest, AnOutOfRangeMessageIsAnExclamationBoxCaptionedError) {
    focus(0);
    type("999");
    ASSERT_EQ(m_messages.boxes().size(), 1u);
    EXPECT_EQ(m_messages.boxes()[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(m_messages.boxes()[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(m_messages.boxes()[0].owner, m_control);
    EXPECT_EQ(m_messages.texts()[0], invalidOctetMessage(999));
}

TEST_F(IPAddrCtlWithoutAutoCheck, AFullFieldMovesOnWithoutTheRangeTest) {
    focus(0);
    type("300");
    EXPECT_EQ(focusedField(), 1);
    EXPECT_TRUE(m_messages.boxes().empty());
    EXPECT_EQ(m_control->getAddress(ErrorReport::Silent).invalidField, 1);
}

TEST_F(IPAddrCtlTest, ArrowsCrossIntoTheNeighbouringFieldsAtTheTextEnds) {
    struct Case {
        int startField;
        int cursor;
        Qt::Key key;
        int focused;
    };
    for (const Case& c : {Case{1, 0, Qt::Key_Left, 0}, Case{1, 1, Qt::Key_Left, 1},
                          Case{0, 0, Qt::Key_Left, 0}, Case{1, 3, Qt::Key_Right, 2},
                          Case{1, 2, Qt::Key_Right, 1}, Case{3, 3, Qt::Key_Right, 3}}) {
        setTexts({"192", "168", "100", "200"});
        field(c.startField)->setFocus();
        field(c.startField)->setCursorPosition(c.cursor);
        QTest::keyClick(field(c.startField), c.key);
        EXPECT_EQ(focusedField(), c.focused) << c.startField << " " << c.cursor;
        EXPECT_TRUE(field(c.focused)->selectedText().isEmpty());
    }
}

TEST_F(IPAddrCtlTest, TabLeavesTheWholeControlAndComingBackSelectsTheFirstField) {
    setTexts({"10", "20", "30", "40"});
    for (int start = 0; start < kOctetFields; ++start) {
        focus(start);
        QTest::keyClick(field(start), Qt::Key_Tab);
        EXPECT_TRUE(m_after->hasFocus()) << start;
        focus(start);
        QTest::keyClick(field(start), Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_TRUE(m_before->hasFocus()) << start;
    }
    QTest::keyClick(m_before, Qt::Key_Tab);
    EXPECT_EQ(focusedField(), 0);
    EXPECT_EQ(field(0)->selectedText(), QStringLiteral("10"));
    m_after->setFocus();
    QTest::keyClick(m_after, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(focusedField(), 0);
}

TEST_F(IPAddrCtlTest, EnterPressesTheDialogsDefaultButton) {
    QSignalSpy clicks(m_default, &QPushButton::clicked);
    focus(2);
    QTest::keyClick(field(2), Qt::Key_Return);
    EXPECT_EQ(clicks.count(), 1);
    m_default->setDefault(false);
    QTest::keyClick(field(2), Qt::Key_Enter);
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(IPAddrCtlTest, EscapeCancelsTheDialog) {
    QSignalSpy rejected(&m_dialog, &QDialog::rejected);
    focus(1);
    QTest::keyClick(field(1), Qt::Key_Escape);
    EXPECT_EQ(rejected.count(), 1);
}

TEST_F(IPAddrCtlTest, ReadingReportsTheFirstBadFieldAndSelectsIt) {
    struct Case {
        Texts texts;
        ErrorReport report;
        IPAddrValue value;
        std::vector<std::string> messages;
    };
    for (const Case& c : {
             Case{{"192", "168", "0", "7"}, ErrorReport::ToUser, {{192, 168, 0, 7}, 0}, {}},
             Case{{"10", "0", "", "1"},
                  ErrorReport::ToUser,
                  {{}, 3},
                  {"Missing value in IP address"}},
             Case{{"10", "0", "", "1"}, ErrorReport::Silent, {{}, 3}, {}},
             Case{
                 {"10", "256", "1", "1"}, ErrorReport::ToUser, {{}, 2}, {invalidOctetMessage(256)}},
             Case{{"", "", "", ""}, ErrorReport::ToUser, {{}, 1}, {"Missing value in IP address"}},
         }) {
        setTexts(c.texts);
        m_after->setFocus();
        const std::size_t before = m_messages.boxes().size();
        EXPECT_EQ(m_control->getAddress(c.report), c.value) << c.texts[0] << "." << c.texts[1];
        const std::vector<std::string> all = m_messages.texts();
        EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<long>(before), all.end()),
                  c.messages);
        if (c.value.invalidField != 0) {
            const QLineEdit* bad = field(c.value.invalidField - 1);
            EXPECT_TRUE(bad->hasFocus());
            EXPECT_EQ(bad->selectedText(), bad->text());
        } else {
            EXPECT_TRUE(m_after->hasFocus());
        }
    }
}

TEST_F(IPAddrCtlTest, SetAddressShowsTheOctetsAndTextJoinsThem) {
    m_control->setAddress({192, 168, 0, 7});
    EXPECT_EQ(texts(), (std::array<std::string, 4>{"192", "168", "0", "7"}));
    EXPECT_EQ(m_control->text(), QStringLiteral("192.168.0.7"));
    m_control->setText(QStringLiteral("10.1.2"));
    EXPECT_EQ(texts(), (std::array<std::string, 4>{"10", "1", "2", ""}));
    EXPECT_EQ(m_control->text(), QStringLiteral("10.1.2."));
    m_control->setText(QStringLiteral("host.example"));
    EXPECT_EQ(m_control->text(), QStringLiteral("..."));
}

TEST_F(IPAddrCtlTest, PastedTextIsHeldToDigits) {
    focus(0);
    field(0)->clear();
    field(0)->insert(QStringLiteral("x1"));
    EXPECT_EQ(field(0)->text(), QString());
    field(0)->insert(QStringLiteral("12"));
    EXPECT_EQ(field(0)->text(), QStringLiteral("12"));
}

TEST_F(IPAddrCtlTest, ReadOnlyAndDisabledReachEveryField) {
    m_control->setReadOnly(true);
    m_control->setEnabled(false);
    for (int i = 0; i < kOctetFields; ++i) {
        EXPECT_TRUE(field(i)->isReadOnly()) << i;
        EXPECT_FALSE(field(i)->isEnabled()) << i;
    }
    m_control->setReadOnly(false);
    m_control->setEnabled(true);
    for (int i = 0; i < kOctetFields; ++i) {
        EXPECT_FALSE(field(i)->isReadOnly()) << i;
        EXPECT_TRUE(field(i)->isEnabled()) << i;
    }
}

TEST_F(IPAddrCtlTest, FieldsFollowTheControlsLayoutRule) {
    m_control->resize(240, 30);
    const QRect client = m_control->contentsRect();
    const int dot = m_control->fontMetrics().horizontalAdvance(QStringLiteral("."));
    const int width = (client.width() - 3 * dot) / 4;
    for (int i = 0; i < kOctetFields; ++i) {
        EXPECT_EQ(field(i)->x(), client.x() + i * (width + dot)) << i;
        EXPECT_EQ(field(i)->width(), width) << i;
        EXPECT_EQ(field(i)->geometry().bottom(), client.bottom()) << i;
    }
}

}  // namespace
}  // namespace krt
