#pragma once

#include <QWidget>
#include <optional>

#include "common/video_channel.h"
#include "tile/tile_status.h"
#include "tile/video_window_logic.h"

namespace krt {

// The 15-pixel strip above a tile's picture that names its channel: the ChannelID in the
// grid, "ID - Description" in the single view.
class VideoTitleBar : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kHeight = 15;

    explicit VideoTitleBar(QWidget* parent = nullptr);

    // Not repainted here: the page moves the tile, which repaints it.
    void setChannel(const VideoChannel* channel);
    // Put before the channel's names where several servers' cameras are in view.
    void setServerName(std::string name) { m_serverName = std::move(name); }
    void setBigView(bool bigView) { m_bigView = bigView; }
    // The state mark at the right end of the strip; repainted when it changes.
    void setMark(TileMark mark);
    TileMark mark() const { return m_mark; }
    // The keyboard focus frame of the page: the strip turns dark with white text.
    void setFramed(bool framed);
    bool framed() const { return m_framed; }
    // The text the next paint shows: the server's names as plain text.
    QString shownText() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::optional<VideoChannel> m_channel;
    TitleTexts m_texts;
    std::string m_serverName;
    bool m_bigView = false;
    TileMark m_mark = TileMark::None;
    bool m_framed = false;
};

}  // namespace krt
