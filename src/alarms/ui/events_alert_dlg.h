#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace krt {

// The event alert: a small window over the main sheet's tabs with the latest event's type,
// source camera and time, and "Show Video" / "Close". It is created once, hidden, and shown
// again for every later alert.
class DEventsAlertDlg : public QDialog {
    Q_OBJECT

  public:
    // A child window of the main sheet, hidden until shown.
    explicit DEventsAlertDlg(QWidget* sheet);

    void setTexts(const QString& type, const QString& source, const QString& time);

    QLabel* captionLabel() const { return m_caption; }
    QLabel* typeText() const { return m_typeValue; }
    QLabel* sourceText() const { return m_sourceValue; }
    QLabel* timeText() const { return m_timeValue; }
    QPushButton* showVideoButton() const { return m_showVideo; }
    QPushButton* closeButton() const { return m_close; }
    // The area under the caption, where the controls are.
    QWidget* clientArea() const { return m_client; }

    // "Show Video": asks for the source camera, then hides.
    void accept() override;
    // "Close": hides; the window stays for the next alert.
    void reject() override;

  signals:
    void showVideoRequested(const QString& channelId);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void OnSize();

    QLabel* m_caption;
    QWidget* m_client;
    QLabel* m_typeLabel;
    QLabel* m_sourceLabel;
    QLabel* m_timeLabel;
    QLabel* m_typeValue;
    QLabel* m_sourceValue;
    QLabel* m_timeValue;
    QPushButton* m_showVideo;
    QPushButton* m_close;
};

}  // namespace krt
