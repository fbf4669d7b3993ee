// The channel catalogue costs 1 + 2n exchanges, each on a connection of its own. This loads
// catalogues from krt-sim on loopback and reports the time per channel.
//
//   build/bench/catalogue_bench --benchmark_counters_tabular=true

#include <benchmark/benchmark.h>

#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

#include "common/app_state.h"
#include "login/channel_catalogue.h"
#include "sim_config.h"
#include "sim_server.h"

namespace {

krt::sim::SimConfig catalogueOf(int channelCount) {
    krt::sim::SimConfig config = krt::sim::defaultConfig();
    config.alarms.intervalSeconds = 0;
    config.channels.clear();
    for (int index = 1; index <= channelCount; ++index) {
        krt::sim::SimChannel channel;
        channel.id = "cam-" + std::to_string(index);
        channel.description = "Camera " + std::to_string(index);
        channel.ptzStatus = std::string(index % 3 == 0 ? "1" : "0");
        config.channels.push_back(channel);
    }
    return config;
}

// The server port is the same everywhere, so the simulator takes a loopback address that
// nothing else on this machine holds.
void startOnFreeLoopbackAddress(krt::sim::SimServer& server) {
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> octet(1, 254);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string address = "127";
        for (int part = 0; part < 3; ++part) {
            address.append(".").append(std::to_string(octet(random)));
        }
        try {
            server.start(address, krt::kServerPort);
            return;
        } catch (const std::system_error&) {
        }
    }
    throw std::runtime_error("no free loopback address");
}

void BM_LoadCatalogue(benchmark::State& state) {
    const int channelCount = static_cast<int>(state.range(0));
    krt::sim::SimServer server(catalogueOf(channelCount));
    startOnFreeLoopbackAddress(server);
    krt::AppState app;
    app.m_serverAddress = server.address();
    app.m_userName = "demo";

    for (auto _ : state) {
        if (!krt::getListOfVideos(app) || app.channelCount() != channelCount ||
            !app.m_channels.back().DetailsLoaded) {
            state.SkipWithError("the catalogue did not load in full");
            break;
        }
    }
    const auto channels = static_cast<double>(state.iterations()) * channelCount;
    state.counters["per_channel"] =
        benchmark::Counter(channels, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["exchanges/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * (1 + 2 * channelCount),
                           benchmark::Counter::kIsRate);
}

// A handful of iterations: each leaves 2n connections in TIME_WAIT on the loopback device.
BENCHMARK(BM_LoadCatalogue)
    ->Arg(9)
    ->Arg(100)
    ->Arg(1000)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
