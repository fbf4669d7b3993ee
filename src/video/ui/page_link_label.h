#pragma once

#include <QLabel>

#include "video/video_layout.h"

namespace krt {

// An underlined page number above the tiles. A click asks the Videos page for the page its
// label names (the page's "go to page" message), once the page has enabled the link.
class PageLinkLabel : public QLabel {
    Q_OBJECT

  public:
    explicit PageLinkLabel(const QString& text, QWidget* parent = nullptr);

    void enable(bool enabled) { m_linkEnabled = enabled; }
    bool linkEnabled() const { return m_linkEnabled; }
    void setColour(Rgb colour);
    Rgb colour() const { return m_textColour; }
    bool hovering() const { return m_hovering; }

  signals:
    // The 1-based page number read from the label.
    void gotoPage(int pageNumber);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    bool m_linkEnabled = false;
    bool m_hovering = false;
    Rgb m_textColour = kOtherPageColour;
};

}  // namespace krt
