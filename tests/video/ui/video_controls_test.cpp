// The title bar, the page links and the press-and-release buttons of the Videos page.
#include <gtest/gtest.h>
#include <QSignalSpy>
#include <QTest>
#include <vector>

#include "common/ui/ui_test_support.h"
#include "tile/ui/video_title_bar.h"
#include "video/ui/page_link_label.h"
#include "video/ui/press_button.h"

namespace krt {
namespace {

using VideoControls = test::UiTest;

TEST_F(VideoControls, TitleBarNamesTheChannelShortInTheGridAndLongAlone) {
    VideoChannel gate;
    gate.ChannelID = "7";
    gate.ChannelDescription = "Gate";
    VideoTitleBar bar;
    bar.resize(200, VideoTitleBar::kHeight);
    bar.setChannel(&gate);
    EXPECT_EQ(bar.shownText(), "7");
    bar.setBigView(true);
    EXPECT_EQ(bar.shownText(), "7 - Gate");
    bar.setChannel(nullptr);
    EXPECT_EQ(bar.shownText(), "");
    bar.setBigView(false);
    EXPECT_EQ(bar.shownText(), "");
    // It paints its grey strip.
    bar.setChannel(&gate);
    const QImage strip = bar.grab().toImage();
    EXPECT_EQ(strip.pixelColor(strip.width() - 1, strip.height() - 1), QColor(200, 200, 200));
}

TEST_F(VideoControls, PageLinkAsksForItsPageOnlyOnceEnabled) {
    struct Case {
        const char* label;
        bool enabled;
        std::vector<int> pagesAsked;
    };
    const std::vector<Case> cases = {
        {"3", true, {3}}, {"3", false, {}}, {"12", true, {12}}, {"2x", true, {2}}};
    for (const Case& c : cases) {
        PageLinkLabel link(QString::fromLatin1(c.label));
        link.resize(30, 40);
        link.enable(c.enabled);
        QSignalSpy asked(&link, &PageLinkLabel::gotoPage);
        QTest::mouseClick(&link, Qt::LeftButton);
        std::vector<int> pages;
        for (const QList<QVariant>& arguments : asked) {
            pages.push_back(arguments.at(0).toInt());
        }
        EXPECT_EQ(pages, c.pagesAsked) << c.label << " enabled " << c.enabled;
        EXPECT_TRUE(link.font().underline());
    }
}

TEST_F(VideoControls, PageLinkFollowsThePointerInAndOut) {
    PageLinkLabel link(QStringLiteral("2"));
    link.resize(30, 40);
    EXPECT_FALSE(link.hovering());
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(&link, &enter);
    EXPECT_TRUE(link.hovering());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&link, &leave);
    EXPECT_FALSE(link.hovering());
}

TEST_F(VideoControls, PageLinkShowsItsColour) {
    PageLinkLabel link(QStringLiteral("1"));
    link.resize(30, 40);
    link.setColour(kCurrentPageColour);
    EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(link.palette().color(QPalette::Window), QColor(Qt::white));
    link.setColour(kOtherPageColour);
    EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(0, 0, 255));
}

TEST_F(VideoControls, PressButtonReportsPressThenReleaseBeforeItsOwnHandling) {
    PressButton up(1042, QStringLiteral("Up"));
    up.resize(60, 30);
    struct Report {
        int controlId;
        PressButton::Kind kind;
        bool downWhenReported;
    };
    std::vector<Report> reports;
    up.registerCallback([&](int controlId, PressButton* button, PressButton::Kind kind) {
        reports.push_back({controlId, kind, button->isDown()});
    });
    QTest::mousePress(&up, Qt::LeftButton);
    EXPECT_TRUE(up.isDown()) << "drawn pressed after the report";
    QTest::mouseRelease(&up, Qt::LeftButton);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].controlId, 1042);
    EXPECT_EQ(reports[0].kind, PressButton::Kind::Pressed);
    EXPECT_FALSE(reports[0].downWhenReported);
    EXPECT_EQ(reports[1].kind, PressButton::Kind::Released);
    EXPECT_TRUE(reports[1].downWhenReported);
    EXPECT_FALSE(up.isDown());
}

TEST_F(VideoControls, PressButtonSwallowsAFailingCallbackAndStillWorks) {
    PressButton left(1040, QStringLiteral("Left"));
    left.resize(60, 30);
    int calls = 0;
    left.registerCallback([&](int, PressButton*, PressButton::Kind) {
        ++calls;
        throw std::runtime_error("no connection");
    });
    QSignalSpy clicked(&left, &QPushButton::clicked);
    QTest::mouseClick(&left, Qt::LeftButton);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(clicked.count(), 1);
}

}  // namespace
}  // namespace krt
