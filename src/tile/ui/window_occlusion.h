#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <cstdint>

class QWidget;

namespace krt {

// Whether a top-level window is wholly covered by other windows. Qt tells when a window is
// minimised or hidden, but not when others cover all of it; the X server tells that to the
// windows that ask for it. Elsewhere a window is never taken as covered.
class WindowOcclusion : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

  public:
    // The watcher of the window, made on first use and owned by the window.
    static WindowOcclusion* of(QWidget* topLevel);

    bool covered() const { return m_covered; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  signals:
    void coveredChanged();

  private:
    explicit WindowOcclusion(QWidget* topLevel);
    ~WindowOcclusion() override;

    std::uint32_t m_window = 0;  // the X window; 0 where there is none
    bool m_covered = false;
};

}  // namespace krt
