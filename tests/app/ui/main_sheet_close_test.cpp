#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "alarms/ui/event_alert_dialog.h"
#include "app/ui/main_sheet.h"
#include "common/ui/ui_test_support.h"
#include "settings/ui/settings_page.h"

namespace krt {
namespace {

constexpr int kWait_ms = 5000;

class MainSheetClosing : public test::UiTest {
  protected:
    MainSheetClosing() {
        m_sheet.setCloseQuestion([this](const QString& question) {
            m_questions << question;
            return m_answer;
        });
        m_sheet.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&m_sheet));
    }

    const AppState m_app;
    MainSheet m_sheet{m_app};
    QStringList m_questions;
    bool m_answer = false;
};

TEST_F(MainSheetClosing, EscapeNeverEndsTheSessionAndClosesAFocusedAlert) {
    m_sheet.settingsPage()->ShowAlerts = 1;
    m_sheet.queueEventAlert({"Motion", "1", "25-Nov-2013::10:30:00", {}}, nullptr);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_sheet.alertWindow() != nullptr && m_sheet.alertWindow()->isVisible(); },
        kWait_ms));

    QTest::keyClick(m_sheet.tabs(), Qt::Key_Escape);
    EXPECT_TRUE(m_sheet.isVisible()) << "Escape on the tabs";
    EXPECT_TRUE(m_sheet.alertWindow()->isVisible()) << "the alert had no focus";

    m_sheet.alertWindow()->closeButton()->setFocus();
    QTest::keyClick(m_sheet.alertWindow()->closeButton(), Qt::Key_Escape);
    EXPECT_FALSE(m_sheet.alertWindow()->isVisible());
    EXPECT_TRUE(m_sheet.isVisible());

    m_sheet.tabs()->setCurrentWidget(m_sheet.settingsPage());
    QTest::keyClick(m_sheet.settingsPage()->saveButton(), Qt::Key_Escape);
    EXPECT_TRUE(m_sheet.isVisible()) << "Escape on a page's control";
    EXPECT_TRUE(m_questions.isEmpty());
}

TEST_F(MainSheetClosing, TheCloseButtonAsksBeforeItLogsOut) {
    m_answer = false;
    m_sheet.close();
    EXPECT_TRUE(m_sheet.isVisible());
    EXPECT_EQ(m_questions, QStringList{"Log out and close the client?"});

    m_answer = true;
    m_sheet.close();
    EXPECT_FALSE(m_sheet.isVisible());
    EXPECT_EQ(m_questions.size(), 2);
}

}  // namespace
}  // namespace krt
