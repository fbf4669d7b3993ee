#include "alarms/ui/snapshot_store.h"

#include <cstring>
#include <span>

#include "alarms/event_list_layout.h"
#include "media/snapshot_picture.h"

namespace krt {
namespace {

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

std::shared_ptr<const KeptSnapshot> keptSnapshot(std::span<const char> bytes) {
    if (bytes.empty()) {
        return nullptr;
    }
    auto snapshot = std::make_shared<KeptSnapshot>();
    snapshot->bytes = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::optional<DecodedPicture> picture = decodeSnapshot(std::span(data, bytes.size()));
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
