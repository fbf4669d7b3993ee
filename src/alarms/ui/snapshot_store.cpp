#include "alarms/ui/snapshot_store.h"

#include <QFile>
#include <cstring>
#include <span>

#include "alarms/event_list_layout.h"
#include "alarms/snapshot_picture.h"

namespace krt {
namespace {

// Snapshots larger than this are no snapshots; the file is not read into memory.
constexpr qint64 kMaxSnapshotBytes = 16 * 1024 * 1024;

QImage toImage(const DecodedPicture& picture) {
    QImage image(picture.size.width, picture.size.height, QImage::Format_RGB32);
    const auto rowBytes = static_cast<std::size_t>(picture.bytesPerLine());
    for (int y = 0; y < image.height(); ++y) {
        std::memcpy(image.scanLine(y),
                    picture.pixels.data() + rowBytes * static_cast<std::size_t>(y), rowBytes);
    }
    return image;
}

}  // namespace

std::shared_ptr<const KeptSnapshot> loadKeptSnapshot(const std::filesystem::path& imagePath) {
    if (imagePath.empty()) {
        return nullptr;
    }
    QFile file(QString::fromStdString(imagePath.string()));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxSnapshotBytes) {
        return nullptr;
    }
    auto snapshot = std::make_shared<KeptSnapshot>();
    snapshot->bytes = file.readAll();
    const auto* data = reinterpret_cast<const unsigned char*>(snapshot->bytes.constData());
    const std::optional<DecodedPicture> picture =
        decodeSnapshot(std::span(data, static_cast<std::size_t>(snapshot->bytes.size())));
    if (picture) {
        snapshot->picture = toImage(*picture);
        const int width = snapshotWidth(picture->size.width, picture->size.height);
        if (width > 0) {
            snapshot->thumbnail = snapshot->picture.scaled(
                width, kSnapshotHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
    }
    return snapshot;
}

void SnapshotStore::put(const std::filesystem::path& imagePath,
                        std::shared_ptr<const KeptSnapshot> snapshot) {
    if (!imagePath.empty()) {
        m_snapshots[imagePath] = std::move(snapshot);
    }
}

std::shared_ptr<const KeptSnapshot> SnapshotStore::find(
    const std::filesystem::path& imagePath) const {
    const auto kept = m_snapshots.find(imagePath);
    return kept == m_snapshots.end() ? nullptr : kept->second;
}

void SnapshotStore::keepOnly(const EventRing& ring) {
    std::erase_if(m_snapshots, [&](const auto& entry) { return !ring.refersTo(entry.first); });
}

}  // namespace krt
