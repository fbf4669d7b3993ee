#include "login/login_layout.h"

#include <cstddef>

namespace krt {

LoginDialogLayout layoutLoginDialog(const LoginDialogMeasures& m) {
    const int g = m.rowHeight;
    const int gap = (m.clientHeight - 7 * g - m.noticeHeight) / 8;
    const int left = (m.clientWidth - m.addressLabelWidth - m.addressFieldWidth - 10) / 2;
    const int right = left + m.passwordLabelWidth + 10;
    constexpr int kRememberLoginRow = 4;
    const auto row = [&](int k) {
        return gap + k * (g + gap) + (k > kRememberLoginRow ? m.noticeHeight : 0);
    };

    LoginDialogLayout layout;
    layout.addressLabel = {left, row(0)};
    layout.userNameLabel = {left, row(1)};
    layout.passwordLabel = {left, row(2)};
    layout.addressField = {right, row(0)};
    layout.userNameField = {right, row(1)};
    layout.passwordField = {right, row(2)};
    layout.cancelButton = {right, row(3)};
    layout.loginButton = {left, row(3)};
    layout.addServer = {right + m.cancelWidth + 10, row(3)};
    layout.rememberLogin = {left, row(4)};
    layout.portForwarding = {left, row(5)};
    layout.version = {left, row(6)};
    const bool fitsInLine = left + m.noticeWidth <= m.clientWidth - left;
    layout.notice = {fitsInLine ? left : (m.clientWidth - m.noticeWidth) / 2,
                     row(kRememberLoginRow) + g};
    return layout;
}

PortForwardingLayout layoutPortForwarding(const PortForwardingMeasures& m) {
    PortForwardingLayout layout;
    const int r = (m.clientHeight - 80) / 7;
    layout.rowHeight = r;
    layout.checkBox = {(m.clientWidth - m.checkBoxWidth) / 2, 10};
    const int labelColumn = (m.clientWidth - m.tcpPort1FieldWidth - m.tcpPort1LabelWidth - 10) / 2;
    const int fieldColumn = labelColumn + m.rtcpLabelWidth + 10;
    for (int k = 1; k <= kPortRows; ++k) {
        // Each label stands 10 pixels lower than its edit.
        layout.labels[static_cast<std::size_t>(k - 1)] = {labelColumn, k * (r + 10) + 10};
        layout.fields[static_cast<std::size_t>(k - 1)] = {fieldColumn, k * (r + 10)};
    }
    layout.done = {(m.clientWidth - m.doneWidth) / 2, 6 * (r + 10)};
    return layout;
}

}  // namespace krt
