#include "alarms/ui/event_alert_dialog.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "common/ui/ui_test_support.h"

namespace krt {
namespace {

using AlertDialog = test::UiTest;

TEST_F(AlertDialog, IsAHiddenChildOfTheSheetWithItsTemplateTexts) {
    QWidget sheet;
    const EventAlertDialog alert(&sheet);
    EXPECT_FALSE(alert.isWindow());
    EXPECT_EQ(alert.parentWidget(), &sheet);
    EXPECT_FALSE(alert.isVisibleTo(&sheet));
    EXPECT_EQ(alert.captionLabel()->text(), "Event Alert");
    QStringList texts;
    for (const QLabel* label : alert.clientArea()->findChildren<QLabel*>()) {
        texts << label->text();
    }
    // The last is the late note, empty and hidden until an alarm comes late.
    EXPECT_EQ(texts,
              (QStringList{"Type : ", "Source : ", "Time :", "Static", "Static", "Static", ""}));
    EXPECT_TRUE(alert.lateNote()->isHidden());
}

TEST_F(AlertDialog, ControlsGoInRowsFiveApartWithTheButtonsCentredUnder) {
    QWidget sheet;
    sheet.resize(700, 600);
    EventAlertDialog alert(&sheet);
    alert.setTexts("Motion", "3", "25-Nov-2013::10:30:00");
    sheet.show();
    alert.show();
    for (const QSize size : {QSize(220, 240), QSize(188, 148), QSize(530, 490)}) {
        alert.resize(size);
        const QWidget* client = alert.clientArea();
        EXPECT_EQ(client->width(), size.width());
        EXPECT_EQ(client->geometry().bottom(), size.height() - 1);

        const auto labels = client->findChildren<QLabel*>();
        ASSERT_EQ(labels.size(), 7);
        const QLabel* type = labels[0];
        const QLabel* source = labels[1];
        const QLabel* time = labels[2];
        EXPECT_EQ(type->pos(), QPoint(10, 20));
        EXPECT_EQ(source->pos(), QPoint(10, type->height() + 25));
        EXPECT_EQ(time->pos(), QPoint(10, type->height() + source->height() + 30));
        const int valueColumn = time->width() + 12;
        EXPECT_EQ(alert.typeText()->pos(), QPoint(valueColumn, 20));
        EXPECT_EQ(alert.sourceText()->pos(), QPoint(valueColumn, alert.typeText()->height() + 25));
        EXPECT_EQ(alert.timeText()->y(),
                  alert.typeText()->height() + alert.sourceText()->height() + 30);

        const QRect showVideo = alert.showVideoButton()->geometry();
        const QRect close = alert.closeButton()->geometry();
        EXPECT_EQ(showVideo.top(), alert.timeText()->geometry().bottom() + 1 + 20);
        EXPECT_EQ(close.top(), showVideo.top());
        EXPECT_EQ(close.size(), showVideo.size());
        EXPECT_EQ(close.left() - showVideo.right() - 1, 10);
        // Centred: as much room left of "Show Video" as right of "Close", give or take the
        // truncated half pixel.
        EXPECT_LE(std::abs(showVideo.left() - (size.width() - 1 - close.right())), 1);
    }
}

TEST_F(AlertDialog, TheClientAreaIsLightRedWithABlackOutlineInsetByTwo) {
    QWidget sheet;
    EventAlertDialog alert(&sheet);
    alert.resize(220, 240);
    sheet.show();
    alert.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    const QImage image = alert.clientArea()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const int right = image.width() - 1;
    const int bottom = image.height() - 1;
    for (const QPoint outline : {QPoint(2, 2), QPoint(right - 2, bottom - 2), QPoint(100, 2),
                                 QPoint(2, 100), QPoint(right - 2, 50), QPoint(60, bottom - 2)}) {
        EXPECT_EQ(image.pixel(outline), qRgb(0, 0, 0)) << outline.x() << "," << outline.y();
    }
    for (const QPoint inside : {QPoint(3, 3), QPoint(right - 3, bottom - 3), QPoint(150, 12)}) {
        EXPECT_EQ(image.pixel(inside), qRgb(255, 128, 128)) << inside.x() << "," << inside.y();
    }
}

TEST_F(AlertDialog, ShowVideoAsksForTheSourceAndCloseOrEscapeOnlyHide) {
    struct Case {
        const char* how;
        std::function<void(EventAlertDialog&)> act;
        bool asksForVideo;
    };
    const Case cases[] = {
        {"Show Video", [](EventAlertDialog& a) { a.showVideoButton()->click(); }, true},
        {"Enter", [](EventAlertDialog& a) { QTest::keyClick(&a, Qt::Key_Return); }, true},
        {"Close", [](EventAlertDialog& a) { a.closeButton()->click(); }, false},
        {"Escape", [](EventAlertDialog& a) { QTest::keyClick(&a, Qt::Key_Escape); }, false},
    };
    for (const Case& c : cases) {
        QWidget sheet;
        EventAlertDialog alert(&sheet);
        alert.setTexts("Motion", "Lobby", "25-Nov-2013::10:30:00");
        QSignalSpy asked(&alert, &EventAlertDialog::showVideoRequested);
        sheet.show();
        alert.show();
        c.act(alert);
        EXPECT_FALSE(alert.isVisible()) << c.how;
        ASSERT_EQ(asked.count(), c.asksForVideo ? 1 : 0) << c.how;
        if (c.asksForVideo) {
            // The first server's camera: no server name.
            EXPECT_EQ(asked.front(), (QList<QVariant>{QString(), QStringLiteral("Lobby")}));
        }
        alert.show();
        EXPECT_TRUE(alert.isVisible()) << c.how << ": the window stays for the next alert";
    }
}

}  // namespace
}  // namespace krt
