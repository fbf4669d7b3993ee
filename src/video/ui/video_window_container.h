#pragma once

#include <QWidget>
#include <string>

#include "common/app_state.h"
#include "common/video_channel.h"

namespace krt {

class DVideoTitleBar;
class DVideoWindow;

// One tile of the Videos page: the title bar over the picture area. A tap anywhere on the
// picture is reported to the page as a tap on the tile.
class DVideoWindowContainer : public QWidget {
    Q_OBJECT

  public:
    DVideoWindowContainer(const KRTApp& app, int baseId, QWidget* parent = nullptr);

    // Places the title bar and the picture area in a tile of that size.
    void resizeChildren(int width, int height);
    void setChannel(const VideoChannel* channel);
    void setBigView(bool bigView);
    void pauseVideo();
    std::string getChannelId() const;
    void startConnect();
    void stopVideo();

    int baseId() const { return m_baseId; }
    DVideoWindow* videoWindow() const { return m_videoWindow; }
    DVideoTitleBar* titleBar() const { return m_titleBar; }

  signals:
    // The page's tap message: which tile the user touched.
    void videoTap(DVideoWindowContainer* tile);

  protected:
    void mousePressEvent(QMouseEvent* event) override;

  private:
    int m_baseId;
    DVideoWindow* m_videoWindow;
    DVideoTitleBar* m_titleBar;
};

}  // namespace krt
