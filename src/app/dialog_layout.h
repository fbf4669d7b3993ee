#pragma once

#include <array>

namespace krt {

// The layout rules of the dialogs and pages, in pixels. Each control keeps its width; the rules
// only say where it goes. Divisions truncate towards zero, as the rules are written.

struct ControlPosition {
    int x = 0;
    int y = 0;
    bool operator==(const ControlPosition&) const = default;
};

// Dialog templates are sized in dialog units; the font's average character width and height
// (the base units) turn them into pixels: a horizontal unit is a quarter of the width, a
// vertical unit an eighth of the height, rounded to the nearest pixel.
struct DialogBaseUnits {
    int width = 0;
    int height = 0;
};
struct DialogRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const DialogRect&) const = default;
};
DialogRect dialogUnitsToPixels(const DialogRect& units, DialogBaseUnits base);

// Login dialog: two columns and seven rows, every row as high as the address field.
struct LoginDialogMeasures {
    int clientWidth = 0;
    int clientHeight = 0;
    int rowHeight = 0;  // height of the address field
    int addressLabelWidth = 0;
    int addressFieldWidth = 0;
    int passwordLabelWidth = 0;
};
struct LoginDialogLayout {
    ControlPosition addressLabel;
    ControlPosition userNameLabel;
    ControlPosition passwordLabel;
    ControlPosition addressField;
    ControlPosition userNameField;
    ControlPosition passwordField;
    ControlPosition cancelButton;
    ControlPosition loginButton;
    ControlPosition rememberLogin;
    ControlPosition portForwarding;
    ControlPosition version;
};
LoginDialogLayout layoutLoginDialog(const LoginDialogMeasures& measures);

// Port forwarding dialog: the check box on top, five label/edit rows, Done below.
inline constexpr int kPortRows = 5;
struct PortForwardingMeasures {
    int clientWidth = 0;
    int clientHeight = 0;
    int checkBoxWidth = 0;
    int tcpPort1LabelWidth = 0;
    int tcpPort1FieldWidth = 0;
    int rtcpLabelWidth = 0;  // the widest label sets the edit column
    int doneWidth = 0;
};
struct PortForwardingLayout {
    int rowHeight = 0;
    ControlPosition checkBox;
    std::array<ControlPosition, kPortRows> labels;  // TCP Port1, RTSP, HTTP, RTP, RTCP
    std::array<ControlPosition, kPortRows> fields;
    ControlPosition done;
};
PortForwardingLayout layoutPortForwarding(const PortForwardingMeasures& measures);

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
