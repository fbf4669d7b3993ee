#include "alarms/ui/snapshot_actions.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QMimeData>
#include <QStandardPaths>
#include <span>

#include "alarms/ui/snapshot_store.h"
#include "common/ui/message_box.h"
#include "common/ui/qt_text.h"
#include "journal/snapshot_export.h"

namespace krt {
namespace {

SnapshotFileChooser& fileChooser() {
    static SnapshotFileChooser chooser;
    return chooser;
}

QString chooseFile(QWidget* parent, const QString& suggestedPath) {
    if (fileChooser()) {
        return fileChooser()(parent, suggestedPath);
    }
    return QFileDialog::getSaveFileName(parent, QString::fromUtf8(kSaveSnapshotText), suggestedPath,
                                        QStringLiteral("JPEG pictures (*.jpg)"));
}

// The user's Pictures folder, made when it does not exist yet; the home folder without one.
QString picturesFolder() {
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return !pictures.isEmpty() && QDir().mkpath(pictures) ? pictures : QDir::homePath();
}

}  // namespace

SnapshotFileChooser setSnapshotFileChooser(SnapshotFileChooser chooser) {
    return std::exchange(fileChooser(), std::move(chooser));
}

void saveSnapshotAs(QWidget* parent, const AlarmEvent& event, const KeptSnapshot& snapshot) {
    QString path =
        QDir(picturesFolder()).filePath(qtText(snapshotSaveName(event.channelId, event.eventTime)));
    for (;;) {
        path = chooseFile(parent, path);
        if (path.isEmpty()) {
            return;
        }
        const std::span bytes(snapshot.bytes.constData(),
                              static_cast<std::size_t>(snapshot.bytes.size()));
        if (saveSnapshotCopy(path.toStdString(), bytes)) {
            return;
        }
        showErrorBox(parent, QStringLiteral("The snapshot could not be saved in the folder "
                                            "\"%1\": it cannot be written there. Choose "
                                            "another folder.")
                                 .arg(QFileInfo(path).absolutePath()));
    }
}

void copySnapshot(const KeptSnapshot& snapshot) {
    auto* data = new QMimeData;  // the clipboard takes it over
    if (!snapshot.picture.isNull()) {
        data->setImageData(snapshot.picture);
    }
    data->setData(QStringLiteral("image/jpeg"), snapshot.bytes);
    QApplication::clipboard()->setMimeData(data);
}

}  // namespace krt
