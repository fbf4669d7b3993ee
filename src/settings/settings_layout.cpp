#include "settings/settings_layout.h"

namespace krt {

SettingsPageLayout layoutSettingsPage(const SettingsPageMeasures& m) {
    const int boxColumn = (m.clientWidth - m.showAlertsWidth) / 2;
    return {{boxColumn, 20},
            {boxColumn, m.showAlertsHeight + 25},
            {(m.clientWidth - m.saveWidth) / 2, m.showAlertsHeight + 75}};
}

}  // namespace krt
