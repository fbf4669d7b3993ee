// The live view's tours and the view kept for the next start.
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QStackedWidget>
#include <QToolButton>

#include "common/ui/qt_text.h"
#include "layouts/ui/layout_grid.h"
#include "layouts/ui/layout_window.h"
#include "layouts/ui/tour_dialog.h"
#include "tile/ui/video_window_container.h"
#include "video/ui/live_view.h"
#include "video/ui/video_page.h"

namespace krt {
namespace {

using std::chrono::duration_cast;
using std::chrono::seconds;
using Clock = TourClock::Clock;

}  // namespace

void LiveView::fillTourMenu() {
    QMenu* menu = m_tourButton->menu();
    menu->clear();
    for (const Tour& tour : m_book.tours()) {
        menu->addAction(QStringLiteral("Start \"%1\"").arg(qtServerText(tour.name)), this,
                        [this, name = tour.name] { startTour(name); });
    }
    if (m_tour) {
        menu->addAction(QStringLiteral("Stop tour"), this, &LiveView::stopTour);
        menu->addAction(QStringLiteral("Pause or go on (P)"), this, &LiveView::toggleTourHold);
    }
    menu->addSeparator();
    menu->addAction(QStringLiteral("New tour..."), this, [this] { askTour(nullptr); });
    for (const Tour& tour : m_book.tours()) {
        menu->addAction(QStringLiteral("Change \"%1\"...").arg(qtServerText(tour.name)), this,
                        [this, name = tour.name] { askTour(m_book.findTour(name)); });
    }
    for (const Tour& tour : m_book.tours()) {
        menu->addAction(QStringLiteral("Delete \"%1\"").arg(qtServerText(tour.name)), this,
                        [this, name = tour.name] {
                            m_book.removeTour(name);
                            saveBook();
                        });
    }
}

void LiveView::askTour(const Tour* existing) {
    Tour start;
    if (existing != nullptr) {
        start = *existing;
    } else {
        start.name = "Tour " + std::to_string(m_book.tours().size() + 1);
        for (const Layout& layout : m_book.layouts()) {
            start.layouts.push_back(layout.name);
        }
    }
    TourDialog dialog(m_book, start, this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    if (existing != nullptr && dialog.tour().name != existing->name) {
        m_book.removeTour(start.name);
    }
    if (const auto error = putTour(dialog.tour())) {
        QMessageBox::warning(this, QStringLiteral("Tour"), qtText(*error));
    }
}

std::optional<std::string> LiveView::putTour(const Tour& tour) {
    if (auto error = m_book.putTour(tour)) {
        return error;
    }
    saveBook();
    return std::nullopt;
}

bool LiveView::startTour(std::string_view name) {
    const Tour* tour = m_book.findTour(name);
    if (tour == nullptr || tourStops(*tour, m_book, allCamerasPages()).empty()) {
        return false;
    }
    m_tour.emplace(RunningTour{*tour, TourClock(Clock::now(), kTourIdle), std::nullopt});
    m_tourTimer.start();
    tourTick();
    return true;
}

void LiveView::stopTour() {
    m_tour.reset();
    m_tourTimer.stop();
    refreshTourMark();
}

void LiveView::toggleTourHold() {
    if (m_tour) {
        m_tour->clock.toggleHold(Clock::now());
        tourTick();
    }
}

void LiveView::noteAlarm(const CameraRef& camera) {
    if (!m_tour || m_tour->tour.alarmShow_s <= 0 ||
        m_tour->clock.phase(Clock::now()) == TourClock::Phase::Held) {
        return;
    }
    const AppState* server = m_app.server(camera.server);
    const int index = server != nullptr ? findChannelIndex(server->m_channels, camera.channel) : -1;
    if (index < 0) {
        return;
    }
    m_tour->clock.interruptForAlarm(Clock::now(), seconds(m_tour->tour.alarmShow_s));
    m_tour->shown.reset();
    showCameraAlone(*server, index);
    refreshTourMark();
}

void LiveView::tourTick() {
    if (!m_tour) {
        return;
    }
    const auto now = Clock::now();
    if (m_tour->clock.phase(now) != TourClock::Phase::Running) {
        // Whatever the user or the alarm put up stays; the tour's stop comes back after.
        m_tour->shown.reset();
        refreshTourMark();
        return;
    }
    const std::vector<TourStop> stops = tourStops(m_tour->tour, m_book, allCamerasPages());
    if (stops.empty()) {
        stopTour();
        return;
    }
    const TourPosition position =
        tourPositionAt(stops.size(), seconds(m_tour->tour.dwell_s), m_tour->clock.running(now));
    const TourStop& stop = stops[position.stop];
    if (!m_tour->shown || *m_tour->shown != stop) {
        m_tour->shown = stop;
        showTourStop(stop);
    }
    refreshTourMark();
}

void LiveView::showTourStop(const TourStop& stop) {
    if (stop.layout == kAllCamerasLayout) {
        showAllCameras(stop.page);
    } else {
        showLayout(stop.layout);
    }
}

void LiveView::refreshTourMark() {
    if (!m_tour) {
        m_tourMark->hide();
        return;
    }
    const auto now = Clock::now();
    QString state;
    switch (m_tour->clock.phase(now)) {
        case TourClock::Phase::Running: {
            const std::size_t stops = tourStops(m_tour->tour, m_book, allCamerasPages()).size();
            const TourPosition position =
                tourPositionAt(stops, seconds(m_tour->tour.dwell_s), m_tour->clock.running(now));
            state = QStringLiteral("%1/%2, next in %3 s")
                        .arg(position.stop + 1)
                        .arg(stops)
                        .arg((position.untilNext.count() + 999) / 1000);
            break;
        }
        case TourClock::Phase::UserPause:
            state = QStringLiteral("paused while you work");
            break;
        case TourClock::Phase::AlarmPause:
            state = QStringLiteral("alarm shown");
            break;
        case TourClock::Phase::Held:
            state = QStringLiteral("paused (P goes on)");
            break;
    }
    m_tourMark->setText(
        QStringLiteral("\u21bb Tour \"%1\": %2").arg(qtServerText(m_tour->tour.name), state));
    m_tourMark->show();
    placeOverlay();
}

bool LiveView::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (m_tour &&
        (type == QEvent::KeyPress || type == QEvent::MouseButtonPress || type == QEvent::Wheel)) {
        const auto* widget = qobject_cast<QWidget*>(watched);
        const bool ours = widget != nullptr && (isAncestorOf(widget) || widget == this);
        const bool holdKey =
            type == QEvent::KeyPress && (static_cast<QKeyEvent*>(event)->key() == Qt::Key_P ||
                                         static_cast<QKeyEvent*>(event)->key() == Qt::Key_Pause);
        if (ours && !holdKey && m_tour->clock.phase(Clock::now()) != TourClock::Phase::Held) {
            m_tour->clock.noteUserActivity(Clock::now());
        }
    }
    return QWidget::eventFilter(watched, event);
}

WindowView LiveView::view() const {
    WindowView view;
    view.layout = m_returnLayout.value_or(m_current);
    view.page = m_videoPage->singleView() ? 0 : m_videoPage->pageIndex;
    if (m_stack->currentWidget() == m_videoPage && m_videoPage->singleView()) {
        view.channelId = m_videoPage->tiles()[0]->getChannelId();
        view.server = m_videoPage->server().m_serverName;
    }
    view.fullScreen = m_videoPage->fullScreen();
    return view;
}

void LiveView::restoreView(const WindowView& view) {
    if (view.layout == kAllCamerasLayout || !showLayout(view.layout)) {
        showAllCameras(std::max(view.page, 0));
    }
    // A camera of a server that has not logged in yet stays in the grid.
    if (const AppState* server = m_app.server(view.server); server && !view.channelId.empty()) {
        const int index = findChannelIndex(server->m_channels, view.channelId);
        if (index >= 0) {
            showCameraAlone(*server, index);
        }
    }
    if (view.fullScreen) {
        setFullScreen(true);
    }
}

std::vector<WindowView> LiveView::extraWindowViews() const {
    std::vector<WindowView> views;
    for (const QPointer<LayoutWindow>& window : m_windows) {
        if (window && window->isVisible()) {
            WindowView view;
            view.layout = window->grid()->layoutName();
            view.fullScreen = window->fullScreen();
            view.geometry = window->saveGeometry().toBase64().toStdString();
            views.push_back(view);
        }
    }
    return views;
}

void LiveView::restoreExtraWindows(const std::vector<WindowView>& views) {
    for (const WindowView& view : views) {
        LayoutWindow* window = openInNewWindow(view.layout);
        window->restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(view.geometry)));
        if (view.fullScreen) {
            window->setFullScreen(true);
        }
    }
}

}  // namespace krt
