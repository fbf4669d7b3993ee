#include "settings/settings_layout.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

using P = ControlPosition;

TEST(SettingsPageLayout, CentresTheBoxesAndSaveBelowTheShowAlertsBox) {
    struct Case {
        SettingsPageMeasures measures;
        P showAlerts;
        P playSound;
        P save;
    };
    for (const Case& c : {
             Case{{240, 150, 14, 80}, {45, 20}, {45, 39}, {80, 89}},
             Case{{241, 150, 14, 81}, {45, 20}, {45, 39}, {80, 89}},
             Case{{100, 150, 20, 80}, {-25, 20}, {-25, 45}, {10, 95}},
         }) {
        const SettingsPageLayout layout = layoutSettingsPage(c.measures);
        EXPECT_EQ(layout.showAlerts, c.showAlerts) << c.measures.clientWidth;
        EXPECT_EQ(layout.playSound, c.playSound) << c.measures.clientWidth;
        EXPECT_EQ(layout.save, c.save) << c.measures.clientWidth;
    }
}

}  // namespace
}  // namespace krt
