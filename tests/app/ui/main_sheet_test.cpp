#include "app/ui/main_sheet.h"

#include <QCheckBox>
#include <QLabel>
#include <QTabWidget>

#include "alarms/ui/events_page.h"
#include "app/ui/about_page.h"
#include "common/ui/ui_test_support.h"
#include "settings/ui/settings_page.h"
#include "tile/ui/recording_stops.h"

namespace krt {
namespace {

using MainSheetTest = test::UiTest;

TEST_F(MainSheetTest, TabsReadVideosAlarmsSettingsAbout) {
    const AppState app;
    const MainSheet sheet(app);
    QStringList titles;
    for (int i = 0; i < sheet.tabs()->count(); ++i) {
        titles << sheet.tabs()->tabText(i);
    }
    EXPECT_EQ(titles, (QStringList{"Videos", "Alarms", "Settings", "About"}));
    EXPECT_EQ(sheet.tabs()->widget(0), sheet.liveView());
    EXPECT_EQ(sheet.tabs()->widget(1), sheet.eventsPage());
    EXPECT_EQ(sheet.tabs()->widget(2), sheet.settingsPage());
    EXPECT_EQ(sheet.tabs()->widget(3), sheet.aboutPage());
    EXPECT_EQ(sheet.m_gridRows, 2);
    EXPECT_EQ(sheet.m_gridColumns, 2);
}

TEST_F(MainSheetTest, TheStatusLineSaysThatARecordingStoppedUntilOneStartsAgain) {
    const AppState app;
    const MainSheet sheet(app);
    const QLabel* status = sheet.alarmStatusLabel();
    const QString normal = status->text();
    const int narrowest = sheet.minimumSizeHint().width();
    const QString why = QStringLiteral("Cannot write the clip of \"Gate\" in /media/") +
                        QString(300, u'x') +
                        QStringLiteral(": No space left on device. The recording has stopped.");
    RecordingStops::instance().tellStopped(why);
    EXPECT_EQ(status->text(), why + QStringLiteral("  \u2022  ") + normal);
    EXPECT_EQ(sheet.minimumSizeHint().width(), narrowest) << "the window never widens for it";
    EXPECT_TRUE(status->styleSheet().contains("#cf222e"));
    RecordingStops::instance().tellStarted();
    EXPECT_EQ(status->text(), normal);
    EXPECT_FALSE(status->styleSheet().contains("#cf222e"));
}

TEST_F(MainSheetTest, OpeningLoadsTheAlertSwitchesIntoTheSettingsPage) {
    struct Case {
        const char* showAlerts;  // nullptr: no value
        const char* playSound;
        int loadedShowAlerts;
        int loadedPlaySound;
    };
    for (const Case& c : {Case{nullptr, nullptr, 0, 0}, Case{"true", "TRUE", 1, 1},
                          Case{"True", "false", 1, 0}, Case{"yes", "true", 0, 1}}) {
        for (const auto& [name, text] :
             {std::pair{"ShowAlerts", c.showAlerts}, std::pair{"PlaySound", c.playSound}}) {
            unstore(name);
            if (text) {
                store(name, text);
            }
        }
        const AppState app;
        MainSheet sheet(app);
        EXPECT_EQ(sheet.settingsPage()->ShowAlerts, 0) << "loaded only when the sheet opens";
        sheet.show();
        EXPECT_EQ(sheet.settingsPage()->ShowAlerts, c.loadedShowAlerts);
        EXPECT_EQ(sheet.settingsPage()->PlaySound, c.loadedPlaySound);
        EXPECT_EQ(sheet.settingsPage()->showAlertsBox()->isChecked(), c.loadedShowAlerts == 1);
        EXPECT_EQ(sheet.settingsPage()->playSoundBox()->isChecked(), c.loadedPlaySound == 1);
    }
}

TEST_F(MainSheetTest, OpeningLinksTheAlarmsPageToTheSheetForItsAlerts) {
    const AppState app;
    MainSheet sheet(app);
    EXPECT_EQ(sheet.eventsPage()->alertSink.load(), nullptr);
    EXPECT_EQ(sheet.alertWindow(), nullptr);
    sheet.show();
    EXPECT_EQ(sheet.eventsPage()->alertSink.load(), &sheet);
    EXPECT_EQ(sheet.alertWindow(), nullptr) << "created at the first alert";
}

TEST_F(MainSheetTest, TheAboutPageNamesTheProductAndTheProtocolVersion) {
    const AppState app;
    const MainSheet sheet(app);
    EXPECT_EQ(sheet.aboutPage()->productText(),
              QStringLiteral("Tessaline Client \n\nMobileClient-02-00-01"));
    EXPECT_FALSE(sheet.aboutPage()->vendorText().isEmpty());
}

}  // namespace
}  // namespace krt
