#pragma once

#include <QTimer>
#include <QWidget>
#include <array>
#include <string_view>

#include "common/app_state.h"
#include "video/ptz_sender.h"
#include "video/video_page_logic.h"

class QComboBox;
class QScrollBar;

namespace krt {

class DPageLink;
class DVideoWindowContainer;
class kmPressUpDownButton;

// The "Videos" tab: the cameras of the catalogue four to a page in a 2 × 2 grid, or one at a
// time in the single view, with page links, a page list, and PTZ buttons for cameras that
// move. It owns the four tiles and the PTZ connection.
class DVideoPage : public QWidget {
    Q_OBJECT

  public:
    // Timer 1000: relayout a second after the size changed; timer 1002: the arrow cursor
    // back shortly after a relayout.
    static constexpr int kRelayoutDelay_ms = 1000;
    static constexpr int kCursorDelay_ms = 10;
    static constexpr std::array<int, 4> kTileIds{10000, 10003, 10006, 10009};

    explicit DVideoPage(const KRTApp& app, QWidget* parent = nullptr);
    ~DVideoPage() override;
    DVideoPage(const DVideoPage&) = delete;
    DVideoPage& operator=(const DVideoPage&) = delete;

    void setGrid(int rows, int cols);
    // Kept as the sheet hands it over; every count used is the catalogue's own.
    // Places the tiles for the grid and page; nothing moves unless one of them changed.
    void relayout();
    // "Show Video" of an event: the channel alone in the single view. False when the catalogue
    // holds no channel of that ID (ignoring letter case); the page is then left as it was.
    bool showChannel(std::string_view channelId);
    void showChannelAt(int channelIndex);

    // Page shown, zero-based; the sheet may set it before a relayout.
    int pageIndex = 0;

    int rows() const { return m_rows; }
    int cols() const { return m_cols; }
    bool singleView() const { return m_singleView; }
    int ptzChannelIndex() const { return m_ptzChannelIndex; }
    const std::array<DVideoWindowContainer*, 4>& tiles() const { return m_tiles; }
    const std::array<DPageLink*, 3>& links() const { return m_links; }
    const std::array<kmPressUpDownButton*, 6>& ptzButtons() const { return m_ptzButtons; }
    QComboBox* pageList() const { return m_pageList; }
    QScrollBar* scrollBar() const { return m_scrollBar; }
    bool ptzConnected() const { return m_ptz.isConnected(); }
    bool relayoutPending() const { return m_relayoutTimer.isActive(); }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void OnInitDialog();
    void createControls();
    void OnGotoPage(int pageNumber);
    void OnPageListChange(int selection);
    void OnVideoTap(DVideoWindowContainer* tile);
    void OnSize(int width, int height);
    void OnScrollAction(int action);
    void fnCallbackButtonPressUpDown(int controlId, int kind);
    void refreshPageList();
    void placePtzButtons(bool show);
    void placeTiles(int availableHeight);
    void setUpInitialScroll();
    int clientWidth() const;
    int channelCount() const { return m_app.channelCount(); }

    const KRTApp& m_app;
    PtzSender m_ptz;
    std::array<kmPressUpDownButton*, 6> m_ptzButtons{};
    std::array<DPageLink*, 3> m_links{};
    QComboBox* m_pageList = nullptr;
    QScrollBar* m_scrollBar = nullptr;
    std::array<DVideoWindowContainer*, 4> m_tiles{};

    int m_rows = 0;
    int m_cols = 0;
    bool m_singleView = false;
    int m_ptzChannelIndex = -1;
    LayoutKey m_last;
    int m_scrollHeight = 0;
    int m_scrollPosition = 0;
    int m_lastWidth = 0;
    int m_lastHeight = 0;

    QTimer m_relayoutTimer;
    QTimer m_cursorTimer;
};

}  // namespace krt
