#include "login/ui/port_forwarding_dialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "common/ui/ui_test_support.h"

namespace krt {
namespace {

using PortForwardingDialogTest = test::UiTest;

TEST_F(PortForwardingDialogTest, OpensWithTheDefaultsEnabledAndItsCaption) {
    const PortForwardingDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Dialog"));
    const std::array<const char*, kPortRows> defaults{"5500", "1024", "9900", "20000", "20001"};
    for (int i = 0; i < kPortRows; ++i) {
        EXPECT_EQ(dialog.portField(i)->text(),
                  QLatin1String(defaults[static_cast<std::size_t>(i)]));
        EXPECT_TRUE(dialog.portField(i)->isEnabled()) << i;
    }
    EXPECT_TRUE(dialog.portForwardingBox()->isChecked());
    EXPECT_EQ(dialog.portForwardingBox()->text(),
              QStringLiteral("Port forwarding enabled at server"));
    EXPECT_EQ(dialog.doneButton()->text(), QStringLiteral("Done"));
}

TEST_F(PortForwardingDialogTest, TheCheckBoxEnablesTheFivePortFields) {
    PortForwardingDialog dialog;
    for (const bool checked : {false, true, false}) {
        QTest::mouseClick(dialog.portForwardingBox(), Qt::LeftButton);
        EXPECT_EQ(dialog.m_bPortForwarding, checked ? 1 : 0);
        for (int i = 0; i < kPortRows; ++i) {
            EXPECT_EQ(dialog.portField(i)->isEnabled(), checked) << i;
        }
    }
}

TEST_F(PortForwardingDialogTest, DoneTransfersEveryIntegerWithoutRangeCheck) {
    struct Case {
        const char* tcpPort1;
        int forwarding;
        int expectedPort;
    };
    for (const Case& c : {Case{"6000", 1, 6000}, Case{"70000", 1, 70000}, Case{"0", 1, 0},
                          Case{"-1", 1, -1}, Case{" 6001 ", 1, 6001}, Case{"6000", 0, 6000}}) {
        PortForwardingDialog dialog;
        dialog.show();
        dialog.portField(0)->setText(QLatin1String(c.tcpPort1));
        dialog.portField(4)->setText(QStringLiteral("30001"));
        if (c.forwarding == 0) {
            QTest::mouseClick(dialog.portForwardingBox(), Qt::LeftButton);
        }
        QTest::mouseClick(dialog.doneButton(), Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Accepted) << c.tcpPort1;
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.m_nTcpPort1, c.expectedPort);
        EXPECT_EQ(dialog.m_nRtcpPort, 30001);
        EXPECT_EQ(dialog.m_bPortForwarding, c.forwarding);
    }
    EXPECT_TRUE(m_messages.boxes().empty());
    EXPECT_EQ(PortForwardingDialog().portField(0)->text(), QStringLiteral("5500"));
}

TEST_F(PortForwardingDialogTest, ANonIntegerInAnyFieldKeepsTheDialogOpen) {
    for (int bad = 0; bad < kPortRows; ++bad) {
        for (const char* text : {"abc", "", "12abc", "99999999999"}) {
            PortForwardingDialog dialog;
            dialog.show();
            dialog.portField(bad)->setText(QLatin1String(text));
            const std::size_t before = m_messages.boxes().size();
            QTest::mouseClick(dialog.doneButton(), Qt::LeftButton);
            EXPECT_TRUE(dialog.isVisible()) << bad << " " << text;
            ASSERT_EQ(m_messages.boxes().size(), before + 1);
            EXPECT_EQ(m_messages.boxes().back().text, QStringLiteral("Enter an integer."));
            EXPECT_EQ(m_messages.boxes().back().caption, QStringLiteral("Error"));
            EXPECT_EQ(dialog.portField(bad)->selectedText(), dialog.portField(bad)->text());
        }
    }
}

TEST_F(PortForwardingDialogTest, ANonIntegerKeepsTheFieldsEnabledStateOnAClickOfTheBox) {
    PortForwardingDialog dialog;
    dialog.portField(2)->setText(QStringLiteral("abc"));
    QTest::mouseClick(dialog.portForwardingBox(), Qt::LeftButton);
    ASSERT_EQ(m_messages.texts(), std::vector<std::string>{"Enter an integer."});
    for (int i = 0; i < kPortRows; ++i) {
        EXPECT_TRUE(dialog.portField(i)->isEnabled()) << i;
    }
}

TEST_F(PortForwardingDialogTest, CancelKeepsNothing) {
    PortForwardingDialog dialog;
    dialog.show();
    dialog.portField(0)->setText(QStringLiteral("6000"));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.m_nTcpPort1, 5500);
}

TEST_F(PortForwardingDialogTest, ResizingLaysTheRowsOut) {
    PortForwardingDialog dialog;
    dialog.setMinimumSize(0, 0);
    dialog.resize(400, 290);
    dialog.show();
    ASSERT_EQ(dialog.height(), 290);
    const std::array<int, kPortRows> fieldTops{40, 80, 120, 160, 200};
    for (int k = 0; k < kPortRows; ++k) {
        EXPECT_EQ(dialog.portField(k)->y(), fieldTops[static_cast<std::size_t>(k)]) << k;
        EXPECT_EQ(dialog.portField(k)->x(), dialog.portField(0)->x()) << k;
    }
    EXPECT_EQ(dialog.doneButton()->y(), 240);
    EXPECT_EQ(dialog.portForwardingBox()->y(), 10);
    EXPECT_EQ(dialog.portForwardingBox()->x(),
              (dialog.width() - dialog.portForwardingBox()->width()) / 2);
}

}  // namespace
}  // namespace krt
