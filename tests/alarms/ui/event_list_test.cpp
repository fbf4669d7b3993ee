#include "alarms/ui/event_list.h"

#include <QFile>
#include <QImage>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "alarms/ui/snapshot_store.h"
#include "common/ui/ui_test_support.h"

namespace krt {
namespace {

constexpr QRgb kTopColour = qRgb(220, 30, 30);
constexpr QRgb kBottomColour = qRgb(30, 30, 220);

class EventListView : public test::UiTest {
  protected:
    // A 640 × 480 JPEG snapshot: red above, blue below.
    std::filesystem::path writeSnapshot(const std::string& name, QSize size = {640, 480}) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(kBottomColour);
        for (int y = 0; y < size.height() / 2; ++y) {
            for (int x = 0; x < size.width(); ++x) {
                image.setPixel(x, y, kTopColour);
            }
        }
        const std::filesystem::path path = m_folder.path() / (name + ".jpg");
        EXPECT_TRUE(image.save(QString::fromStdString(path.string()), "JPEG", 95));
        return path;
    }

    EventRing ringOf(const std::vector<std::filesystem::path>& snapshots) {
        EventRing ring;
        int number = 0;
        for (const auto& path : snapshots) {
            ++number;
            ring.add({"Motion" + std::to_string(number), std::to_string(number),
                      "25-Nov-2013::10:30:00", path});
        }
        return ring;
    }

    // A shown list of the given size painting that ring, its snapshots decoded as they come.
    void showList(EventList& list, const EventRing& ring, QSize size = {300, 320}) {
        for (const AlarmEvent& event : ring.events()) {
            QFile file(QString::fromStdString(event.imagePath.string()));
            const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
            m_snapshots.put(
                event.imagePath,
                keptSnapshot(std::span(bytes.constData(), static_cast<std::size_t>(bytes.size()))));
        }
        list.attachSnapshots(&m_snapshots);
        list.attachRing([ring] { return ring; });
        list.resize(size);
        list.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    }

    static QImage painted(EventList& list) {
        return list.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    SnapshotStore m_snapshots;
};

bool near(QRgb pixel, QRgb expected) {
    const int tolerance = 40;
    return std::abs(qRed(pixel) - qRed(expected)) < tolerance &&
           std::abs(qGreen(pixel) - qGreen(expected)) < tolerance &&
           std::abs(qBlue(pixel) - qBlue(expected)) < tolerance;
}

// Whether any pixel of the rectangle differs from the colour.
bool drawnOn(const QImage& image, QRect area, QRgb background) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixel(x, y) != background) {
                return true;
            }
        }
    }
    return false;
}

TEST_F(EventListView, SnapshotsAreDrawnMirrored44HighBesideTheirTexts) {
    const auto first = writeSnapshot("first");
    const auto missing = m_folder.path() / "missing.jpg";
    const auto third = writeSnapshot("third", {352, 288});
    EventList list;
    showList(list, ringOf({first, missing, third}));
    const QImage image = painted(list);
    const QRgb background = list.palette().color(QPalette::Base).rgb();

    struct Row {
        int top;
        int drawnWidth;  // 0: no snapshot
    };
    // Newest first: the 352 × 288 one, the missing one, the 640 × 480 one.
    for (const Row& row : {Row{20, 53}, Row{70, 0}, Row{120, 58}}) {
        if (row.drawnWidth == 0) {
            EXPECT_FALSE(drawnOn(image, QRect(3, row.top + 1, 60, 42), background)) << row.top;
        } else {
            // Read from the last row upwards: the lower half of the picture is on top.
            EXPECT_TRUE(near(image.pixel(3 + row.drawnWidth / 2, row.top + 5), kBottomColour));
            EXPECT_TRUE(near(image.pixel(3 + row.drawnWidth / 2, row.top + 38), kTopColour));
            EXPECT_TRUE(near(image.pixel(3 + row.drawnWidth - 1, row.top + 20), kBottomColour));
            EXPECT_EQ(image.pixel(3 + row.drawnWidth, row.top + 20), background) << row.top;
            EXPECT_EQ(image.pixel(3 + row.drawnWidth / 2, row.top + 44), background) << row.top;
        }
        // Every row has its three lines of text right of the column separator.
        EXPECT_TRUE(drawnOn(image, QRect(103, row.top, 150, 44), background)) << row.top;
    }
    // Nothing is drawn below the last row but the separators.
    EXPECT_FALSE(drawnOn(image, QRect(103, 172, 150, 40), background));
}

TEST_F(EventListView, AnEmptyListDrawsTheGreyHeaderAndTheSeparators) {
    EventList list;
    showList(list, EventRing{});
    const QImage image = painted(list);
    const QRgb background = list.palette().color(QPalette::Base).rgb();
    const QRgb grid = list.palette().color(QPalette::Button).rgb();
    const int width = list.viewport()->width();

    EXPECT_EQ(image.pixel(width - 3, 18), qRgb(200, 200, 200)) << "header band";
    EXPECT_TRUE(drawnOn(image, QRect(5, 2, 40, 14), qRgb(200, 200, 200))) << "Snapshot";
    EXPECT_TRUE(drawnOn(image, QRect(width / 3 + 3, 2, 60, 14), qRgb(200, 200, 200)));
    EXPECT_EQ(image.pixel(width / 3, 100), grid) << "column separator";
    EXPECT_EQ(image.pixel(width / 2, 70), grid) << "row separator";
    EXPECT_EQ(image.pixel(width / 2, 120), grid);
    EXPECT_EQ(image.pixel(width / 2, 95), background);
    EXPECT_FALSE(drawnOn(image, QRect(3, 21, width / 3 - 4, 48), background)) << "no rows";
}

TEST_F(EventListView, TheScrollBarFollowsTheListsRulesAndTheRowsStayPut) {
    std::vector<std::filesystem::path> four(4, m_folder.path() / "none.jpg");
    EventList list;
    showList(list, ringOf(four), {300, 200});
    QScrollBar* bar = list.verticalScrollBar();
    EXPECT_EQ(list.scrollHeight(), 720);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 649);
    EXPECT_EQ(bar->pageStep(), 72);
    const EventListPicture before = list.picture();

    struct Step {
        int from;
        QAbstractSlider::SliderAction action;
        int expected;
    };
    const int clientHeight = list.viewport()->height();
    for (const Step& step : {Step{0, QAbstractSlider::SliderSingleStepAdd, 100},
                             Step{600, QAbstractSlider::SliderSingleStepAdd, 649},
                             Step{50, QAbstractSlider::SliderPageStepSub, 0},
                             Step{clientHeight + 7, QAbstractSlider::SliderPageStepSub, 7},
                             Step{150, QAbstractSlider::SliderSingleStepSub, 50},
                             Step{10, QAbstractSlider::SliderPageStepAdd, 10 + clientHeight},
                             Step{300, QAbstractSlider::SliderToMinimum, 0},
                             Step{3, QAbstractSlider::SliderToMaximum, 649}}) {
        bar->setValue(step.from);
        bar->triggerAction(step.action);
        EXPECT_EQ(bar->value(), step.expected) << step.action << " from " << step.from;
    }
    const EventListPicture after = list.picture();
    ASSERT_EQ(after.rows.size(), before.rows.size());
    for (std::size_t k = 0; k < after.rows.size(); ++k) {
        EXPECT_EQ(after.rows[k].snapshotOrigin, before.rows[k].snapshotOrigin);
    }
}

TEST_F(EventListView, WithoutEventsTheScrollBarIsLeftAlone) {
    EventList list;
    showList(list, EventRing{});
    EXPECT_EQ(list.scrollHeight(), 0);
    EXPECT_EQ(list.verticalScrollBar()->maximum(), 0);
    EXPECT_FALSE(list.verticalScrollBar()->isVisible());
}

TEST_F(EventListView, EventsInQuickSuccessionRepaintOnce1500msAfterTheFirst) {
    EventList list;
    showList(list, EventRing{});
    int paints = 0;
    struct PaintCounter : QObject {
        int* count;
        explicit PaintCounter(int* counter) : count(counter) {}
        bool eventFilter(QObject*, QEvent* event) override {
            *count += event->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } counter(&paints);
    list.viewport()->installEventFilter(&counter);
    QSignalSpy fired(list.refreshTimer(), &QTimer::timeout);

    list.armRefreshTimer();
    const int firstWait = list.refreshTimer()->timerId();
    QTest::qWait(0);
    list.armRefreshTimer();
    list.armRefreshTimer();
    EXPECT_EQ(list.refreshTimer()->timerId(), firstWait) << "later events do not postpone it";
    EXPECT_EQ(list.refreshTimer()->interval(), 1500);
    EXPECT_TRUE(list.refreshTimer()->isActive());
    EXPECT_GT(list.refreshTimer()->remainingTime(), 1000);
    paints = 0;
    ASSERT_TRUE(fired.wait(5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return paints > 0; }, 5000));
    EXPECT_EQ(fired.count(), 1);
    EXPECT_FALSE(list.refreshTimer()->isActive());
}

TEST_F(EventListView, AClosedListPaintsNothing) {
    const auto snapshot = writeSnapshot("closed");
    EventList list;
    showList(list, ringOf({snapshot}));
    const QRgb background = list.palette().color(QPalette::Base).rgb();
    EXPECT_TRUE(drawnOn(painted(list), QRect(3, 21, 60, 42), background));
    list.close();
    EXPECT_FALSE(drawnOn(painted(list), QRect(0, 0, 200, 100), background));
}

}  // namespace
}  // namespace krt
