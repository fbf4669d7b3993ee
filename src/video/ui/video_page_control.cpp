// The Videos page's keyboard, full screen, grid settings and PTZ safety.
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScrollBar>
#include <QWindow>

#include "common/ui/qt_text.h"
#include "layouts/layout_template.h"
#include "protocol/diag_log.h"
#include "tile/ui/tile_evidence.h"
#include "tile/ui/video_window.h"
#include "tile/ui/video_window_container.h"
#include "video/ui/page_link_label.h"
#include "video/ui/press_button.h"
#include "video/ui/video_page.h"

namespace krt {
namespace {

// With Ctrl, the keys that zoom the picture; plain + and - move a PTZ camera.
std::optional<VideoKey> zoomKeyOf(const QKeyEvent& event) {
    switch (event.key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            return VideoKey::ZoomIn;
        case Qt::Key_Minus:
            return VideoKey::ZoomOut;
        case Qt::Key_0:
            return VideoKey::ZoomReset;
        default:
            return std::nullopt;
    }
}

std::optional<VideoKey> videoKeyOf(const QKeyEvent& event) {
    if (event.modifiers() & Qt::ControlModifier) {
        return zoomKeyOf(event);
    }
    switch (event.key()) {
        case Qt::Key_PageUp:
            return VideoKey::PageUp;
        case Qt::Key_PageDown:
            return VideoKey::PageDown;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return VideoKey::Enter;
        case Qt::Key_Space:
            return VideoKey::Space;
        case Qt::Key_Left:
            return VideoKey::Left;
        case Qt::Key_Right:
            return VideoKey::Right;
        case Qt::Key_Up:
            return VideoKey::Up;
        case Qt::Key_Down:
            return VideoKey::Down;
        case Qt::Key_Plus:
        case Qt::Key_Equal:  // "+" without Shift on most layouts
            return VideoKey::Plus;
        case Qt::Key_Minus:
            return VideoKey::Minus;
        case Qt::Key_Home:
            return VideoKey::Home;
        case Qt::Key_Question:
        case Qt::Key_F1:
            return VideoKey::Help;
        case Qt::Key_F11:
            return VideoKey::FullScreen;
        case Qt::Key_Escape:
            return VideoKey::Escape;
        case Qt::Key_S:
            return VideoKey::Snapshot;
        case Qt::Key_R:
            return VideoKey::Record;
        default:
            return std::nullopt;
    }
}

// A tap and the double tap it starts lie this close together.
std::chrono::milliseconds doubleTapInterval() {
    return std::chrono::milliseconds(QApplication::doubleClickInterval());
}

}  // namespace

void VideoPage::keyPressEvent(QKeyEvent* event) {
    const std::optional<VideoKey> key = videoKeyOf(*event);
    const bool ptzView = m_singleView && m_ptzButtons[0]->isVisible();
    const VideoKeyOutcome outcome =
        key ? actionForKey(*key, {m_singleView, ptzView, m_fullScreen.active()})
            : VideoKeyOutcome{};
    if (outcome.action == VideoKeyAction::None) {
        // Escape outside full screen and every other key go to the window as before.
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    // A held key repeats: the move it started goes on, and nothing else is done twice. The
    // repeat may come marked as such, or as a release and a press that the filter sees
    // through.
    if (event->isAutoRepeat() && outcome.action == VideoKeyAction::PtzMove) {
        return;
    }
    if (outcome.action == VideoKeyAction::PtzMove) {
        const auto now = std::chrono::steady_clock::now();
        if (m_heldPtzKey.expire(now)) {
            releasePtz();
        }
        if (m_heldPtzKey.press(event->key(), now) == HeldKeyFilter::Press::Continues) {
            m_heldKeyTimer.stop();
            return;
        }
    }
    applyKey(outcome);
}

void VideoPage::keyReleaseEvent(QKeyEvent* event) {
    if (!event->isAutoRepeat() && m_heldPtzKey.heldKey() == event->key()) {
        event->accept();
        m_heldPtzKey.release(event->key(), std::chrono::steady_clock::now());
        m_heldKeyTimer.start(HeldKeyFilter::kDefaultGrace);
        return;
    }
    QWidget::keyReleaseEvent(event);
}

void VideoPage::endHeldPtzKey() {
    // A release that no press of its key followed within the grace was the real one (the
    // timer may fire a little early: its deadline is what counts).
    if (const auto deadline = m_heldPtzKey.deadline()) {
        if (m_heldPtzKey.expire(std::max(*deadline, std::chrono::steady_clock::now()))) {
            releasePtz();
        }
    }
}

void VideoPage::applyKey(const VideoKeyOutcome& outcome) {
    switch (outcome.action) {
        case VideoKeyAction::PreviousPage:
            stepPage(-1);
            break;
        case VideoKeyAction::NextPage:
            stepPage(1);
            break;
        case VideoKeyAction::ToggleSingleView:
            toggleSingleViewOnFocusedTile();
            break;
        case VideoKeyAction::MoveFocus:
            moveTileFocus(outcome.dx, outcome.dy);
            break;
        case VideoKeyAction::PtzMove:
            pressPtz(*outcome.ptzButton);
            break;
        case VideoKeyAction::BackToGrid:
            if (m_singleView) {
                toggleSingleView(m_tiles[0]);
            }
            break;
        case VideoKeyAction::ShowShortcuts:
            showShortcuts();
            break;
        case VideoKeyAction::ToggleFullScreen:
            setFullScreen(!m_fullScreen.active());
            break;
        case VideoKeyAction::LeaveFullScreen:
            setFullScreen(false);
            break;
        case VideoKeyAction::SaveSnapshot:
        case VideoKeyAction::ToggleRecording:
        case VideoKeyAction::ZoomIn:
        case VideoKeyAction::ZoomOut:
        case VideoKeyAction::ResetZoom:
            keyTile()->applyKeyAction(outcome.action);
            break;
        case VideoKeyAction::None:
            break;
    }
}

VideoWindowContainer* VideoPage::keyTile() const {
    return m_tiles[m_singleView ? 0 : static_cast<std::size_t>(m_focusedTile)];
}

void VideoPage::stepPage(int step) {
    if (const std::optional<int> page =
            steppedPage(pageIndex, step, pageCount(channelCount(), m_rows, m_cols))) {
        pageIndex = *page;
        relayout();
    }
}

void VideoPage::toggleSingleViewOnFocusedTile() {
    const std::size_t tile = m_singleView ? 0 : static_cast<std::size_t>(m_focusedTile);
    if (tile < m_tiles.size()) {
        toggleSingleView(m_tiles[tile]);
    }
}

void VideoPage::moveTileFocus(int dx, int dy) {
    m_focusedTile = movedTileFocus(m_focusedTile, dx, dy, m_rows, m_cols);
    showTileFocus();
}

void VideoPage::showTileFocus() {
    for (std::size_t k = 0; k < m_tiles.size(); ++k) {
        // The frame shows where the keys act: on a grid tile only.
        m_tiles[k]->setFramed(!m_singleView && static_cast<int>(k) == m_focusedTile);
    }
}

void VideoPage::showShortcuts() {
    if (m_shortcutsBox == nullptr) {
        m_shortcutsBox =
            new QMessageBox(QMessageBox::Information, QStringLiteral("Keyboard shortcuts"),
                            QString(), QMessageBox::Ok, this);
        QString rows;
        for (const QString& line : qtText(videoShortcutsText()).split('\n')) {
            const QStringList cells = line.split('\t');
            rows += QStringLiteral("<tr><td><b>%1</b></td><td>&nbsp;&nbsp;%2</td></tr>")
                        .arg(cells.value(0).toHtmlEscaped(), cells.value(1).toHtmlEscaped());
        }
        m_shortcutsBox->setTextFormat(Qt::RichText);
        m_shortcutsBox->setText(QStringLiteral("<table>%1</table>").arg(rows));
    }
    m_shortcutsBox->show();
    m_shortcutsBox->raise();
}

void VideoPage::undoTap(VideoWindowContainer* /*tile*/) {
    // The first half of a double tap was a tap that switched the view; it did not mean to.
    if (m_lastTap && std::chrono::steady_clock::now() - m_lastTap->at <= doubleTapInterval()) {
        const PageView before = m_lastTap->before;
        m_singleView = before.singleView;
        setGrid(before.rows, before.cols);
        pageIndex = before.pageIndex;
        relayout();
    }
    m_lastTap.reset();
    setFullScreen(!m_fullScreen.active());
}

void VideoPage::setFullScreen(bool on) {
    if (on == m_fullScreen.active()) {
        return;
    }
    if (on) {
        m_fullScreen.enter();
    } else {
        m_fullScreen.leave();
    }
    m_pageList->setVisible(!on);
    refreshPageList();
    // The same grid and page at once; the new size of the window re-fits them when it comes.
    fitToPage();
    setFocus();
    emit fullScreenChanged(on);
}

void VideoPage::setGridColumns(int columns) {
    stopPtzMove(PtzStopTrigger::GridChanged);
    const int previous = m_gridColumns;
    m_gridColumns = columns;
    if (m_singleView || m_rows != previous || m_cols != previous) {
        return;
    }
    // The first channel shown stays in view.
    pageIndex = firstChannelOfPage(pageIndex, m_rows, m_cols) / (columns * columns);
    setGrid(columns, columns);
    m_focusedTile = 0;
    relayout();
}

void VideoPage::setEvidenceSettings(const EvidenceSettings& settings) {
    for (VideoWindowContainer* tile : m_tiles) {
        tile->evidence()->setSettings(settings);
    }
}

void VideoPage::setLiveGrid(bool liveGrid) {
    m_liveGrid = liveGrid;
    for (VideoWindowContainer* tile : m_tiles) {
        tile->setLiveGrid(liveGrid);
    }
}

void VideoPage::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    // Its key release will not come here any more.
    m_heldPtzKey.reset();
    m_heldKeyTimer.stop();
    stopPtzMove(PtzStopTrigger::FocusLost);
}

void VideoPage::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    stopPtzMove(window()->isMinimized() ? PtzStopTrigger::Minimised : PtzStopTrigger::TabChanged);
}

void VideoPage::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
        stopPtzMove(PtzStopTrigger::FocusLost);
    }
}

void VideoPage::pressPtz(PtzButton button) {
    sendPtzCode(
        m_ptzGuard.press(ptzButtonSpec(button).pressCode, std::chrono::steady_clock::now()));
    m_ptzWatch.start();
}

void VideoPage::releasePtz() {
    m_ptzWatch.stop();
    sendPtzCode(m_ptzGuard.release());
}

void VideoPage::stopPtzMove(PtzStopTrigger trigger) {
    if (const std::optional<int> code = m_ptzGuard.stopFor(trigger)) {
        sendPtzStop(trigger, *code);
    }
}

void VideoPage::sendPtzStop(PtzStopTrigger trigger, int code) {
    m_ptzWatch.stop();
    writeLog("DVideoPage", "stopPtzMove", std::string(ptzStopTriggerName(trigger)).c_str());
    sendPtzCode(code);
}

void VideoPage::sendPtzCode(int code) {
    const PtzSender::SendResult result =
        m_ptz.sendPtzCommand(m_server->m_channels, m_ptzChannelIndex, code);
    // A stop lost with a broken connection would leave the camera turning: it goes once more
    // on the connection made anew.
    if (result == PtzSender::SendResult::Lost && code == kPtzReleaseCode) {
        m_ptz.sendPtzCommand(m_server->m_channels, m_ptzChannelIndex, code);
    }
}

void VideoPage::watchPtzMove() {
    if (m_ptz.reconnectIfLost() == PtzSender::Link::Reestablished) {
        stopPtzMove(PtzStopTrigger::Reconnected);
    } else if (const std::optional<int> code = m_ptzGuard.tick(std::chrono::steady_clock::now())) {
        sendPtzStop(PtzStopTrigger::MoveTimedOut, *code);
    }
    if (!m_ptzGuard.moving()) {
        m_ptzWatch.stop();
    }
}

void VideoPage::logTileFrames() {
    // While a layout has the page's place, its grid writes the line.
    if (isVisible()) {
        krt::logTileFrames(m_tiles);
    }
}

bool VideoPage::placeAsWall() {
    const std::optional<LayoutTemplate> wall =
        findLayoutTemplate(std::to_string(m_rows) + "x" + std::to_string(m_cols));
    if (!m_fullScreen.active() || m_singleView || !wall) {
        return false;
    }
    constexpr int kWallGap = 2;
    m_scrollBar->hide();
    const std::vector<Rect> places = layoutCellRects(*wall, width(), height(), kWallGap);
    for (std::size_t k = 0; k < places.size() && k < m_tiles.size(); ++k) {
        const Rect& place = places[k];
        m_tiles[k]->setGeometry(place.x, place.y, place.width, place.height);
        m_tiles[k]->resizeChildren(place.width, place.height);
    }
    placePtzButtons(false);
    return true;
}

}  // namespace krt
