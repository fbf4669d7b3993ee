// Frames per second of the live video path, on frames of krt-sim (640 × 480 and 1280 × 720,
// drawn into a tile 320 pixels wide), its default flat ones (frames:0, about 9 KB at 640 × 480
// without captions, which need a QGuiApplication) and its camera-like ones (frames:1,
// pictureDetail "camera", about 60 KB; the label gives the mean):
//   RawDecode          TurboJPEG's scaled decode alone on frames held in memory, to a size that
//                      is one of its DCT scales: the limit;
//   DecodeAndFit       FrameDecoder on the same frames to sizes a tile really has, which are no
//                      DCT scale (308 × 231 in the grid, 616 × 462 in the single view): the
//                      scaled decode and libyuv's bilinear scaling to the exact size (set:2
//                      shows libyuv on a processor without AVX-512, set:1 one without AVX2;
//                      JSIMD_FORCESSE2=1 does the same to the decode), in turns with
//                      TurboJPEG's decode of the same frames at the DCT scale the fit starts
//                      from: vs_exact is the fit's rate against that decode's;
//   DecodeZoomed       FrameDecoder on frames held in memory to the grid's tile, zoomed `zoom`
//                      times about the picture's middle (only the part shown decoded), in turns
//                      with the same frames decoded whole to the same tile: vs_whole is the
//                      zoomed rate against the whole picture's (1 or more: zooming is no
//                      dearer);
//   WaitingDecode      FrameDecoder on frames held in memory to the tile, sleeping before each
//                      frame about as long as a paced stream's tile waits for one: what waiting
//                      alone costs a decode on this machine;
//   StreamDecode       the whole path: krt-sim streams over loopback, LiveStream
//                      receives, FrameDecoder decodes to the tile's size; with one stream or
//                      four at once; at a pace (kPacedFrameRate), or (backlog) with no frame-rate
//                      cap on frames that have piled up in the connection.
// Every rate is per core: frames per CPU-second of the thread(s) that receive and decode
// (manual time), so that the simulator, which paints and encodes every frame on a core of its
// own, does not set it. wall_fps is the rate the streams reached in elapsed time, and waited
// the share of frames the thread slept for; decode_share is the part of the receive threads'
// CPU time that went to decoding, so that 1 − decode_share is what the path costs beyond the
// decode; vs_memory is the rate against FrameDecoder's on the channel's frames held in memory,
// decoded by the same thread in turns with the frames received.
#include <benchmark/benchmark.h>
#include <libyuv/cpu_id.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <turbojpeg.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "media/digital_zoom.h"
#include "media/frame_decoder.h"
#include "sim_config.h"
#include "sim_server.h"
#include "stream/connection_text.h"
#include "stream/live_stream.h"
#include "tile/video_window_logic.h"

namespace krt {
namespace {

using namespace std::chrono_literals;

constexpr int kTileWidth = 320;
constexpr int kTileHeight = 240;
constexpr std::size_t kHeldFrames = 60;
constexpr int kFramesPerIteration = 50;
// Frames decoded in each turn, from the stream and then from memory, one turn after the other:
// the two sides of vs_memory are never more than a few milliseconds apart, so that both see the
// machine at the same speed, which on a shared host changes faster than two runs can follow.
constexpr std::size_t kFramesPerTurn = 2;
constexpr auto kBacklogTime = 500ms;

struct BenchChannel {
    const char* id;
    int width;
    int height;
};
constexpr BenchChannel kChannels[] = {{"vga", 640, 480}, {"hd", 1280, 720}};
// The frame rate of streams at a pace, far below what the path takes, so that a tile's thread
// waits for every frame even beside its turns of in-memory decodes: above any camera's on the
// simulator's flat frames; a surveillance camera's usual rate on camera-like ones, where four
// HD streams at a higher one keep a shared core busy and the tiles never catch up.
constexpr double kPacedFrameRate = 100;
constexpr double kPacedCameraFrameRate = 15;

std::string pacedId(const BenchChannel& channel) {
    return std::string(channel.id) + "-paced";
}

// How often the calling thread has slept: here, waiting for a frame.
long threadWaits() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

VideoChannel catalogueRecord(const BenchChannel& channel) {
    VideoChannel record;
    record.ChannelID = channel.id;
    record.Width = channel.width;
    record.Height = channel.height;
    record.DetailsLoaded = true;
    return record;
}

// Where the tile draws the channel: the size every frame is decoded to.
PictureSize tileTarget(const BenchChannel& channel) {
    const Rect placement = *picturePlacement(kTileWidth, kTileHeight, catalogueRecord(channel));
    return {placement.width, placement.height};
}

// The simulator stands in for a server on another machine: given a core of its own, its
// painting does not evict the client's caches or take the client's core between frames. The
// benchmark's own thread, and so every client thread it starts, keeps the other core.
class CoreSplit {
  public:
    CoreSplit() {
        cpu_set_t allowed;
        CPU_ZERO(&allowed);
        if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
            return;
        }
        for (int cpu = 0; cpu < CPU_SETSIZE && m_cores.size() < 2; ++cpu) {
            if (CPU_ISSET(cpu, &allowed)) {
                m_cores.push_back(cpu);
            }
        }
    }
    // Runs `start` on the simulator's core, so that the threads it starts stay there.
    template <typename Start>
    void startOnSimulatorCore(Start&& start) {
        const bool split = m_cores.size() == 2 && pinCallingThread(m_cores[1]);
        start();
        if (split) {
            pinCallingThread(m_cores[0]);
        }
    }

  private:
    static bool pinCallingThread(int cpu) {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(cpu, &set);
        return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
    }
    std::vector<int> m_cores;
};

enum class FrameKind { Simulator, CameraLike };

// One simulator for each kind of frames for the whole run: both channels at their full size,
// with no frame-rate cap and at a pace.
class BenchSim {
  public:
    static BenchSim& instance(FrameKind kind) {
        static BenchSim flat(sim::PictureDetail::Flat);
        static BenchSim camera(sim::PictureDetail::Camera);
        return kind == FrameKind::Simulator ? flat : camera;
    }
    std::string connectionText(const BenchChannel& channel, bool paced = false) const {
        return formatConnectionText("127.0.0.1", paced ? pacedId(channel) : channel.id,
                                    m_server->port());
    }

  private:
    explicit BenchSim(sim::PictureDetail detail) {
        sim::SimConfig config = sim::defaultConfig();
        config.pictureDetail = detail;
        config.alarms.intervalSeconds = 0;
        config.lowResolutionDivisor = 1;
        config.channels.clear();
        for (const BenchChannel& channel : kChannels) {
            sim::SimChannel simChannel;
            simChannel.id = channel.id;
            simChannel.description = channel.id;
            simChannel.width = channel.width;
            simChannel.height = channel.height;
            simChannel.frameRate = 0;
            config.channels.push_back(simChannel);
            simChannel.id = pacedId(channel);
            simChannel.frameRate =
                detail == sim::PictureDetail::Flat ? kPacedFrameRate : kPacedCameraFrameRate;
            config.channels.push_back(simChannel);
        }
        m_server = std::make_unique<sim::SimServer>(std::move(config));
        // Any free port: the benchmark may run beside a krt-sim on 5500.
        CoreSplit().startOnSimulatorCore([this] { m_server->start("127.0.0.1", 0); });
    }
    std::unique_ptr<sim::SimServer> m_server;
};

// Frames of the channel as krt-sim streams them, held in memory.
std::vector<std::vector<unsigned char>> streamedFrames(const BenchChannel& channel,
                                                       FrameKind kind) {
    std::vector<std::vector<unsigned char>> frames;
    std::mutex framesMutex;
    std::condition_variable enough;
    LiveStream stream;
    stream.setFrameCallback([&](const LiveFrame& frame) {
        std::lock_guard framesLock(framesMutex);
        if (frames.size() < kHeldFrames) {
            frames.emplace_back(frame.payload().begin(), frame.payload().end());
        }
        enough.notify_all();
    });
    if (stream.connectToCamera(BenchSim::instance(kind).connectionText(channel)) !=
        StreamResult::Opened) {
        throw std::runtime_error("krt-sim did not stream");
    }
    std::unique_lock framesLock(framesMutex);
    enough.wait_for(framesLock, 30s, [&] { return frames.size() >= kHeldFrames; });
    framesLock.unlock();
    stream.disconnectFromCamera();
    return frames;
}

const std::vector<std::vector<unsigned char>>& heldFrames(const BenchChannel& channel,
                                                          FrameKind kind = FrameKind::Simulator) {
    static std::mutex mutex;
    static std::map<std::pair<std::string, FrameKind>, std::vector<std::vector<unsigned char>>>
        byChannel;
    std::lock_guard lock(mutex);
    auto& frames = byChannel[{channel.id, kind}];
    if (frames.empty()) {
        frames = streamedFrames(channel, kind);
    }
    return frames;
}

// TurboJPEG's own decode to one of its DCT scales, into rows 16 bytes past a 32-byte boundary:
// rows that start on one are written past the cache, which is slower, and the limit is taken
// at its best wherever the allocation fell.
class ExactDecode {
  public:
    explicit ExactDecode(PictureSize size)
        : m_size(size),
          m_storage(static_cast<std::size_t>(size.width * size.height * 4) + 32 + kPastBoundary),
          m_pixels(m_storage.data() +
                   (32 - reinterpret_cast<std::uintptr_t>(m_storage.data()) % 32) % 32 +
                   kPastBoundary) {}
    bool decode(const std::vector<unsigned char>& jpeg) {
        const bool decoded =
            tjDecompress2(m_decoder.get(), jpeg.data(), jpeg.size(), m_pixels, m_size.width,
                          m_size.width * 4, m_size.height, TJPF_BGRX, TJFLAG_BOTTOMUP) == 0;
        benchmark::DoNotOptimize(m_pixels);
        return decoded;
    }
    const char* error() const { return tjGetErrorStr2(m_decoder.get()); }

  private:
    static constexpr std::size_t kPastBoundary = 16;
    PictureSize m_size;
    std::unique_ptr<void, int (*)(tjhandle)> m_decoder{tjInitDecompress(), tjDestroy};
    std::vector<unsigned char> m_storage;
    unsigned char* m_pixels;
};

FrameKind frameKind(const benchmark::State& state, int index) {
    return state.range(index) == 0 ? FrameKind::Simulator : FrameKind::CameraLike;
}

// Sets the label: the channel, the frames and their mean size.
void label(benchmark::State& state, const BenchChannel& channel, FrameKind kind,
           const std::vector<std::vector<unsigned char>>& frames) {
    std::size_t bytes = 0;
    for (const auto& frame : frames) {
        bytes += frame.size();
    }
    state.SetLabel(std::string(channel.id) +
                   (kind == FrameKind::Simulator ? " krt-sim " : " camera-like ") +
                   std::to_string(bytes / frames.size() / 1000) + " KB");
}

// (a) The limit: tjDecompress2 at a DCT-scaled size, nothing else.
void RawDecode(benchmark::State& state) {
    const BenchChannel& channel = kChannels[state.range(0)];
    const FrameKind kind = frameKind(state, 1);
    const auto& frames = heldFrames(channel, kind);
    ExactDecode decoder({static_cast<int>(state.range(2)), static_cast<int>(state.range(3))});
    std::size_t next = 0;
    for (auto _ : state) {
        if (!decoder.decode(frames[next++ % frames.size()])) {
            state.SkipWithError(decoder.error());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    label(state, channel, kind, frames);
}

// libyuv held to the instruction sets up to `set` while this lives (3: all it has, 2: none of
// AVX-512, 1: neither AVX2 nor AVX), as processors without the wider sets run it. Debian's
// libyuv reads no environment switch for this.
class ScalingInstructionSets {
  public:
    explicit ScalingInstructionSets(long set) {
        constexpr int kAvx512 = libyuv::kCpuHasAVX512BW | libyuv::kCpuHasAVX512VL |
                                libyuv::kCpuHasAVX512VNNI | libyuv::kCpuHasAVX512VBMI |
                                libyuv::kCpuHasAVX512VBMI2 | libyuv::kCpuHasAVX512VBITALG |
                                libyuv::kCpuHasAVX512VPOPCNTDQ;
        constexpr int kAvx =
            libyuv::kCpuHasAVX | libyuv::kCpuHasAVX2 | libyuv::kCpuHasFMA3 | libyuv::kCpuHasF16C;
        libyuv::MaskCpuFlags(set >= 3 ? -1 : set == 2 ? ~kAvx512 : ~(kAvx512 | kAvx));
    }
    ~ScalingInstructionSets() { libyuv::MaskCpuFlags(-1); }
    ScalingInstructionSets(const ScalingInstructionSets&) = delete;
    ScalingInstructionSets& operator=(const ScalingInstructionSets&) = delete;
};

// A tile's decode of frames held in memory, to any size, libyuv held to the instruction sets
// up to `set`; each turn of frames is decoded again by TurboJPEG alone at the DCT scale that
// the fit starts from, on the same core and caches a few milliseconds apart, so that both see
// the shared machine at the same speed.
void DecodeAndFit(benchmark::State& state) {
    const BenchChannel& channel = kChannels[state.range(0)];
    const FrameKind kind = frameKind(state, 1);
    const auto& frames = heldFrames(channel, kind);
    const PictureSize target{static_cast<int>(state.range(2)), static_cast<int>(state.range(3))};
    const ScalingInstructionSets sets(state.range(4));
    const PictureSize source{channel.width, channel.height};
    std::vector<ScalingFactor> factors;
    int factorCount = 0;
    const tjscalingfactor* tjFactors = tjGetScalingFactors(&factorCount);
    for (int i = 0; i < factorCount; ++i) {
        factors.push_back({tjFactors[i].num, tjFactors[i].denom});
    }
    ExactDecode exact(scaledSize(source, chooseScalingFactor(source, target, factors)));
    FrameDecoder decoder;
    DecodedPicture picture;
    std::size_t next = 0;
    double fitSeconds = 0;
    double exactSeconds = 0;
    for (auto _ : state) {
        const std::size_t first = next;
        double start = threadCpuSeconds();
        for (std::size_t i = 0; i < kFramesPerTurn; ++i) {
            if (!decoder.decode(frames[next++ % frames.size()], target, picture)) {
                state.SkipWithError("a frame did not decode");
                return;
            }
            benchmark::DoNotOptimize(picture.pixels.data());
        }
        const double fit = threadCpuSeconds() - start;
        start = threadCpuSeconds();
        for (std::size_t i = 0; i < kFramesPerTurn; ++i) {
            exact.decode(frames[(first + i) % frames.size()]);
        }
        exactSeconds += threadCpuSeconds() - start;
        fitSeconds += fit;
        state.SetIterationTime(fit);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(kFramesPerTurn));
    state.counters["vs_exact"] = exactSeconds / fitSeconds;
    label(state, channel, kind, frames);
}

// A zoomed tile's decode against the whole picture's, on the same frames a few milliseconds
// apart.
void DecodeZoomed(benchmark::State& state) {
    const BenchChannel& channel = kChannels[state.range(0)];
    const FrameKind kind = frameKind(state, 1);
    const auto& frames = heldFrames(channel, kind);
    const PictureSize target{static_cast<int>(state.range(2)), static_cast<int>(state.range(3))};
    DigitalZoom zoom;
    zoom.zoomAt(static_cast<double>(state.range(4)), ZoomPoint{});
    const ZoomRegion part = zoom.visible();
    FrameDecoder zoomedDecoder;
    FrameDecoder wholeDecoder;
    DecodedPicture picture;
    std::size_t next = 0;
    double zoomedSeconds = 0;
    double wholeSeconds = 0;
    for (auto _ : state) {
        const std::size_t first = next;
        double start = threadCpuSeconds();
        for (std::size_t i = 0; i < kFramesPerTurn; ++i) {
            if (!zoomedDecoder.decode(frames[next++ % frames.size()], target, picture, part)) {
                state.SkipWithError("a frame did not decode");
                return;
            }
            benchmark::DoNotOptimize(picture.pixels.data());
        }
        const double zoomed = threadCpuSeconds() - start;
        start = threadCpuSeconds();
        for (std::size_t i = 0; i < kFramesPerTurn; ++i) {
            wholeDecoder.decode(frames[(first + i) % frames.size()], target, picture);
            benchmark::DoNotOptimize(picture.pixels.data());
        }
        wholeSeconds += threadCpuSeconds() - start;
        zoomedSeconds += zoomed;
        state.SetIterationTime(zoomed);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(kFramesPerTurn));
    state.counters["vs_whole"] = wholeSeconds / zoomedSeconds;
    label(state, channel, kind, frames);
}

// What waiting for frames costs by itself: FrameDecoder on frames held in memory to the tile,
// sleeping `idle_us` before each frame as a paced stream's tile waits on its socket (about
// that long), in turns with as many held frames decoded without waits. vs_memory is the
// rate of the decodes after a wait, with the sleep's own CPU time, against the others'.
void WaitingDecode(benchmark::State& state) {
    const BenchChannel& channel = kChannels[state.range(0)];
    const std::chrono::microseconds idle(state.range(1));
    const auto& frames = heldFrames(channel);
    const PictureSize target = tileTarget(channel);
    FrameDecoder decoder;
    DecodedPicture picture;
    std::size_t next = 0;
    const auto decodeTurn = [&](std::optional<std::chrono::microseconds> wait) {
        const double start = threadCpuSeconds();
        for (std::size_t i = 0; i < kFramesPerTurn; ++i) {
            if (wait) {
                std::this_thread::sleep_for(*wait);
            }
            decoder.decode(frames[next++ % frames.size()], target, picture);
            benchmark::DoNotOptimize(picture.pixels.data());
        }
        return threadCpuSeconds() - start;
    };
    double waitingSeconds = 0;
    double memorySeconds = 0;
    for (auto _ : state) {
        const double seconds = decodeTurn(idle);
        memorySeconds += decodeTurn(std::nullopt);
        state.SetIterationTime(seconds);
        waitingSeconds += seconds;
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(kFramesPerTurn));
    state.counters["vs_memory"] = memorySeconds / waitingSeconds;
    state.SetLabel(channel.id);
}

// One stream as a tile runs it: receive, then decode to the tile's size. Each turn of frames
// received is followed by a turn of frames held in memory, decoded by the same decoder into the
// same picture: the in-memory decode that the path is held to, on the same core and caches.
// The held frames are the channel's, taken in order, so that each follows a frame much like it
// as in a live stream, and recur only after the whole set: a frame decoded again soon after
// its last decode is up to 5% faster, the processor predicting its branches from that one.
// The benchmark can stop the receive thread between two frames, so that frames pile up.
class TileStream {
  public:
    TileStream(const BenchChannel& channel, FrameKind kind, bool paced)
        : m_target(tileTarget(channel)), m_heldFrames(heldFrames(channel, kind)) {
        m_stream.setFrameCallback([this](const LiveFrame& frame) { onFrame(frame); });
        if (m_stream.connectToCamera(BenchSim::instance(kind).connectionText(channel, paced)) !=
            StreamResult::Opened) {
            throw std::runtime_error("krt-sim did not stream");
        }
    }
    ~TileStream() {
        resume(false);
        m_stream.disconnectFromCamera();
    }

    struct Progress {
        long frames = 0;
        double cpuSeconds = 0;     // of the receive thread, at the end of the last frame
        double decodeSeconds = 0;  // the part of it spent decoding received frames
        long memoryFrames = 0;     // held frames decoded in turns with the received ones
        double memorySeconds = 0;  // the part of the thread's CPU time that took
        long waits = 0;  // times the receive thread slept, where a measurement starts or ends
        std::chrono::steady_clock::time_point time;
    };
    // Stops the receive thread after its next frame; false when no frame came.
    bool pause() {
        std::unique_lock lock(m_mutex);
        m_pauseRequested = true;
        return m_changed.wait_for(lock, 30s, [&] { return m_paused; });
    }
    // Lets the receive thread go on. With `catchUp`, start() waits until it has taken the
    // frames that piled up meanwhile and waits for the server again.
    void resume(bool catchUp) {
        std::lock_guard lock(m_mutex);
        m_pauseRequested = false;
        m_catchingUp = catchUp;
        m_start.reset();
        m_changed.notify_all();
    }
    // The progress where a measurement starts: right after the pause, or once caught up.
    std::optional<Progress> start() {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, 30s, [&] { return m_start.has_value(); });
        return m_start;
    }
    std::optional<Progress> waitForFrames(long frames) {
        std::unique_lock lock(m_mutex);
        m_awaitedFrames = frames;
        if (!m_changed.wait_for(lock, 30s, [&] { return m_progress.frames >= frames; })) {
            return std::nullopt;
        }
        return m_progress;
    }
    int frameBufferBytes() {
        std::lock_guard lock(m_mutex);
        return m_frameBufferBytes;
    }
    std::size_t pictureBytes() const { return m_picture.pixels.capacity(); }
    const std::vector<std::vector<unsigned char>>& frames() const { return m_heldFrames; }
    int failedFrames() const { return m_decoder.failedFrames(); }

  private:
    void onFrame(const LiveFrame& frame) {
        const double decodeStart = threadCpuSeconds();
        m_decoder.decode(frame.payload(), m_target, m_picture);
        const double decodeEnd = threadCpuSeconds();
        const bool memoryTurn = ++m_framesThisTurn == kFramesPerTurn;
        if (memoryTurn) {
            for (std::size_t i = 0; i < kFramesPerTurn; ++i) {
                m_decoder.decode(m_heldFrames[m_nextHeld++ % m_heldFrames.size()], m_target,
                                 m_picture);
                benchmark::DoNotOptimize(m_picture.pixels.data());
            }
            m_framesThisTurn = 0;
        }
        const double memoryEnd = memoryTurn ? threadCpuSeconds() : decodeEnd;
        std::unique_lock lock(m_mutex);
        ++m_progress.frames;
        m_progress.decodeSeconds += decodeEnd - decodeStart;
        if (memoryTurn) {
            m_progress.memoryFrames += static_cast<long>(kFramesPerTurn);
            m_progress.memorySeconds += memoryEnd - decodeEnd;
        }
        m_frameBufferBytes = frame.capacity();
        bool wake = m_progress.frames == m_awaitedFrames;
        const bool pausedHere = m_pauseRequested;
        if (pausedHere) {
            m_paused = true;
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return !m_pauseRequested; });
            m_paused = false;
        }
        m_progress.cpuSeconds = pausedHere ? threadCpuSeconds() : memoryEnd;
        m_progress.time = std::chrono::steady_clock::now();
        const bool starts =
            !m_start && !(m_catchingUp && (pausedHere || frame.newerFrameWaiting()));
        if (starts || wake) {
            m_progress.waits = threadWaits();
        }
        if (starts) {
            m_start = m_progress;
            wake = true;
        }
        // Waking the benchmark's thread on every frame would charge the path with a cost that
        // is the benchmark's own.
        if (wake) {
            m_changed.notify_all();
        }
    }

    const PictureSize m_target;
    FrameDecoder m_decoder;
    DecodedPicture m_picture;
    const std::vector<std::vector<unsigned char>>& m_heldFrames;
    std::size_t m_nextHeld = 0;
    std::size_t m_framesThisTurn = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    Progress m_progress;
    std::optional<Progress> m_start;
    int m_frameBufferBytes = 0;
    long m_awaitedFrames = 0;
    bool m_pauseRequested = false;
    bool m_paused = false;
    bool m_catchingUp = false;
    LiveStream m_stream;  // last: it stops before the decoder goes
};

// (b) and (c): the whole path, one or four streams.
void StreamDecode(benchmark::State& state) {
    const BenchChannel& channel = kChannels[state.range(0)];
    const FrameKind kind = frameKind(state, 1);
    const auto streamCount = static_cast<std::size_t>(state.range(2));
    const bool backlog = state.range(3) != 0;
    std::vector<std::unique_ptr<TileStream>> streams;
    for (std::size_t i = 0; i < streamCount; ++i) {
        streams.push_back(std::make_unique<TileStream>(channel, kind, !backlog));
    }
    long frames = 0;
    double pathSeconds = 0;
    double decodeSeconds = 0;
    long memoryFrames = 0;
    double memorySeconds = 0;
    double wallSeconds = 0;
    long waits = 0;
    for (auto _ : state) {
        const auto pauseStart = std::chrono::steady_clock::now();
        for (const auto& stream : streams) {
            if (!stream->pause()) {
                state.SkipWithError("the stream stalled");
                return;
            }
        }
        // With a backlog, frames pile up in every connection meanwhile, so that what follows
        // measures how fast the path takes frames that are waiting rather than how fast the
        // simulator paints them. Without one, the streams first take what piled up.
        if (backlog) {
            std::this_thread::sleep_until(pauseStart + kBacklogTime);
        }
        for (const auto& stream : streams) {
            stream->resume(!backlog);
        }
        double iterationSeconds = 0;
        auto firstStart = std::chrono::steady_clock::time_point::max();
        auto lastEnd = std::chrono::steady_clock::time_point::min();
        for (const auto& stream : streams) {
            const std::optional<TileStream::Progress> before = stream->start();
            const std::optional<TileStream::Progress> after =
                before ? stream->waitForFrames(before->frames + kFramesPerIteration) : std::nullopt;
            if (!after) {
                state.SkipWithError("the stream stalled");
                return;
            }
            const double memory = after->memorySeconds - before->memorySeconds;
            iterationSeconds += after->cpuSeconds - before->cpuSeconds - memory;
            memorySeconds += memory;
            memoryFrames += after->memoryFrames - before->memoryFrames;
            decodeSeconds += after->decodeSeconds - before->decodeSeconds;
            frames += after->frames - before->frames;
            waits += after->waits - before->waits;
            firstStart = std::min(firstStart, before->time);
            lastEnd = std::max(lastEnd, after->time);
        }
        wallSeconds += std::chrono::duration<double>(lastEnd - firstStart).count();
        state.SetIterationTime(iterationSeconds);
        pathSeconds += iterationSeconds;
    }
    state.SetItemsProcessed(frames);
    if (!backlog) {
        state.counters["wall_fps"] = static_cast<double>(frames) / wallSeconds;
        state.counters["waited"] = static_cast<double>(waits) / static_cast<double>(frames);
    }
    state.counters["decode_share"] = decodeSeconds / pathSeconds;
    state.counters["vs_memory"] = (static_cast<double>(frames) / pathSeconds) /
                                  (static_cast<double>(memoryFrames) / memorySeconds);
    state.counters["frame_buffer_bytes"] = streams.front()->frameBufferBytes();
    state.counters["picture_bytes"] = static_cast<double>(streams.front()->pictureBytes());
    int failed = 0;
    for (const auto& stream : streams) {
        failed += stream->failedFrames();
    }
    state.counters["undecoded"] = failed;
    label(state, channel, kind, streams.front()->frames());
}

// The tile of StreamDecode, and the exact scales that the fitted sizes below round up to.
BENCHMARK(RawDecode)
    ->ArgNames({"channel", "frames", "width", "height"})
    ->ArgsProduct({{0}, {0, 1}, {320}, {240}})
    ->ArgsProduct({{0}, {0, 1}, {640}, {480}})
    ->ArgsProduct({{1}, {0, 1}, {320}, {180}});
// The grid's and the single view's sizes on both kinds of frames; then without AVX-512 and
// without AVX2 in the scaling.
BENCHMARK(DecodeAndFit)
    ->ArgNames({"channel", "frames", "width", "height", "set"})
    ->ArgsProduct({{0}, {0, 1}, {308}, {231}, {3}})
    ->ArgsProduct({{0}, {0, 1}, {616}, {462}, {3}})
    ->ArgsProduct({{1}, {0, 1}, {320}, {180}, {3}})
    ->ArgsProduct({{0}, {0, 1}, {308}, {231}, {2, 1}})
    ->ArgsProduct({{0}, {0, 1}, {616}, {462}, {2, 1}})
    ->UseManualTime();
// Zoomed 2, 4 and 8 times in the grid's tile and (VGA, camera-like) the single view.
BENCHMARK(DecodeZoomed)
    ->ArgNames({"channel", "frames", "width", "height", "zoom"})
    ->ArgsProduct({{0}, {0, 1}, {308}, {231}, {2, 4, 8}})
    ->ArgsProduct({{1}, {1}, {320}, {180}, {2, 4, 8}})
    ->ArgsProduct({{0}, {1}, {616}, {462}, {2, 4, 8}})
    ->UseManualTime();
BENCHMARK(WaitingDecode)
    ->ArgNames({"channel", "idle_us"})
    ->Args({0, 9500})
    ->Args({1, 9000})
    ->UseManualTime()
    ->Iterations(40);
// Four paced HD streams of camera-like frames are left out: the simulator, which paints and
// encodes them on one core, cannot hold their pace on a shared 2-core machine, so that the
// tiles never find their connections caught up.
BENCHMARK(StreamDecode)
    ->ArgNames({"channel", "frames", "streams", "backlog"})
    ->ArgsProduct({{0, 1}, {0}, {1, 4}, {0, 1}})
    ->ArgsProduct({{0}, {1}, {1, 4}, {0, 1}})
    ->ArgsProduct({{1}, {1}, {1}, {0, 1}})
    ->Args({1, 1, 4, 1})
    ->UseManualTime()
    ->Iterations(20);

}  // namespace
}  // namespace krt

BENCHMARK_MAIN();
