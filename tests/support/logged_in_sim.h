#pragma once

#include <utility>

#include <gtest/gtest.h>

#include "common/app_state.h"
#include "login/channel_catalogue.h"
#include "sim/sim_test_support.h"

namespace krt::test {

// krt-sim running in the test and an application state logged in to it as "demo" with its
// catalogue loaded, as a login leaves it for the main sheet.
struct LoggedInSim {
    explicit LoggedInSim(sim::SimConfig config = sim::test::RunningSim::quietDefault())
        : sim(std::move(config)) {
        app.m_serverAddress = sim.address();
        app.m_loginPort = kServerPort;
        app.m_userName = "demo";
        EXPECT_TRUE(getListOfVideos(app));
    }

    sim::test::RunningSim sim;
    AppState app;
};

}  // namespace krt::test
