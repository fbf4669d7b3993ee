#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>

#include "cli_command.h"
#include "video/connection_text.h"
#include "video/frame_decoder.h"
#include "video/live_stream.h"
#include "video/tile_status.h"

namespace krt::cli {
namespace {

using Clock = std::chrono::steady_clock;

struct LiveOptions {
    std::string channelId;
    bool medium = false;
    int frames = 25;
    std::string outDir;
    double timeoutSeconds = 30.0;
};

std::string frameFileName(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%05d.jpg", number);
    return name;
}

// Takes the frames on the stream's receive thread: counts, keeps, decodes and reports each
// one until the wanted number came.
class LiveRecorder {
  public:
    LiveRecorder(CliSession& session, std::filesystem::path outDir, int wanted)
        : m_session(session), m_outDir(std::move(outDir)), m_wanted(wanted) {}

    void onFrame(const LiveFrame& frame) {
        int number = 0;
        {
            std::lock_guard lock(m_mutex);
            if (m_count >= m_wanted || m_failure) {
                return;
            }
            number = m_count + 1;
        }
        const auto payload = frame.payload();
        if (!m_outDir.empty() && !writeFile(m_outDir / frameFileName(number), payload)) {
            finish(std::nullopt, "cannot write " + (m_outDir / frameFileName(number)).string());
            return;
        }
        report(number, payload);
        finish(number, {});
    }

    // The stream ended by itself, before the frames wanted came.
    void streamEnded(StreamEnd end) {
        {
            std::lock_guard lock(m_mutex);
            m_end = end;
        }
        finish(std::nullopt, {}, true);
    }

    // Waits for the wanted frames, the end of the stream, a failure, an interruption or the
    // deadline.
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
        return m_count >= m_wanted || m_ended || m_failure;
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
    // Seconds from the first to the last frame.
    double seconds() const {
        std::lock_guard lock(m_mutex);
        return std::chrono::duration<double>(m_last - m_first).count();
    }

  private:
    // Through a temporary name renamed into place: a full disk leaves no half-written frame.
    static bool writeFile(const std::filesystem::path& path, std::span<const unsigned char> bytes) {
        std::filesystem::path temporary = path;
        temporary += ".part";
        bool written = false;
        {
            std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
            file.write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
            file.close();
            written = !file.fail();
        }
        std::error_code error;
        if (written) {
            std::filesystem::rename(temporary, path, error);
        }
        if (!written || error) {
            std::filesystem::remove(temporary, error);
            return false;
        }
        return true;
    }

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

    void finish(std::optional<int> number, std::string failure, bool ended = false) {
        {
            std::lock_guard lock(m_mutex);
            const Clock::time_point now = Clock::now();
            if (number) {
                m_count = *number;
                m_first = m_count == 1 ? now : m_first;
                m_last = now;
                m_lastFrameCalendar_s = static_cast<std::int64_t>(std::time(nullptr));
            }
            if (!failure.empty()) {
                m_failure = std::move(failure);
            }
            m_ended = m_ended || ended;
        }
        m_wake.wake();
    }

    CliSession& m_session;
    const std::filesystem::path m_outDir;
    const int m_wanted;
    FrameDecoder m_decoder;  // used on the receive thread only
    DecodedPicture m_picture;
    mutable std::mutex m_mutex;
    WakePipe m_wake;
    int m_count = 0;
    bool m_ended = false;
    std::optional<StreamEnd> m_end;
    std::int64_t m_lastFrameCalendar_s = 0;
    std::optional<std::string> m_failure;
    Clock::time_point m_first;
    Clock::time_point m_last;
};

void printSummary(CliSession& session, const LiveRecorder& recorder, int wanted) {
    const int frames = recorder.count();
    const double seconds = recorder.seconds();
    const double fps = frames >= 2 && seconds > 0 ? (frames - 1) / seconds : 0.0;
    if (session.json()) {
        session.printJson({{"result", frames >= wanted ? "ok" : "incomplete"},
                           {"frames", frames},
                           {"seconds", seconds},
                           {"fps", fps}});
        return;
    }
    char line[160];
    std::snprintf(line, sizeof line, "%d of %d frames in %.2f s: %.1f frames per second", frames,
                  wanted, seconds, fps);
    std::lock_guard lock(session.outputMutex());
    session.out() << line << '\n' << std::flush;
}

int runLive(CliSession& session, const LiveOptions& options) {
    std::error_code error;
    if (!options.outDir.empty() && !std::filesystem::create_directories(options.outDir, error) &&
        !std::filesystem::is_directory(options.outDir, error)) {
        return session.usageError("cannot create the folder " + options.outDir);
    }
    const std::optional<AppState> app = session.logIn();
    if (!app) {
        return kExitRefused;
    }
    const int index = findChannelIndex(app->m_channels, options.channelId);
    if (index < 0) {
        return session.refuse(
            "Channel " + printableText(options.channelId) + " is not in the catalogue.",
            "unknown-channel");
    }
    const VideoChannel& channel = app->m_channels[static_cast<std::size_t>(index)];

    LiveRecorder recorder(session, options.outDir, options.frames);
    LiveStream stream;
    stream.setMediumResolution(options.medium);
    stream.setFrameCallback([&recorder](const LiveFrame& frame) { recorder.onFrame(frame); });
    // A stream that closes or falls silent ends the wait early.
    stream.setEndCallback([&recorder](StreamEnd end) { recorder.streamEnded(end); });
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(options.timeoutSeconds));
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

    for (const std::optional<std::string>& line : {recorder.failure(), recorder.endText()}) {
        if (line) {
            std::lock_guard lock(session.outputMutex());
            session.err() << *line << '\n';
        }
    }
    printSummary(session, recorder, options.frames);
    return recorder.count() >= options.frames && !recorder.failure() ? kExitOk : kExitIncomplete;
}

}  // namespace

void registerLiveCommand(CommandRegistry& registry) {
    auto options = std::make_shared<LiveOptions>();
    CLI::App& command = registry.add(
        "live",
        "Open a channel's live stream as a video tile does and print one line per frame: "
        "number, bytes, decoded width and height; then the frames per second. Exit status 3 "
        "when fewer frames came than wanted",
        [options](CliSession& session) { return runLive(session, *options); });
    command.add_option("CHANNEL_ID", options->channelId, "ChannelID of the camera")->required();
    command.add_flag("--medium", options->medium,
                     "Ask for the medium resolution (as the single view does) instead of the low");
    command.add_option("--frames", options->frames, "Stop after N frames")
        ->check(CLI::Range(1, 1'000'000))
        ->capture_default_str();
    command.add_option("--out", options->outDir,
                       "Write each frame as received to DIR/frame-00001.jpg, ...");
    command.add_option("--timeout", options->timeoutSeconds, "Give up after SECONDS")
        ->check(CLI::Range(0.1, 86'400.0))
        ->capture_default_str();
}

}  // namespace krt::cli
