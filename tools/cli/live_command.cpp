#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include "cli_command.h"
#include "common/private_file.h"
#include "media/frame_decoder.h"
#include "recording/clip_recorder.h"
#include "stream/connection_text.h"
#include "stream/live_stream.h"
#include "tile/tile_status.h"

namespace krt::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultFrames = 25;
constexpr double kDefaultTimeoutSeconds = 30.0;

struct LiveOptions {
    std::string camera;  // "ID", or "SERVER:ID"
    bool medium = false;
    std::optional<int> frames;
    std::optional<double> seconds;
    std::string outDir;
    std::string recordFile;
    std::optional<double> timeoutSeconds;

    // Without --seconds the run ends after 25 frames unless told otherwise.
    std::optional<int> wantedFrames() const {
        return frames || seconds ? frames : std::optional(kDefaultFrames);
    }
    // A run of --seconds gets the default time-out beyond its length.
    double timeout() const {
        return timeoutSeconds.value_or(seconds.value_or(0) + kDefaultTimeoutSeconds);
    }
};

std::string frameFileName(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%05d.jpg", number);
    return name;
}

// Takes the frames on the stream's receive thread: counts, keeps, records, decodes and reports
// each one until the wanted number came or the wanted time passed.
class LiveRecorder {
  public:
    LiveRecorder(CliSession& session, std::filesystem::path outDir, std::optional<int> wanted,
                 std::optional<Clock::duration> length, ClipRecorder* clip)
        : m_session(session),
          m_outDir(std::move(outDir)),
          m_wanted(wanted),
          m_length(length),
          m_clip(clip) {}

    void onFrame(const LiveFrame& frame) {
        int number = 0;
        bool lengthReached = false;
        {
            std::lock_guard lock(m_mutex);
            if (doneLocked()) {
                return;
            }
            lengthReached = lengthReachedLocked(frame.arrival().steady);
            number = m_count + 1;
        }
        if (lengthReached) {
            m_wake.wake();
            return;
        }
        if (m_clip != nullptr) {
            m_clip->onFrame(frame);
        }
        const auto payload = frame.payload();
        if (!m_outDir.empty()) {
            // Whole or not at all: a full disk leaves no half-written frame.
            const std::filesystem::path path = m_outDir / frameFileName(number);
            if (const std::error_code error = writePrivateFile(
                    path, {reinterpret_cast<const char*>(payload.data()), payload.size()})) {
                fail("cannot write " + path.string() + ": " + error.message());
                return;
            }
        }
        report(number, payload);
        finish(number, frame.arrival());
    }

    // The stream ended by itself, before the frames or the time wanted came.
    void streamEnded(StreamEnd end) {
        {
            std::lock_guard lock(m_mutex);
            m_end = end;
            m_ended = true;
        }
        m_wake.wake();
    }
    void fail(std::string failure) {
        {
            std::lock_guard lock(m_mutex);
            if (!m_failure) {
                m_failure = std::move(failure);
            }
        }
        m_wake.wake();
    }

    // Waits for the wanted frames or time, the end of the stream, a failure, an interruption or
    // the deadline.
    void waitUntil(Clock::time_point deadline, const Cancellation& interruption) {
        while (!done() && !interruption.cancelled() && Clock::now() < deadline) {
            m_wake.waitUntil(deadline, interruption);
        }
    }

    int count() const {
        std::lock_guard lock(m_mutex);
        return m_count;
    }
    bool done() const {
        std::lock_guard lock(m_mutex);
        return doneLocked();
    }
    // Whether what was asked for came: the frames, or a run of the wanted length.
    bool complete() const {
        std::lock_guard lock(m_mutex);
        return !m_failure && ((m_wanted && m_count >= *m_wanted) || m_lengthReached);
    }
    std::optional<std::string> failure() const {
        std::lock_guard lock(m_mutex);
        return m_failure;
    }
    // How the stream ended, as a tile says it: "No video since 14:02:11: the server closed
    // the stream"; nothing when it did not end by itself.
    std::optional<std::string> endText() const {
        std::lock_guard lock(m_mutex);
        if (!m_end) {
            return std::nullopt;
        }
        const std::string since =
            m_count > 0 ? noVideoSinceText(m_lastFrameCalendar_s) : "No video";
        return since + ": " + std::string(streamEndText(*m_end));
    }
    // Seconds from the first to the last frame's arrival.
    double seconds() const {
        std::lock_guard lock(m_mutex);
        return std::chrono::duration<double>(m_last - m_first).count();
    }

  private:
    void report(int number, std::span<const unsigned char> payload) {
        PictureSize size;
        if (const auto announced = m_decoder.readSize(payload);
            announced && m_decoder.decode(payload, *announced, m_picture)) {
            size = *announced;
        }
        if (m_session.json()) {
            m_session.printJson({{"n", number},
                                 {"bytes", payload.size()},
                                 {"width", size.width},
                                 {"height", size.height}});
            return;
        }
        std::lock_guard lock(m_session.outputMutex());
        m_session.out() << number << "\tbytes=" << payload.size() << "\tsize=" << size.width << "x"
                        << size.height << (size.width == 0 ? " (does not decode)" : "") << '\n'
                        << std::flush;
    }

    bool doneLocked() const {
        return (m_wanted && m_count >= *m_wanted) || m_lengthReached || m_ended || m_failure;
    }
    // The first frame at or past the wanted length ends the run, unrecorded.
    bool lengthReachedLocked(Clock::time_point arrival) {
        m_lengthReached = m_length && m_count > 0 && arrival - m_first >= *m_length;
        return m_lengthReached;
    }

    void finish(int number, const FrameArrival& arrival) {
        {
            std::lock_guard lock(m_mutex);
            m_count = number;
            m_first = m_count == 1 ? arrival.steady : m_first;
            m_last = arrival.steady;
            m_lastFrameCalendar_s = std::chrono::system_clock::to_time_t(arrival.calendar);
        }
        m_wake.wake();
    }

    CliSession& m_session;
    const std::filesystem::path m_outDir;
    const std::optional<int> m_wanted;
    const std::optional<Clock::duration> m_length;
    ClipRecorder* const m_clip;
    FrameDecoder m_decoder;  // used on the receive thread only
    DecodedPicture m_picture;
    mutable std::mutex m_mutex;
    WakePipe m_wake;
    int m_count = 0;
    bool m_lengthReached = false;
    bool m_ended = false;
    std::optional<StreamEnd> m_end;
    std::int64_t m_lastFrameCalendar_s = 0;
    std::optional<std::string> m_failure;
    Clock::time_point m_first;
    Clock::time_point m_last;
};

struct ClipOutcome {
    std::filesystem::path file;
    int frames = 0;
};

void printSummary(CliSession& session, const LiveRecorder& recorder,
                  const std::optional<int>& wanted, const std::optional<ClipOutcome>& clip) {
    const int frames = recorder.count();
    const double seconds = recorder.seconds();
    const double fps = frames >= 2 && seconds > 0 ? (frames - 1) / seconds : 0.0;
    if (session.json()) {
        nlohmann::ordered_json summary{{"result", recorder.complete() ? "ok" : "incomplete"},
                                       {"frames", frames},
                                       {"seconds", seconds},
                                       {"fps", fps}};
        if (clip) {
            summary["clip"] = clip->file.string();
            summary["clipFrames"] = clip->frames;
        }
        session.printJson(summary);
        return;
    }
    char line[160];
    if (wanted) {
        std::snprintf(line, sizeof line, "%d of %d frames in %.2f s: %.1f frames per second",
                      frames, *wanted, seconds, fps);
    } else {
        std::snprintf(line, sizeof line, "%d frames in %.2f s: %.1f frames per second", frames,
                      seconds, fps);
    }
    std::lock_guard lock(session.outputMutex());
    session.out() << line << '\n';
    if (clip) {
        session.out() << clip->frames << " frames recorded into " << clip->file.string() << '\n';
    }
    session.out() << std::flush;
}

// Records the run into a file, keeping what the recorder tells.
class ClipOfRun {
  public:
    ClipRecorder& recorder() { return m_clip; }

    // Nothing, or why the recording cannot start. A write that fails later fails the run.
    std::optional<std::string> start(const AppState& app, const VideoChannel& channel,
                                     const std::filesystem::path& file, LiveRecorder& run) {
        m_clip.setListener([this, &run](const RecordingNews& news) {
            if (news.kind == RecordingNews::Kind::Failed) {
                run.fail(news.message);
            } else if (news.kind == RecordingNews::Kind::ClipSaved) {
                std::lock_guard lock(m_mutex);
                m_saved = ClipOutcome{news.file, news.frames};
            }
        });
        // The run ends the recording: it has no length of its own.
        RecordingPlan plan = recordingPlanFor(app.m_serverAddress, channel);
        plan.file = file;
        return m_clip.start(std::move(plan));
    }

    // Closes the clip: what it holds, or nothing when no clip was made.
    std::optional<ClipOutcome> finish() {
        m_clip.stop();
        std::lock_guard lock(m_mutex);
        return m_saved;
    }

  private:
    ClipRecorder m_clip;
    std::mutex m_mutex;
    std::optional<ClipOutcome> m_saved;
};

int runLive(CliSession& session, const LiveOptions& options) {
    if (!options.outDir.empty() && makePrivateFolder(options.outDir)) {
        return session.usageError("cannot create the folder " + options.outDir);
    }
    const std::optional<std::pair<std::size_t, std::string>> camera =
        pickCamera(options.camera, session.servers());
    if (!camera) {
        return session.usageError("no server of the command line in " + options.camera +
                                  ": with several --server, give SERVER:ID");
    }
    const auto& [server, channelId] = *camera;
    const std::optional<AppState> app = session.logIn(session.servers()[server]);
    if (!app) {
        return kExitRefused;
    }
    const int index = findChannelIndex(app->m_channels, channelId);
    if (index < 0) {
        return session.refuse("Channel " + printableText(channelId) + " is not in the catalogue.",
                              "unknown-channel");
    }
    const VideoChannel& channel = app->m_channels[static_cast<std::size_t>(index)];

    const std::optional<Clock::duration> length =
        options.seconds ? std::optional(std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(*options.seconds)))
                        : std::nullopt;
    std::optional<ClipOfRun> clip;
    if (!options.recordFile.empty()) {
        clip.emplace();
    }
    LiveRecorder recorder(session, options.outDir, options.wantedFrames(), length,
                          clip ? &clip->recorder() : nullptr);
    if (clip) {
        if (const std::optional<std::string> refused =
                clip->start(*app, channel, options.recordFile, recorder)) {
            return session.refuse(*refused, "cannot-record");
        }
    }
    LiveStream stream;
    stream.setMediumResolution(options.medium);
    stream.setFrameCallback([&recorder](const LiveFrame& frame) { recorder.onFrame(frame); });
    // A stream that closes or falls silent ends the wait early.
    stream.setEndCallback([&recorder](StreamEnd end) { recorder.streamEnded(end); });
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(options.timeout()));
    // An interruption stops the stream from here, also while it connects.
    const WakePipe runEnded;
    std::atomic<bool> ended{false};
    const std::jthread interrupter([&] {
        while (!ended.load() && !session.interruption().cancelled()) {
            runEnded.waitUntil(Clock::time_point::max(), session.interruption());
        }
        if (!ended.load()) {
            stream.disconnectFromCamera();
        }
    });
    const struct EndOfRun {
        std::atomic<bool>& ended;
        const WakePipe& pipe;
        ~EndOfRun() {
            ended.store(true);
            pipe.wake();
        }
    } endOfRun{ended, runEnded};

    const StreamResult result = stream.connectToCamera(
        formatConnectionText(app->m_serverAddress, channel.ChannelID, app->m_serverPort));
    if (result != StreamResult::Opened) {
        std::lock_guard lock(session.outputMutex());
        session.err() << "The live stream of channel " << printableText(channel.ChannelID)
                      << " could not be opened (" << streamResultText(result) << ").\n";
        return kExitIncomplete;
    }
    recorder.waitUntil(deadline, session.interruption());
    stream.disconnectFromCamera();
    const std::optional<ClipOutcome> saved = clip ? clip->finish() : std::nullopt;

    for (const std::optional<std::string>& line : {recorder.failure(), recorder.endText()}) {
        if (line) {
            std::lock_guard lock(session.outputMutex());
            session.err() << *line << '\n';
        }
    }
    printSummary(session, recorder, options.wantedFrames(), saved);
    return recorder.complete() ? kExitOk : kExitIncomplete;
}

}  // namespace

void registerLiveCommand(CommandRegistry& registry) {
    auto options = std::make_shared<LiveOptions>();
    CLI::App& command = registry.add(
        "live",
        "Open a channel's live stream as a video tile does and print one line per frame: "
        "number, bytes, decoded width and height; then the frames per second. Exit status 3 "
        "when fewer frames came than wanted",
        [options](CliSession& session) { return runLive(session, *options); },
        ServerUse::logsInToEach);
    command
        .add_option("CAMERA", options->camera,
                    "ChannelID of the camera; SERVER:ID where several --server are given, "
                    "SERVER being a server's name or its address as given")
        ->required();
    command.add_flag("--medium", options->medium,
                     "Ask for the medium resolution (as the single view does) instead of the low");
    command
        .add_option("--frames", options->frames,
                    "Stop after N frames (25 unless --seconds is given)")
        ->check(CLI::Range(1, 1'000'000));
    command
        .add_option("--seconds", options->seconds,
                    "Stop after N seconds of frames, counted from the first frame's arrival")
        ->check(CLI::Range(0.1, 86'400.0));
    command.add_option("--out", options->outDir,
                       "Write each frame as received to DIR/frame-00001.jpg, ...");
    command
        .add_option("--record", options->recordFile,
                    "Record the frames as received, unchanged, into the Matroska clip FILE "
                    "(Motion JPEG, each frame stamped by its arrival)")
        ->type_name("FILE");
    command
        .add_option("--timeout", options->timeoutSeconds,
                    "Give up after SECONDS (default 30, beyond --seconds when that is given)")
        ->check(CLI::Range(0.1, 86'400.0));
}

}  // namespace krt::cli
