// A hostile server's texts in the two views of an alarm: the alert and the Alarms list show
// the same characters, as plain text, with the invisible and reordering ones written out.
#include <gmock/gmock.h>
#include <QLabel>
#include <QPaintEngine>
#include <QTest>
#include <QTextDocument>

#include "alarms/ui/event_alert_dialog.h"
#include "alarms/ui/event_list.h"
#include "common/ui/ui_test_support.h"

namespace krt {
namespace {

using ::testing::Contains;

// A paint device that keeps the texts painted on it, as they reach the paint engine.
class PaintedTexts : public QPaintDevice {
  public:
    explicit PaintedTexts(QSize size) : m_size(size) {}
    ~PaintedTexts() override = default;
    PaintedTexts(const PaintedTexts&) = delete;
    PaintedTexts& operator=(const PaintedTexts&) = delete;

    QPaintEngine* paintEngine() const override { return &m_engine; }
    const QStringList& texts() const { return m_engine.texts; }

  protected:
    int metric(PaintDeviceMetric metric) const override {
        switch (metric) {
            case PdmWidth:
                return m_size.width();
            case PdmHeight:
                return m_size.height();
            case PdmDepth:
                return 32;
            case PdmDpiX:
            case PdmDpiY:
            case PdmPhysicalDpiX:
            case PdmPhysicalDpiY:
                return 96;
            case PdmDevicePixelRatio:
                return 1;
            case PdmDevicePixelRatioScaled:
                return static_cast<int>(devicePixelRatioFScale());
            default:
                return QPaintDevice::metric(metric);
        }
    }

  private:
    class Engine : public QPaintEngine {
      public:
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override {}
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        // Lines and rectangles end here; the default ones of each kind call each other.
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
        void drawTextItem(const QPointF&, const QTextItem& item) override { texts << item.text(); }
        Type type() const override { return User; }

        QStringList texts;
    };

    QSize m_size;
    mutable Engine m_engine;
};

using ServerTextViews = test::UiTest;

TEST_F(ServerTextViews, TheAlertAndTheListShowTheSameTextAsItReads) {
    const AlarmEvent event{
        "<img src=\"/home/operator/secret.png\"><b>\u202ENEPO ROOD</b> "
        "D\u200Bo\xFFr\nall clear",
        "<font size=7 color=red>7</font>\u2066",
        "25-Nov-2013::10:30:00",
        {}};
    QWidget sheet;
    EventAlertDialog alert(&sheet);
    alert.setTexts(event.alarmName, event.channelId, event.timeText);
    const QString name = alert.typeText()->text();
    const QString camera = alert.sourceText()->text();
    for (const QLabel* label : alert.findChildren<QLabel*>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
    }
    EXPECT_EQ(name, QString::fromUtf8("<img src=\"/home/operator/secret.png\"><b>⟨U+202E⟩NEPO "
                                      "ROOD</b> D⟨U+200B⟩o\uFFFDr⟨U+000A⟩all clear"));
    EXPECT_EQ(camera, QString::fromUtf8("<font size=7 color=red>7</font>⟨U+2066⟩"));
    // Tooltips take markup whenever a text looks like it: the whole text is there as it reads.
    for (const QLabel* label : {alert.typeText(), alert.sourceText()}) {
        QTextDocument toolTip;
        toolTip.setHtml(label->toolTip());
        EXPECT_EQ(toolTip.toPlainText(), label->text());
    }

    EventRing ring;
    ring.add(event);
    EventList list;
    list.attachRing([ring] { return ring; });
    list.resize(400, 200);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    PaintedTexts painted(list.size());
    list.render(&painted);
    EXPECT_THAT(painted.texts(), Contains(QStringLiteral("Type : ") + name));
    EXPECT_THAT(painted.texts(), Contains(QStringLiteral("Camera ID : ") + camera));
}

}  // namespace
}  // namespace krt
