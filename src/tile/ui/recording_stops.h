#pragma once

#include <QObject>
#include <QString>

namespace krt {

// Where every tile tells that a recording of its camera stopped by itself (a full disk, a file
// that cannot be written) and that one started again: tiles live on pages and in windows of
// their own, the status line that keeps saying so in the main window.
class RecordingStops : public QObject {
    Q_OBJECT

  public:
    static RecordingStops& instance();

    void tellStopped(const QString& why) { emit stopped(why); }
    void tellStarted() { emit started(); }

  signals:
    void stopped(const QString& why);
    void started();
};

}  // namespace krt
