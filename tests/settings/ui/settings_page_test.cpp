#include "settings/ui/settings_page.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTest>

#include "common/ui/ui_test_support.h"

namespace krt {
namespace {

using SettingsPageTest = test::UiTest;

TEST_F(SettingsPageTest, StartsWithBothSwitchesOffAndItsCaptions) {
    const SettingsPage page;
    EXPECT_EQ(page.ShowAlerts, 0);
    EXPECT_EQ(page.PlaySound, 0);
    EXPECT_FALSE(page.showAlertsBox()->isChecked());
    EXPECT_FALSE(page.playSoundBox()->isChecked());
    EXPECT_TRUE(page.playSoundBox()->isEnabled());
    EXPECT_EQ(page.showAlertsBox()->text(), QStringLiteral("Show Event Alert"));
    EXPECT_EQ(page.playSoundBox()->text(), QStringLiteral("Play Alert Sound For Events"));
    EXPECT_EQ(page.saveButton()->text(), QStringLiteral("Save"));
}

TEST_F(SettingsPageTest, UncheckingShowAlertsClearsAndDisablesTheSoundBox) {
    SettingsPage page;
    page.ShowAlerts = 1;
    page.PlaySound = 1;
    page.updateControlsFromMembers();

    QTest::mouseClick(page.showAlertsBox(), Qt::LeftButton);
    EXPECT_EQ(page.ShowAlerts, 0);
    EXPECT_EQ(page.PlaySound, 0);
    EXPECT_FALSE(page.playSoundBox()->isChecked());
    EXPECT_FALSE(page.playSoundBox()->isEnabled());

    QTest::mouseClick(page.showAlertsBox(), Qt::LeftButton);
    EXPECT_EQ(page.ShowAlerts, 1);
    EXPECT_TRUE(page.playSoundBox()->isEnabled());
    EXPECT_FALSE(page.playSoundBox()->isChecked());
    EXPECT_EQ(page.PlaySound, 0);
}

TEST_F(SettingsPageTest, SaveStoresTrueOrFalseForEachSwitch) {
    struct Case {
        bool showAlerts;
        bool playSound;
        const char* storedShowAlerts;
        const char* storedPlaySound;
    };
    for (const Case& c : {Case{true, false, "true", "false"}, Case{true, true, "true", "true"},
                          Case{false, false, "false", "false"}}) {
        SettingsPage page;
        page.show();
        if (c.showAlerts) {
            QTest::mouseClick(page.showAlertsBox(), Qt::LeftButton);
        }
        if (c.playSound) {
            QTest::mouseClick(page.playSoundBox(), Qt::LeftButton);
        }
        QTest::mouseClick(page.saveButton(), Qt::LeftButton);
        EXPECT_EQ(stored("ShowAlerts"), c.storedShowAlerts);
        EXPECT_EQ(stored("PlaySound"), c.storedPlaySound);
        EXPECT_EQ(page.ShowAlerts, c.showAlerts ? 1 : 0);
        EXPECT_EQ(page.PlaySound, c.playSound ? 1 : 0);
    }
    EXPECT_TRUE(m_messages.boxes().empty());
}

TEST_F(SettingsPageTest, ResizingCentresTheControls) {
    SettingsPage page;
    page.showAlertsBox()->resize(150, 14);
    page.saveButton()->resize(80, 24);
    page.resize(240, 200);
    page.show();
    EXPECT_EQ(page.showAlertsBox()->pos(), QPoint(45, 20));
    EXPECT_EQ(page.playSoundBox()->pos(), QPoint(45, 39));
    EXPECT_EQ(page.saveButton()->pos(), QPoint(80, 89));
}

}  // namespace
}  // namespace krt
