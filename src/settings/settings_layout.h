#pragma once

#include "common/dialog_units.h"

namespace krt {

// Settings page: two check boxes and "Save", centred.
struct SettingsPageMeasures {
    int clientWidth = 0;
    int showAlertsWidth = 0;
    int showAlertsHeight = 0;
    int saveWidth = 0;
};
struct SettingsPageLayout {
    ControlPosition showAlerts;
    ControlPosition playSound;
    ControlPosition save;
};
SettingsPageLayout layoutSettingsPage(const SettingsPageMeasures& measures);

}  // namespace krt
