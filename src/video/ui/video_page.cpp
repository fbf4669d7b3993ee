#include "video/ui/video_page.h"

#include <QComboBox>
#include <QResizeEvent>
#include <QScrollBar>
#include <algorithm>
#include <map>
#include <memory>

#include "common/ui/qt_text.h"
#include "common/ui/scroll_action.h"
#include "protocol/diag_log.h"
#include "tile/ui/tile_evidence.h"
#include "tile/ui/video_window_container.h"
#include "tile/video_window_logic.h"
#include "video/ui/page_link_label.h"
#include "video/ui/press_button.h"

namespace krt {
namespace {

constexpr int kFirstLinkId = 1046;

}  // namespace

VideoPage::VideoPage(const AppState& app, QWidget* parent)
    : QWidget(parent),
      m_app(app),
      m_server(&app),
      m_ptz(app.m_serverAddress, app.m_loginPort, app.m_userName) {
    m_firstLayoutTimer.setSingleShot(true);
    m_firstLayoutTimer.setInterval(0);
    // Not while another view has taken the page's place by then: its tiles stay stopped.
    connect(&m_firstLayoutTimer, &QTimer::timeout, this, [this] {
        if (isVisible()) {
            relayout();
        }
    });
    m_cursorTimer.setSingleShot(true);
    m_cursorTimer.setInterval(kCursorDelay_ms);
    connect(&m_cursorTimer, &QTimer::timeout, this, [this] { setCursor(Qt::ArrowCursor); });
    m_heldKeyTimer.setSingleShot(true);
    connect(&m_heldKeyTimer, &QTimer::timeout, this, &VideoPage::endHeldPtzKey);
    m_ptzWatch.setInterval(kPtzWatchPeriod_ms);
    connect(&m_ptzWatch, &QTimer::timeout, this, &VideoPage::watchPtzMove);
    if (diagLogEnabled()) {
        m_frameLog.setInterval(kFrameLogPeriod_ms);
        connect(&m_frameLog, &QTimer::timeout, this, &VideoPage::logTileFrames);
        m_frameLog.start();
    }
    // The page takes the keys; its controls answer the mouse only, so that they never take
    // the focus (and the key releases of a PTZ move) away from it.
    setFocusPolicy(Qt::StrongFocus);
    createControls();
    createTiles();
}

VideoPage::~VideoPage() {
    for (VideoWindowContainer* tile : m_tiles) {
        tile->pauseVideo();
        tile->stopVideo();
    }
}

void VideoPage::createControls() {
    for (std::size_t k = 0; k < kPtzButtons.size(); ++k) {
        const PtzButtonSpec& button = kPtzButtons[k];
        m_ptzButtons[k] = new PressButton(button.controlId, qtText(button.caption), this);
        m_ptzButtons[k]->hide();
    }
    for (std::size_t k = 0; k < m_links.size(); ++k) {
        m_links[k] = new PageLinkLabel(QString::number(k + 1), this);
        m_links[k]->setObjectName(QString::number(kFirstLinkId + static_cast<int>(k)));
        m_links[k]->setAlignment(Qt::AlignCenter);
        connect(m_links[k], &PageLinkLabel::gotoPage, this, &VideoPage::showPageNumber);
    }
    m_pageList = new QComboBox(this);
    m_pageList->setMinimumWidth(80);
    m_pageList->adjustSize();
    connect(m_pageList, &QComboBox::activated, this, &VideoPage::showListedPage);
    m_scrollBar = new QScrollBar(Qt::Vertical, this);
    connect(m_scrollBar, &QScrollBar::actionTriggered, this, &VideoPage::handleScrollAction);
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        child->setFocusPolicy(Qt::NoFocus);
    }
}

void VideoPage::createTiles() {
    constexpr int kFirstTileId = 10000;
    constexpr int kIdsPerTile = 3;
    for (std::size_t k = 0; k < m_tiles.size(); ++k) {
        m_tiles[k] =
            new VideoWindowContainer(m_app, kFirstTileId + kIdsPerTile * static_cast<int>(k), this);
        m_tiles[k]->setGeometry(0, 0, 0, 0);
        connect(m_tiles[k], &VideoWindowContainer::videoTap, this, &VideoPage::toggleSingleView);
        connect(m_tiles[k], &VideoWindowContainer::videoDoubleTap, this, &VideoPage::undoTap);
    }
    m_scrollBar->hide();
    for (PressButton* button : m_ptzButtons) {
        button->registerCallback(
            [this](int controlId, PressButton* /*button*/, PressButton::Kind kind) {
                fnCallbackButtonPressUpDown(controlId, static_cast<int>(kind));
            });
    }
    for (PageLinkLabel* link : m_links) {
        link->enable(true);
    }
    m_ptz.connectPtz();
}

void VideoPage::setGrid(int rows, int cols) {
    m_rows = rows;
    m_cols = cols;
}

int VideoPage::hiddenLinkRowRoom() const {
    return m_fullScreen.active() ? kPageLinkRowHeight : 0;
}

int VideoPage::clientWidth() const {
    return width() - (m_scrollBar->isVisible() ? m_scrollBar->width() : 0);
}

void VideoPage::relayout() {
    const LayoutKey key{m_rows, m_cols, pageIndex};
    if (key == m_last) {
        // Same grid and page: a new size only re-fits the tiles, which keep their streams.
        if (size() != m_fittedSize) {
            fitToPage();
        }
        return;
    }
    const bool gridChanged = key.rows != m_last.rows || key.cols != m_last.cols;
    const bool leavesSingleView = m_last.rows == 1 && m_last.cols == 1 && gridChanged;
    stopPtzMove(leavesSingleView ? PtzStopTrigger::SingleViewClosed
                : gridChanged    ? PtzStopTrigger::GridChanged
                                 : PtzStopTrigger::PageChanged);
    m_last = key;
    refreshPageList();
    const int first = firstChannelOfPage(pageIndex, m_rows, m_cols);
    m_ptzShown = false;
    if (m_rows == 1 && m_cols == 1) {
        m_singleView = true;
        m_ptzShown = first >= 0 && first < channelCount() &&
                     m_server->m_channels[static_cast<std::size_t>(first)].PTZEnabled;
        if (m_ptzShown) {
            m_ptzChannelIndex = first;
        }
    }
    fillTiles();
    fitToPage();
    m_focusedTile = std::min(m_focusedTile, std::max(m_rows * m_cols - 1, 0));
    showTileFocus();
    m_cursorTimer.start();
}

void VideoPage::fillTiles() {
    // A recording follows its camera to the tile that shows it next, and ends when the camera
    // leaves the page.
    std::map<std::string, std::pair<VideoWindowContainer*, std::shared_ptr<ClipRecorder>>>
        recordings;
    for (VideoWindowContainer* tile : m_tiles) {
        tile->setGeometry(0, 0, 0, 0);
        tile->pauseVideo();
        // Its stream ends, and with it the clip of a recording.
        tile->stopVideo();
        if (std::shared_ptr<ClipRecorder> recording = tile->evidence()->takeRecording()) {
            recordings.emplace(tile->getChannelId(), std::pair(tile, std::move(recording)));
        }
    }
    for (int k = 0; k < std::min(m_rows * m_cols, static_cast<int>(m_tiles.size())); ++k) {
        VideoWindowContainer* tile = m_tiles[static_cast<std::size_t>(k)];
        const std::optional<int> channel =
            channelForTile(pageIndex, m_rows, m_cols, k, channelCount());
        tile->setChannel(
            channel ? &m_server->m_channels[static_cast<std::size_t>(*channel)] : nullptr,
            m_server);
        if (const auto recording = recordings.find(tile->getChannelId());
            channel && recording != recordings.end()) {
            tile->evidence()->adoptRecording(std::move(recording->second.second));
            recordings.erase(recording);
        }
        tile->update();
        tile->setBigView(m_singleView);
        if (channel) {
            tile->startConnect();
        }
        tile->show();
    }
    for (auto& [channelId, left] : recordings) {
        left.first->evidence()->finishRecording(std::move(left.second));
    }
}

void VideoPage::suspend() {
    stopPtzMove(PtzStopTrigger::PageChanged);
    for (VideoWindowContainer* tile : m_tiles) {
        tile->pauseVideo();
        tile->stopVideo();
    }
    m_last = {};
}

void VideoPage::fitToPage() {
    m_fittedSize = size();
    if (placeAsWall()) {
        return;
    }
    const std::optional<int> ptzButtonHeight =
        m_ptzShown ? std::optional(m_ptzButtons[0]->sizeHint().height()) : std::nullopt;
    // Full screen hides the link row: the tiles move up into its room.
    const int linkRowRoom = hiddenLinkRowRoom();
    const int pageHeight = height() + linkRowRoom;
    const int availableHeight = availableTileHeight(pageHeight, ptzButtonHeight);
    TileGeometry geometry = tileGeometry(width(), pageHeight, availableHeight, m_rows, m_cols);
    const bool scrolls =
        pageContentHeight(geometry, m_rows, ptzButtonHeight) - linkRowRoom > height();
    // The scroll bar takes its width from the tiles only when it is needed.
    m_scrollBar->setVisible(scrolls);
    if (scrolls) {
        geometry = tileGeometry(clientWidth(), pageHeight, availableHeight, m_rows, m_cols);
        m_scrollBar->setRange(0, pageContentHeight(geometry, m_rows, ptzButtonHeight) - height());
        m_scrollBar->setPageStep(height());
    }
    for (int row = 0; row < m_rows; ++row) {
        for (int column = 0; column < m_cols; ++column) {
            const int k = row * m_cols + column;
            if (k >= static_cast<int>(m_tiles.size())) {
                continue;
            }
            VideoWindowContainer* tile = m_tiles[static_cast<std::size_t>(k)];
            Rect place = tileRect(geometry, row, column);
            place.y -= linkRowRoom;
            tile->setGeometry(place.x, place.y, place.width, place.height);
            tile->resizeChildren(place.width, place.height);
        }
    }
    placePtzButtons(m_ptzShown);
}

void VideoPage::refreshPageList() {
    const int pages = pageCount(channelCount(), m_rows, m_cols);
    m_pageList->clear();
    for (const std::string& item : pageListItems(pages)) {
        m_pageList->addItem(qtText(item));
    }
    m_pageList->setCurrentIndex(pageIndex < pages ? pageIndex : -1);
    const std::array<PageLink, 3> links = pageLinks(pageIndex, pages);
    for (std::size_t k = 0; k < links.size(); ++k) {
        m_links[k]->setText(qtText(links[k].text));
        m_links[k]->setColour(links[k].colour);
        m_links[k]->setVisible(links[k].visible && !m_fullScreen.active());
        m_links[k]->update();
    }
}

void VideoPage::placePtzButtons(bool show) {
    if (!show) {
        for (PressButton* button : m_ptzButtons) {
            button->hide();
        }
        return;
    }
    const int buttonHeight = m_ptzButtons[0]->sizeHint().height();
    const std::array<Rect, 6> places = ptzButtonRects(clientWidth(), height(), buttonHeight);
    for (std::size_t k = 0; k < m_ptzButtons.size(); ++k) {
        m_ptzButtons[k]->setGeometry(places[k].x, places[k].y, places[k].width, places[k].height);
        m_ptzButtons[k]->show();
    }
}

void VideoPage::showPageNumber(int pageNumber) {
    pageIndex = pageNumber - 1;
    relayout();
}

void VideoPage::showListedPage(int selection) {
    pageIndex = selection;
    relayout();
}

void VideoPage::toggleSingleView(VideoWindowContainer* tile) {
    if (m_singleView && m_singleViewReturn && m_singleViewReturn()) {
        return;
    }
    const int index = findChannelIndex(m_server->m_channels, tile->getChannelId());
    // A tile without a channel has nothing to show alone: the tap is ignored.
    const std::optional<PageView> view = viewAfterTap(m_singleView, index, m_gridColumns);
    if (!view) {
        return;
    }
    m_lastTap =
        TapUndo{{m_rows, m_cols, pageIndex, m_singleView}, std::chrono::steady_clock::now()};
    // Back in the grid the keyboard frame stays on the camera that was shown alone.
    if (!view->singleView) {
        m_focusedTile = index - firstChannelOfPage(view->pageIndex, view->rows, view->cols);
    }
    for (VideoWindowContainer* each : m_tiles) {
        each->hide();
        each->pauseVideo();
    }
    m_singleView = view->singleView;
    setGrid(view->rows, view->cols);
    pageIndex = view->pageIndex;
    relayout();
}

bool VideoPage::showChannel(std::string_view channelId) {
    const int index = findChannelIndex(m_server->m_channels, channelId);
    if (index < 0) {
        return false;
    }
    showChannelAt(index);
    return true;
}

void VideoPage::showChannelAt(int channelIndex) {
    setGrid(1, 1);
    pageIndex = channelIndex;
    relayout();
}

void VideoPage::showServer(const AppState& server) {
    if (&server == m_server) {
        return;
    }
    stopPtzMove(PtzStopTrigger::PageChanged);
    m_server = &server;
    m_ptz = PtzSender(server.m_serverAddress, server.m_loginPort, server.m_userName);
    m_ptzChannelIndex = -1;
    m_last = {};  // the same page of another server is another page
}

void VideoPage::showGridPage(int page) {
    m_singleView = false;
    setGrid(m_gridColumns, m_gridColumns);
    pageIndex = std::max(page, 0);
    relayout();
}

void VideoPage::fnCallbackButtonPressUpDown(int controlId, int kind) {
    if (kind == static_cast<int>(ButtonEventKind::Released)) {
        if (m_tiles[0] != nullptr) {
            releasePtz();
        }
        return;
    }
    if (kind != static_cast<int>(ButtonEventKind::Pressed)) {
        return;
    }
    const auto* button = std::ranges::find(kPtzButtons, controlId, &PtzButtonSpec::controlId);
    if (button != kPtzButtons.end()) {
        pressPtz(button->button);
    }
}

void VideoPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutPage(event->size().width(), event->size().height());
}

void VideoPage::layoutPage(int width, int height) {
    placeTopRow(width, height);
    // The tiles follow the page at once.
    relayout();
}

void VideoPage::placeTopRow(int width, int height) {
    m_scrollBar->setGeometry(width - m_scrollBar->sizeHint().width(), 0,
                             m_scrollBar->sizeHint().width(), height);
    const TopRowLayout top = topRowLayout(width, m_pageList->width(), m_pageList->height());
    for (std::size_t k = 0; k < m_links.size(); ++k) {
        const Rect& place = top.links[k];
        m_links[k]->setGeometry(place.x, place.y, place.width, place.height);
    }
    m_pageList->move(top.comboBox.x, top.comboBox.y);
}

void VideoPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    setFocus();
    // Laid out as soon as the sheet that shows the page has set its grid, within this turn of
    // the event loop.
    m_firstLayoutTimer.start();
}

void VideoPage::handleScrollAction(int action) {
    const ScrollAction scrollAction = scrollActionOf(action).value_or(ScrollAction::EndScroll);
    m_scrollPosition = scrolledPosition(scrollAction, m_scrollPosition, height(),
                                        m_scrollBar->maximum(), m_scrollBar->sliderPosition());
    m_scrollBar->setSliderPosition(m_scrollPosition);
    relayout();
}

}  // namespace krt
