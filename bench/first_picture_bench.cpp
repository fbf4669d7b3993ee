// From pressing Login to the first picture on the Videos page: the login conversation against
// krt-sim on loopback, then the main sheet as the login dialog opens it, until the first tile
// has drawn a picture. Nine channels on a prompt server, and 1,000 channels on a server that
// takes 2 ms over every reply. Wall-clock time, offscreen.
//
//   build/bench/first_picture_bench
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

#include "app/ui/main_sheet.h"
#include "common/ui/settings_store.h"
#include "login/login_sequence.h"
#include "sim_config.h"
#include "sim_server.h"
#include "tile/ui/video_window.h"
#include "tile/ui/video_window_container.h"
#include "video/ui/video_page.h"

namespace {

constexpr int kPictureWait_ms = 20000;

krt::sim::SimConfig siteOf(int channelCount, int replyDelay_ms) {
    krt::sim::SimConfig config = krt::sim::defaultConfig();
    config.alarms.intervalSeconds = 0;
    if (channelCount > static_cast<int>(config.channels.size())) {
        const krt::sim::SimChannel model = config.channels.front();
        config.channels.clear();
        for (int index = 1; index <= channelCount; ++index) {
            krt::sim::SimChannel channel = model;
            channel.id = "cam-" + std::to_string(index);
            channel.description = "Camera " + std::to_string(index);
            config.channels.push_back(channel);
        }
    }
    if (replyDelay_ms > 0) {
        krt::sim::FaultMode delay;
        delay.kind = krt::sim::FaultKind::Delay;
        delay.delayMs = replyDelay_ms;
        config.faults.push_back(delay);
    }
    return config;
}

// The server port is fixed, so the simulator takes a loopback address nothing else holds.
void startOnFreeLoopbackAddress(krt::sim::SimServer& server) {
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> octet(1, 254);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string address = "127." + std::to_string(octet(random)) + "." +
                                    std::to_string(octet(random)) + "." +
                                    std::to_string(octet(random));
        try {
            server.start(address, krt::kServerPort);
            return;
        } catch (const std::system_error&) {
        }
    }
    throw std::runtime_error("no free loopback address");
}

bool firstTileHasPicture(const krt::MainSheet& sheet) {
    const krt::VideoWindow* window = sheet.videoPage()->tiles()[0]->videoWindow();
    return window->picturePlacementShown().has_value();
}

void LoginToFirstPicture(benchmark::State& state) {
    const QTemporaryDir settings;
    krt::setSettingsFilePath(settings.filePath(QStringLiteral("settings.ini")).toStdString());
    krt::sim::SimServer server(
        siteOf(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
    startOnFreeLoopbackAddress(server);
    const krt::LoginCredentials credentials{server.address(), krt::kServerPort, "demo", "demo"};
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        krt::AppState app;
        if (!krt::runLoginConversation(credentials, app).accepted()) {
            state.SkipWithError("the login was refused");
            break;
        }
        auto sheet = std::make_unique<krt::MainSheet>(app);
        sheet->show();
        while (!firstTileHasPicture(*sheet) && clock.elapsed() < kPictureWait_ms) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        if (!firstTileHasPicture(*sheet)) {
            state.SkipWithError("no picture");
            break;
        }
        state.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) * 1e-9);
        sheet.reset();
    }
    state.SetLabel(std::to_string(state.range(0)) + " channels, " + std::to_string(state.range(1)) +
                   " ms a reply");
}

BENCHMARK(LoginToFirstPicture)
    ->ArgNames({"channels", "reply_delay_ms"})
    ->Args({9, 0})
    ->Args({1000, 2})
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
