#include "app/ui/alarm_monitor_window.h"

#include <QApplication>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "common/server_text.h"
#include "common/ui/qt_text.h"
#include "layouts/ui/layout_grid.h"
#include "tile/ui/video_window_container.h"

namespace krt {
namespace {

constexpr int kClock_ms = 1000;
constexpr const char* kWaiting = "Waiting for alarms";
constexpr int kPulseStep_ms = 250;
constexpr std::chrono::seconds kPulse{3};
const QString kFrame = QStringLiteral("QLabel { border: 4px solid #e01010; }");
const QString kLitFrame = QStringLiteral("QLabel { border: 6px solid #ffd000; }");

// "Door Open - Site B 2 - 09-Dec-2026::10:42:03": the alarm, its camera and its time.
std::string captionOf(const MonitorCell& cell) {
    const AlarmEvent& alarm = cell.alarm;
    std::string camera = alarm.site.empty() ? alarm.channelId : alarm.site + " " + alarm.channelId;
    std::string caption = shownServerText(alarm.alarmName) + " - " + shownServerText(camera) +
                          " - " + shownServerText(alarm.timeText);
    if (cell.repeats > 0) {
        caption += " (\u00d7" + std::to_string(cell.repeats + 1) + ")";
    }
    return caption + (cell.pinned ? "  [pinned]" : "");
}

}  // namespace

AlarmMonitorWindow::AlarmMonitorWindow(const AppState& app, QWidget* owner)
    : LayoutWindow(app, owner), m_state(emptyMonitor(kCells)), m_more(new QPushButton(this)) {
    setWindowTitle(QStringLiteral("Alarm monitor - KRT"));
    for (int k = 0; k < kCells; ++k) {
        auto* frame = new QLabel(this);
        frame->setAttribute(Qt::WA_TransparentForMouseEvents);
        frame->setStyleSheet(kFrame);
        m_frames.push_back(frame);
        auto* caption = new QLabel(this);
        caption->setTextFormat(Qt::PlainText);
        caption->setAttribute(Qt::WA_TransparentForMouseEvents);
        caption->setWordWrap(true);
        m_captions.push_back(caption);
    }
    m_more->setStyleSheet(
        QStringLiteral("QPushButton { color: white; background: #b00000; padding: 4px; }"));
    m_more->setFocusPolicy(Qt::NoFocus);
    m_more->hide();
    connect(m_more, &QPushButton::clicked, this, &AlarmMonitorWindow::showMoreAlarms);
    m_gather.setSingleShot(true);
    m_gather.setInterval(kGather_ms);
    connect(&m_gather, &QTimer::timeout, this, [this] {
        const std::vector<AlarmEvent> alarms = std::exchange(m_incoming, {});
        step(alarms);
    });
    m_pulseUntil.resize(kCells);
    m_pulseTimer.setInterval(kPulseStep_ms);
    connect(&m_pulseTimer, &QTimer::timeout, this, &AlarmMonitorWindow::pulseTick);
    m_clock.setInterval(kClock_ms);
    connect(&m_clock, &QTimer::timeout, this, [this] { step({}); });
    m_clock.start();
    // The operator's keys, clicks and wheel anywhere in the window tell that they work in it.
    qApp->installEventFilter(this);
    showCells();
}

AlarmMonitorWindow::~AlarmMonitorWindow() {
    qApp->removeEventFilter(this);
}

void AlarmMonitorWindow::noteAlarm(const AlarmEvent& event) {
    m_incoming.push_back(event);
    if (!m_gather.isActive()) {
        m_gather.start();
    }
}

void AlarmMonitorWindow::step(std::span<const AlarmEvent> alarms,
                              std::span<const OperatorAction> actions) {
    MonitorStep next = nextMonitorState(
        m_state,
        {.alarms = alarms, .actions = actions, .lastOperatorUse = m_lastUse, .touring = false},
        m_rules, MonitorClock::now());
    const bool changed = next.state != m_state;
    m_state = std::move(next.state);
    for (const MonitorEvent& event : next.events) {
        if (const auto* waiting = std::get_if<monitor_event::PulseCamera>(&event)) {
            pulse(waiting->camera);
        }
        if (const auto* more = std::get_if<monitor_event::MoreAlarms>(&event)) {
            m_unshown = more->alarms;
            m_more->setText(QStringLiteral("+%1 more").arg(m_unshown.size()));
            m_more->adjustSize();
            m_more->setVisible(!m_unshown.empty());
            placeCaptions();
        }
    }
    if (changed) {
        showCells();
    }
}

void AlarmMonitorWindow::showCells() {
    Layout cells{"Alarm monitor", "2x2", {}};
    for (const std::optional<MonitorCell>& cell : m_state.cells) {
        cells.cells.push_back(cell ? cell->camera() : CameraRef{});
    }
    showLayout(cells);
    setWindowTitle(QStringLiteral("Alarm monitor - KRT"));
    for (std::size_t k = 0; k < m_captions.size(); ++k) {
        const std::optional<MonitorCell>& cell = m_state.cells[k];
        m_captions[k]->setText(cell ? qtText(captionOf(*cell)) : QString::fromUtf8(kWaiting));
        m_captions[k]->setStyleSheet(
            cell ? QStringLiteral("QLabel { color: white; background: #b00000; padding: 2px; }")
                 : QStringLiteral("QLabel { color: #c0c0c0; background: #202020; padding: 2px; }"));
        m_frames[k]->setVisible(cell.has_value());
    }
    placeCaptions();
}

void AlarmMonitorWindow::showMoreAlarms() {
    if (m_unshown.empty()) {
        return;
    }
    const auto [first, last] = std::ranges::minmax(m_unshown, {}, &AlarmEvent::receivedTime);
    const auto shown = [](WallClock::time_point time) {
        return QDateTime::fromMSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count());
    };
    emit moreAlarmsAsked(shown(first.receivedTime), shown(last.receivedTime));
    const OperatorAction seen{OperatorAction::Kind::clearMore, 0};
    step({}, std::span(&seen, 1));
    m_unshown.clear();
    m_more->hide();
}

void AlarmMonitorWindow::pulse(const CameraRef& camera) {
    for (std::size_t k = 0; k < m_state.cells.size(); ++k) {
        const std::optional<MonitorCell>& cell = m_state.cells[k];
        if (cell && cell->camera().channel == camera.channel &&
            sameServerName(cell->camera().server, camera.server)) {
            m_pulseUntil[k] = MonitorClock::now() + kPulse;
        }
    }
    if (!m_pulseTimer.isActive()) {
        m_pulseTimer.start();
    }
}

void AlarmMonitorWindow::pulseTick() {
    m_pulseLit = !m_pulseLit;
    bool any = false;
    for (std::size_t k = 0; k < m_frames.size(); ++k) {
        const bool pulsing = isPulsing(static_cast<int>(k));
        any = any || pulsing;
        m_frames[k]->setStyleSheet(pulsing && m_pulseLit ? kLitFrame : kFrame);
    }
    if (!any) {
        m_pulseTimer.stop();
    }
}

bool AlarmMonitorWindow::isPulsing(int cell) const {
    return m_pulseUntil.at(static_cast<std::size_t>(cell)) > MonitorClock::now();
}

void AlarmMonitorWindow::setHold(std::chrono::seconds hold) {
    m_rules = {
        MonitorRule{.camera = {}, .alarmName = {}, .cell = MonitorRule::Cell::taken, .hold = hold}};
}

QString AlarmMonitorWindow::cellCaption(int cell) const {
    return m_captions.at(static_cast<std::size_t>(cell))->text();
}

void AlarmMonitorWindow::resizeEvent(QResizeEvent* event) {
    LayoutWindow::resizeEvent(event);
    placeCaptions();
}

void AlarmMonitorWindow::placeCaptions() {
    const std::vector<VideoWindowContainer*>& tiles = grid()->tiles();
    for (std::size_t k = 0; k < m_captions.size() && k < tiles.size(); ++k) {
        const QRect tile(grid()->mapTo(this, tiles[k]->geometry().topLeft()), tiles[k]->size());
        m_frames[k]->setGeometry(tile);
        QLabel* caption = m_captions[k];
        if (m_state.cells[k]) {
            // Over the top of the picture, under the tile's title bar.
            caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            caption->setMinimumSize(tile.width(), 0);
            caption->setMaximumSize(tile.width(), tile.height());
            caption->adjustSize();
            caption->move(tile.left(), tile.top() + tile.height() / 8);
        } else {
            // An empty cell is dark and says what it waits for.
            caption->setAlignment(Qt::AlignCenter);
            caption->setMinimumSize(tile.size());
            caption->setMaximumSize(tile.size());
            caption->setGeometry(tile);
        }
        m_frames[k]->raise();
        m_captions[k]->raise();
    }
    m_more->move(width() - m_more->width() - 8, 8);
    m_more->raise();
}

bool AlarmMonitorWindow::eventFilter(QObject* watched, QEvent* event) {
    const auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window() != this) {
        return false;
    }
    switch (event->type()) {
        case QEvent::KeyPress:
            m_lastUse = MonitorClock::now();
            return actOnFocusedCell(static_cast<QKeyEvent*>(event)->key());
        case QEvent::MouseButtonPress:
        case QEvent::Wheel:
            m_lastUse = MonitorClock::now();
            return false;
        default:
            return false;
    }
}

bool AlarmMonitorWindow::actOnFocusedCell(int key) {
    const int cell = grid()->focusedCell();
    if (cell < 0 || cell >= static_cast<int>(m_state.cells.size()) ||
        !m_state.cells[static_cast<std::size_t>(cell)]) {
        return false;
    }
    std::optional<OperatorAction::Kind> kind;
    if (key == Qt::Key_Escape) {
        kind = OperatorAction::Kind::dismiss;
    } else if (key == Qt::Key_P) {
        kind = m_state.cells[static_cast<std::size_t>(cell)]->pinned ? OperatorAction::Kind::unpin
                                                                     : OperatorAction::Kind::pin;
    }
    if (!kind) {
        return false;
    }
    const OperatorAction action{*kind, cell};
    step({}, std::span(&action, 1));
    return true;
}

}  // namespace krt
