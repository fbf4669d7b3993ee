#include "recording/clip_recorder.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "common/private_file.h"
#include "recording/evidence_file.h"

namespace krt {
namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

std::string inQuotes(const std::string& text) {
    return "\"" + text + "\"";
}

std::filesystem::path folderOf(const RecordingPlan& plan) {
    const std::filesystem::path folder = plan.file ? plan.file->parent_path() : plan.folder;
    return folder.empty() ? "." : folder;
}

}  // namespace

RecordingPlan recordingPlanFor(std::string_view serverAddress, const VideoChannel& channel,
                               std::string_view serverName) {
    RecordingPlan plan;
    plan.cameraName = cameraName(channel, serverName);
    plan.cameraKey = std::string(serverAddress) + ":" + channel.ChannelID;
    plan.fallbackSize = {channel.Width, channel.Height};
    return plan;
}

ClipRecorder::~ClipRecorder() {
    stop();
}

void ClipRecorder::setListener(Listener listener) {
    std::lock_guard lock(m_listenerMutex);
    m_listener = std::move(listener);
}

void ClipRecorder::setDiskSpaceQuery(DiskSpaceQuery query) {
    std::lock_guard lock(m_mutex);
    m_diskSpace = std::move(query);
}

std::optional<std::string> ClipRecorder::start(RecordingPlan plan) {
    std::lock_guard lock(m_mutex);
    std::optional<RecordingLock> cameraLock;
    if (!m_plan) {
        cameraLock = RecordingLock::take(plan.cameraKey);
    }
    if (!cameraLock) {
        return inQuotes(plan.cameraName) + " is being recorded already.";
    }
    const std::filesystem::path folder = folderOf(plan);
    if (const std::error_code error = makePrivateFolder(folder)) {
        return "Cannot make the folder " + folder.string() + ": " + error.message() + ".";
    }
    // A read-only folder or a full disk shows at once, not with the first frame.
    if (::access(folder.c_str(), W_OK) != 0) {
        return "Cannot write into the folder " + folder.string() + ": " +
               std::error_code(errno, std::generic_category()).message() + ".";
    }
    if (const std::optional<DiskSpace> space = m_diskSpace(folder);
        space && recordingMustStop(*space)) {
        return nearlyFullText(folder, *space);
    }
    m_plan = std::move(plan);
    m_lock = std::move(cameraLock);
    m_started = {};
    m_frames = 0;
    m_clipsSaved = 0;
    m_lastSpaceCheck.reset();
    return std::nullopt;
}

void ClipRecorder::stop() {
    std::vector<RecordingNews> news;
    {
        std::lock_guard lock(m_mutex);
        endLocked(news);
    }
    tell(news);
}

bool ClipRecorder::recording() const {
    std::lock_guard lock(m_mutex);
    return m_plan.has_value();
}

milliseconds ClipRecorder::elapsed(std::chrono::steady_clock::time_point now) const {
    std::lock_guard lock(m_mutex);
    if (!m_plan || m_started == std::chrono::steady_clock::time_point{}) {
        return milliseconds{0};
    }
    return std::max(duration_cast<milliseconds>(now - m_started), milliseconds{0});
}

void ClipRecorder::checkLength(std::chrono::steady_clock::time_point now) {
    std::vector<RecordingNews> news;
    {
        std::lock_guard lock(m_mutex);
        if (m_plan && m_plan->maxLength > milliseconds{0} &&
            m_started != std::chrono::steady_clock::time_point{} &&
            now - m_started >= m_plan->maxLength) {
            endLocked(news);
            news.push_back({RecordingNews::Kind::ReachedMax, {}, {}});
        }
    }
    tell(news);
}

void ClipRecorder::onFrame(const LiveFrame& frame) {
    std::vector<RecordingNews> news;
    {
        std::lock_guard lock(m_mutex);
        if (m_plan) {
            recordLocked(frame, news);
        }
    }
    tell(news);
}

void ClipRecorder::onStreamEnded() {
    std::vector<RecordingNews> news;
    {
        std::lock_guard lock(m_mutex);
        closeClipLocked(news);
    }
    tell(news);
}

int ClipRecorder::framesRecorded() const {
    std::lock_guard lock(m_mutex);
    return m_frames;
}

void ClipRecorder::recordLocked(const LiveFrame& frame, std::vector<RecordingNews>& news) {
    const auto arrived = frame.arrival().steady;
    if (m_started == std::chrono::steady_clock::time_point{}) {
        m_started = arrived;
    }
    if (m_plan->maxLength > milliseconds{0} && arrived - m_started >= m_plan->maxLength) {
        endLocked(news);
        news.push_back({RecordingNews::Kind::ReachedMax, {}, {}});
        return;
    }
    if (diskNearlyFullLocked(arrived, news)) {
        return;
    }
    if (!m_writer.isOpen() && !openClipLocked(frame, news)) {
        return;
    }
    if (!m_writer.write(frame.payload(), duration_cast<milliseconds>(arrived - m_clipStarted))) {
        failLocked("Cannot write the clip of " + inQuotes(m_plan->cameraName) + ": " +
                       m_writer.error() + ".",
                   news);
        return;
    }
    ++m_frames;
    if (m_writer.bytesWritten() >= m_plan->maxClip_bytes) {
        closeClipLocked(news);
    }
}

bool ClipRecorder::openClipLocked(const LiveFrame& frame, std::vector<RecordingNews>& news) {
    // A frame that does not decode is recorded all the same; the track then keeps the size
    // known before.
    if (const std::optional<PictureSize> size = m_sizeReader.readSize(frame.payload())) {
        m_lastSize = *size;
    }
    const PictureSize size = m_lastSize.width > 0 ? m_lastSize : m_plan->fallbackSize;
    const std::filesystem::path path =
        m_plan->file ? *m_plan->file
                     : m_plan->folder /
                           evidenceFileName(m_plan->cameraName, frame.arrival().calendar, "mkv");
    if (!m_writer.open(path, size, m_plan->cameraName, frame.arrival().calendar)) {
        failLocked(
            "Cannot record into " + path.parent_path().string() + ": " + m_writer.error() + ".",
            news);
        return false;
    }
    m_clipStarted = frame.arrival().steady;
    m_bytesAtSpaceCheck = 0;
    return true;
}

void ClipRecorder::closeClipLocked(std::vector<RecordingNews>& news) {
    if (!m_writer.isOpen()) {
        return;
    }
    const bool kept = m_writer.close(existingFileLocked());
    if (kept) {
        news.push_back(clipSavedNewsLocked());
    }
    if (!kept || m_writer.cutShort()) {
        failLocked("Cannot finish the clip of " + inQuotes(m_plan->cameraName) + ": " +
                       m_writer.error() + ".",
                   news);
    }
}

bool ClipRecorder::diskNearlyFullLocked(std::chrono::steady_clock::time_point now,
                                        std::vector<RecordingNews>& news) {
    const std::int64_t bytes = m_writer.bytesWritten();
    if (m_lastSpaceCheck && now - *m_lastSpaceCheck < kSpaceCheckPeriod &&
        bytes - m_bytesAtSpaceCheck < kSpaceCheckBytes) {
        return false;
    }
    m_lastSpaceCheck = now;
    m_bytesAtSpaceCheck = bytes;
    const std::filesystem::path folder = folderOf(*m_plan);
    const std::optional<DiskSpace> space = m_diskSpace(folder);
    if (!space || !recordingMustStop(*space)) {
        return false;
    }
    failLocked(inQuotes(m_plan->cameraName) + ": " + nearlyFullText(folder, *space), news);
    return true;
}

RecordingNews ClipRecorder::clipSavedNewsLocked() {
    ++m_clipsSaved;
    return {RecordingNews::Kind::ClipSaved, m_writer.closedPath(), {}, m_writer.framesWritten()};
}

ExistingFile ClipRecorder::existingFileLocked() const {
    return m_plan->file && m_clipsSaved == 0 ? ExistingFile::Replace : ExistingFile::Keep;
}

void ClipRecorder::endLocked(std::vector<RecordingNews>& news) {
    if (!m_plan) {
        return;
    }
    closeClipLocked(news);
    m_plan.reset();
    m_lock.reset();
}

void ClipRecorder::failLocked(const std::string& what, std::vector<RecordingNews>& news) {
    // What reached the disk stays a clip.
    if (m_writer.isOpen() && m_writer.close(existingFileLocked())) {
        news.push_back(clipSavedNewsLocked());
    }
    m_writer.abandon();
    m_plan.reset();
    m_lock.reset();
    news.push_back({RecordingNews::Kind::Failed, {}, what + " The recording has stopped."});
}

void ClipRecorder::tell(const std::vector<RecordingNews>& news) {
    if (news.empty()) {
        return;
    }
    std::lock_guard lock(m_listenerMutex);
    for (const RecordingNews& item : news) {
        if (m_listener) {
            m_listener(item);
        }
    }
}

}  // namespace krt
