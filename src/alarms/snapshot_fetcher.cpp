#include "alarms/snapshot_fetcher.h"

#include <optional>
#include <vector>

#include "journal/snapshot_file.h"
#include "protocol/diag_log.h"
#include "protocol/packet_framing.h"
#include "protocol/return_codes.h"
#include "protocol/socket_client.h"
#include "protocol/xml_message.h"

namespace krt {
namespace {

constexpr const char* kModule = "KRT";
constexpr const char* kSnapshotSource = "kmKRTAlarmHandlerC::fetchImage()";

FetchedSnapshot withoutPicture(SnapshotOutcome outcome, std::string missing) {
    FetchedSnapshot snapshot;
    snapshot.outcome = outcome;
    snapshot.missing = std::move(missing);
    return snapshot;
}

// A reply that is no picture: the server's return code when it is one of its XML replies.
std::string notAPictureReason(const Reply& reply) {
    const XmlNode root = loadXmlDocument(reply.text());
    if (root && root.child("kmReturnCode")) {
        return serverErrorText(root.childInt("kmReturnCode"));
    }
    return kNotAPicture;
}

}  // namespace

bool snapshotBudgetAdmits(std::size_t taken, std::size_t expected_bytes, std::size_t budget_bytes) {
    return taken == 0 || expected_bytes == 0 || taken < budget_bytes / expected_bytes;
}

std::string serverErrorText(int code) {
    return "server error " + std::to_string(code);
}

SnapshotFetcher::SnapshotFetcher(const AppState& app, const Cancellation& cancellation,
                                 const KeptEvents& kept, Done done, std::size_t budget_bytes)
    : m_app(app),
      m_cancellation(cancellation),
      m_kept(kept),
      m_done(std::move(done)),
      m_budget_bytes(budget_bytes),
      m_thread([this] { run(); }) {}

SnapshotFetcher::~SnapshotFetcher() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_ready.notify_all();
}

void SnapshotFetcher::enqueue(SnapshotJob job) {
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            return;
        }
        job.fetch = job.fetch && snapshotBudgetAdmits(m_toFetch, m_expected_bytes, m_budget_bytes);
        m_toFetch += job.fetch ? 1 : 0;
        m_jobs.push_back(std::move(job));
    }
    m_ready.notify_one();
}

void SnapshotFetcher::stop(const char* stopLabel, int timeout_ms) {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_jobs.clear();
    }
    m_ready.notify_all();
    stopThread(stopLabel, m_thread, timeout_ms, [this] { m_cancellation.cancel(); });
}

void SnapshotFetcher::run() {
    for (;;) {
        SnapshotJob job;
        {
            std::unique_lock lock(m_mutex);
            m_ready.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping) {
                return;
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        // Named here, after the previous job has reached the ring, so that no two alarms get
        // one name.
        if (!job.event.imagePath.empty()) {
            job.event.imagePath = m_kept.freeSnapshotPath(job.event.imagePath);
        }
        const FetchedSnapshot snapshot = fetch(job);
        settle(job, snapshot);
        if (snapshot.outcome == SnapshotOutcome::lost && m_cancellation.cancelled()) {
            return;  // cut short by the stop: not a lost snapshot
        }
        try {
            m_done(job, snapshot);
        } catch (...) {
            // An event that cannot be stored is dropped; the fetcher goes on.
        }
    }
}

void SnapshotFetcher::settle(const SnapshotJob& job, const FetchedSnapshot& snapshot) {
    if (!job.fetch) {
        return;
    }
    std::lock_guard lock(m_mutex);
    --m_toFetch;
    if (!snapshot.bytes.empty()) {
        m_expected_bytes = snapshot.bytes.size();
    }
}

FetchedSnapshot SnapshotFetcher::fetch(const SnapshotJob& job) {
    if (job.event.imagePath.empty()) {
        return withoutPicture(SnapshotOutcome::notFetched, kNotFetchedNoFolder);
    }
    if (!job.fetch) {
        writeLog(kModule, kSnapshotSource, "Too many snapshots pending: one not fetched.");
        return withoutPicture(SnapshotOutcome::lost, kNotFetchedTooManyWaiting);
    }
    try {
        return fetchImage(job);
    } catch (...) {
        return withoutPicture(SnapshotOutcome::lost, kDisconnected);
    }
}

FetchedSnapshot SnapshotFetcher::fetchImage(const SnapshotJob& job) {
    const std::optional<std::vector<char>> request =
        alarmImageRequest(job.message.channelId, job.message.alarmName, job.time);
    if (!request) {
        return withoutPicture(SnapshotOutcome::lost, kNotFetchedNoRequest);
    }
    SocketClient client(SocketClient::Timeouts{}, &m_cancellation);
    client.setMaxReplyLength(kMaxPayloadLength);
    Reply reply;
    const int result = client.connectToServer(
        m_app.m_serverAddress, static_cast<unsigned>(m_app.m_serverPort), *request, reply);
    client.closeCommmunication();
    if (reply.empty()) {
        // The client has logged why.
        return withoutPicture(SnapshotOutcome::lost,
                              result == kErrCommunication ? kDisconnected : kNoAnswer);
    }
    if (!isJpeg(reply.payload())) {
        writeLog(kModule, kSnapshotSource, "The snapshot is not a JPEG picture.");
        return withoutPicture(SnapshotOutcome::lost, notAPictureReason(reply));
    }
    const std::span<const char> picture = reply.payload();
    FetchedSnapshot snapshot = withoutPicture(SnapshotOutcome::stored, {});
    snapshot.bytes.assign(picture.begin(), picture.end());
    snapshot.writeError = writeSnapshotFile(job.event.imagePath, picture);
    if (snapshot.writeError) {
        writeLog(kModule, kSnapshotSource, "Unable to write the snapshot file.");
        snapshot.outcome = SnapshotOutcome::unsaved;
    }
    return snapshot;
}

}  // namespace krt
