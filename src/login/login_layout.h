#pragma once

#include <array>

#include "common/dialog_units.h"

namespace krt {

// Login dialog: two columns and seven rows, every row as high as the address field. A notice
// under the Remember Login box, when shown, pushes the rows below it down by its height.
struct LoginDialogMeasures {
    int clientWidth = 0;
    int clientHeight = 0;
    int rowHeight = 0;  // height of the address field
    int addressLabelWidth = 0;
    int addressFieldWidth = 0;
    int passwordLabelWidth = 0;
    int noticeWidth = 0;
    int noticeHeight = 0;  // 0 while no notice is shown
    int cancelWidth = 0;
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
    // Right under the box, in line with it where it fits, otherwise centred.
    ControlPosition notice;
    // "Add server…", beside Cancel on the button row.
    ControlPosition addServer;
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

}  // namespace krt
