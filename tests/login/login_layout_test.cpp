#include "login/login_layout.h"

#include <gtest/gtest.h>

namespace krt {
namespace {

using P = ControlPosition;

TEST(LoginDialogLayout, SevenRowsOfTheAddressFieldsHeightWithEqualGaps) {
    // b = (260 − 7 × 20) / 8 = 15; a = (300 − 60 − 100 − 10) / 2 = 65; c = 65 + 62 + 10 = 137.
    const LoginDialogLayout layout = layoutLoginDialog({300, 260, 20, 60, 100, 62});
    const int a = 65;
    const int c = 137;
    EXPECT_EQ(layout.addressLabel, (P{a, 15}));
    EXPECT_EQ(layout.userNameLabel, (P{a, 50}));
    EXPECT_EQ(layout.passwordLabel, (P{a, 85}));
    EXPECT_EQ(layout.addressField, (P{c, 15}));
    EXPECT_EQ(layout.userNameField, (P{c, 50}));
    EXPECT_EQ(layout.passwordField, (P{c, 85}));
    EXPECT_EQ(layout.loginButton, (P{a, 120}));
    EXPECT_EQ(layout.cancelButton, (P{c, 120}));
    EXPECT_EQ(layout.rememberLogin, (P{a, 155}));
    EXPECT_EQ(layout.portForwarding, (P{a, 190}));
    EXPECT_EQ(layout.version, (P{a, 225}));
}

TEST(LoginDialogLayout, RowsStartAtBThenGPlus2BThen2GPlus3B) {
    struct Case {
        int height;
        int rowHeight;
        int gap;  // b, truncated towards zero
    };
    for (const Case& c : {Case{260, 20, 15}, Case{320, 24, 19}, Case{147, 21, 0}, Case{101, 20, -4},
                          Case{100, 20, -5}, Case{0, 0, 0}}) {
        const LoginDialogLayout layout =
            layoutLoginDialog({240, c.height, c.rowHeight, 41, 56, 41});
        const int g = c.rowHeight;
        const int b = c.gap;
        EXPECT_EQ(layout.addressLabel.y, b) << c.height;
        EXPECT_EQ(layout.userNameLabel.y, g + 2 * b) << c.height;
        EXPECT_EQ(layout.passwordLabel.y, 2 * g + 3 * b) << c.height;
        EXPECT_EQ(layout.loginButton.y, 3 * g + 4 * b) << c.height;
        EXPECT_EQ(layout.rememberLogin.y, 4 * g + 5 * b) << c.height;
        EXPECT_EQ(layout.portForwarding.y, 5 * g + 6 * b) << c.height;
        EXPECT_EQ(layout.version.y, 6 * g + 7 * b) << c.height;
    }
}

TEST(LoginDialogLayout, ColumnsCentreTheAddressLabelGapAndField) {
    struct Case {
        int width;
        int addressLabel;
        int addressField;
        int passwordLabel;
        int left;
        int right;
    };
    for (const Case& c : {Case{300, 60, 100, 60, 65, 135}, Case{301, 60, 100, 60, 65, 135},
                          Case{240, 41, 56, 41, 66, 117}, Case{100, 60, 100, 50, -35, 25},
                          Case{101, 60, 100, 50, -34, 26}}) {
        const LoginDialogLayout layout =
            layoutLoginDialog({c.width, 200, 20, c.addressLabel, c.addressField, c.passwordLabel});
        EXPECT_EQ(layout.addressLabel.x, c.left) << c.width;
        EXPECT_EQ(layout.version.x, c.left) << c.width;
        EXPECT_EQ(layout.addressField.x, c.right) << c.width;
        EXPECT_EQ(layout.cancelButton.x, c.right) << c.width;
    }
}

TEST(LoginDialogLayout, AddServerStandsBesideCancelAfterTheColumnGap) {
    struct Case {
        int noticeHeight;
        int cancelWidth;
        P addServer;
    };
    // c = 137 and the button row at 120 as above; a notice narrows the gaps, b = 13.
    for (const Case& c :
         {Case{0, 60, P{207, 120}}, Case{0, 45, P{192, 120}}, Case{16, 60, P{207, 112}}}) {
        const LoginDialogLayout layout =
            layoutLoginDialog({300, 260, 20, 60, 100, 62, 170, c.noticeHeight, c.cancelWidth});
        EXPECT_EQ(layout.addServer, c.addServer) << c.cancelWidth << " " << c.noticeHeight;
        EXPECT_EQ(layout.addServer.y, layout.cancelButton.y);
    }
}

TEST(LoginDialogLayout, ANoticeUnderTheBoxPushesTheRowsBelowItDown) {
    struct Case {
        int width;
        int noticeWidth;
        int noticeX;  // in line with the box where it fits, otherwise centred
    };
    // b = (276 − 7 × 20 − 16) / 8 = 15; the box's row is at 155, the notice right under it.
    for (const Case& c : {Case{300, 170, 65}, Case{300, 171, 64}, Case{300, 320, -10}}) {
        const LoginDialogLayout layout =
            layoutLoginDialog({c.width, 276, 20, 60, 100, 62, c.noticeWidth, 16});
        EXPECT_EQ(layout.rememberLogin, (P{65, 155})) << c.noticeWidth;
        EXPECT_EQ(layout.notice, (P{c.noticeX, 175})) << c.noticeWidth;
        EXPECT_EQ(layout.portForwarding, (P{65, 206})) << c.noticeWidth;
        EXPECT_EQ(layout.version, (P{65, 241})) << c.noticeWidth;
    }
}

TEST(PortForwardingLayout, AClientHeightOf290GivesRowsOf30) {
    const PortForwardingLayout layout = layoutPortForwarding({400, 290, 200, 60, 80, 100, 80});
    EXPECT_EQ(layout.rowHeight, 30);
    EXPECT_EQ(layout.checkBox, (P{100, 10}));
    // e = (400 − 80 − 60 − 10) / 2 = 125; f = 125 + 100 + 10 = 235.
    const std::array<int, kPortRows> fieldTops{40, 80, 120, 160, 200};
    const std::array<int, kPortRows> labelTops{50, 90, 130, 170, 210};
    for (std::size_t k = 0; k < kPortRows; ++k) {
        EXPECT_EQ(layout.fields[k], (P{235, fieldTops[k]})) << k;
        EXPECT_EQ(layout.labels[k], (P{125, labelTops[k]})) << k;
    }
    EXPECT_EQ(layout.done, (P{160, 240}));
}

TEST(PortForwardingLayout, RowHeightTruncatesTowardsZero) {
    struct Case {
        int height;
        int rowHeight;
        int doneTop;
    };
    for (const Case& c : {Case{290, 30, 240}, Case{296, 30, 240}, Case{297, 31, 246},
                          Case{80, 0, 60}, Case{74, 0, 60}, Case{73, -1, 54}}) {
        const PortForwardingLayout layout =
            layoutPortForwarding({300, c.height, 100, 41, 47, 60, 50});
        EXPECT_EQ(layout.rowHeight, c.rowHeight) << c.height;
        EXPECT_EQ(layout.done.y, c.doneTop) << c.height;
        EXPECT_EQ(layout.fields[0].y, c.rowHeight + 10) << c.height;
        EXPECT_EQ(layout.labels[4].y, 5 * (c.rowHeight + 10) + 10) << c.height;
    }
}

}  // namespace
}  // namespace krt
