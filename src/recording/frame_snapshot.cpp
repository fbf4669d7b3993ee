#include "recording/frame_snapshot.h"

#include "common/private_file.h"
#include "recording/evidence_file.h"

namespace krt {

void NewestFrame::keep(const LiveFrame& frame) {
    const auto payload = frame.payload();
    std::lock_guard lock(m_mutex);
    m_frame.bytes.assign(payload.begin(), payload.end());
    m_frame.arrival = frame.arrival();
    m_kept = true;
}

std::optional<KeptFrame> NewestFrame::copy() const {
    std::lock_guard lock(m_mutex);
    return m_kept ? std::optional(m_frame) : std::nullopt;
}

void NewestFrame::clear() {
    std::lock_guard lock(m_mutex);
    m_kept = false;
}

SnapshotResult saveSnapshot(const std::filesystem::path& folder, std::string_view cameraName,
                            const KeptFrame& frame) {
    if (const std::error_code error = makePrivateFolder(folder)) {
        return {std::nullopt,
                "Cannot make the folder " + folder.string() + ": " + error.message() + "."};
    }
    const std::filesystem::path path =
        folder / evidenceFileName(cameraName, frame.arrival.calendar, "jpg");
    std::error_code error;
    if (std::optional<std::filesystem::path> saved =
            saveFile(path, frame.bytes, ExistingFile::Keep, error)) {
        return {std::move(saved), {}};
    }
    return {std::nullopt,
            "Cannot save the snapshot in " + folder.string() + ": " + error.message() + "."};
}

}  // namespace krt
