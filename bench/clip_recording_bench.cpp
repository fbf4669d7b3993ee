// What recording costs: 16 streams of krt-sim received at once, each recorded into a clip of its
// own as a tile records it, at the grid's low resolution (arg 0) and the single view's medium
// one (arg 1). The cost counted is the CPU time of the receive threads spent in the recorder
// (muxing and writing, system time included), against the elapsed time: core_share is the
// share of one core the recordings add (goal: under 0.05). frames_per_s and MB_per_s say what
// was recorded; each iteration records kSeconds and closes the clips.
#include <benchmark/benchmark.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "recording/clip_recorder.h"
#include "sim_config.h"
#include "sim_server.h"
#include "stream/connection_text.h"
#include "stream/live_stream.h"

namespace krt {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kStreams = 16;
constexpr auto kSeconds = 5s;

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Sixteen cameras of 1280 × 960 at the simulator's own rates (5 to 12 frames a second).
sim::SimServer& benchSim() {
    static const std::unique_ptr<sim::SimServer> server = [] {
        sim::SimConfig config = sim::defaultConfig();
        config.alarms.intervalSeconds = 0;
        const std::vector<sim::SimChannel> first = config.channels;
        for (std::size_t k = 0; config.channels.size() < kStreams; ++k) {
            sim::SimChannel extra = first[k % first.size()];
            extra.id = std::to_string(config.channels.size() + 1);
            config.channels.push_back(extra);
        }
        auto started = std::make_unique<sim::SimServer>(std::move(config));
        started->start("127.0.0.1", 0);
        return started;
    }();
    return *server;
}

// One stream and its recording; the recorder's share of the receive thread is counted.
struct RecordedStream {
    LiveStream stream;
    ClipRecorder recorder;
    std::atomic<double> recorderCpu_s{0};
    std::atomic<std::size_t> bytes{0};

    void start(const std::string& channelId, const fs::path& folder, bool medium) {
        VideoChannel channel;
        channel.ChannelID = channelId;
        channel.Width = 1280;
        channel.Height = 960;
        RecordingPlan plan = recordingPlanFor("127.0.0.1", channel);
        plan.folder = folder;
        if (const auto refused = recorder.start(std::move(plan))) {
            throw std::runtime_error(*refused);
        }
        stream.setMediumResolution(medium);
        stream.setFrameCallback([this](const LiveFrame& frame) {
            const double before = threadCpuSeconds();
            recorder.onFrame(frame);
            recorderCpu_s.store(recorderCpu_s.load() + threadCpuSeconds() - before);
            bytes.fetch_add(frame.payload().size());
        });
        const StreamResult result =
            stream.connectToCamera(formatConnectionText("127.0.0.1", channelId, benchSim().port()));
        if (result != StreamResult::Opened) {
            throw std::runtime_error("krt-sim did not stream");
        }
    }
};

void RecordSixteenStreams(benchmark::State& state) {
    const bool medium = state.range(0) == 1;
    const fs::path folder = fs::temp_directory_path() / "krt-clip-bench";
    double recorderCpu_s = 0;
    double elapsed_s = 0;
    double frames = 0;
    double bytes = 0;
    for (auto _ : state) {
        fs::remove_all(folder);
        std::vector<std::unique_ptr<RecordedStream>> streams;
        for (int k = 0; k < kStreams; ++k) {
            streams.push_back(std::make_unique<RecordedStream>());
            streams.back()->start(std::to_string(k + 1), folder, medium);
        }
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(kSeconds);
        for (const auto& recorded : streams) {
            recorded->stream.disconnectFromCamera();
            const double before = threadCpuSeconds();
            recorded->recorder.stop();
            recorderCpu_s += recorded->recorderCpu_s.load() + threadCpuSeconds() - before;
            frames += recorded->recorder.framesRecorded();
            bytes += static_cast<double>(recorded->bytes.load());
        }
        const double iteration_s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        elapsed_s += iteration_s;
        state.SetIterationTime(iteration_s);
    }
    fs::remove_all(folder);
    state.counters["core_share"] = recorderCpu_s / elapsed_s;
    state.counters["frames_per_s"] = frames / elapsed_s;
    state.counters["MB_per_s"] = bytes / elapsed_s / 1e6;
    state.SetLabel(medium ? "medium" : "low");
}
BENCHMARK(RecordSixteenStreams)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(2)
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace krt

BENCHMARK_MAIN();
