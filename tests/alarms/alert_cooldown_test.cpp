#include "alarms/alert_cooldown.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace krt {
namespace {

using std::chrono::seconds;

TEST(AlertCooldown, SameCameraAndAlarmPopsAgainOnlyAfterTheCooldownSinceItsLastAlert) {
    struct Step {
        int at_s;
        const char* camera;
        const char* alarm;
        bool pops;
    };
    struct Case {
        int cooldown_s;
        std::vector<Step> steps;
    };
    for (const Case& c : {
             Case{0,
                  {{0, "1", "Motion", true}, {0, "1", "Motion", true}, {1, "1", "Motion", true}}},
             Case{30,
                  {{0, "1", "Motion", true},
                   {10, "1", "Motion", false},
                   {10, "2", "Motion", true},
                   {11, "1", "Door Open", true},
                   {29, "1", "Motion", false},
                   {30, "1", "Motion", true},
                   // Suppressed alarms do not extend the cooldown; a popped one restarts it.
                   {45, "1", "Motion", false},
                   {59, "1", "Motion", false},
                   {60, "1", "Motion", true}}},
         }) {
        SCOPED_TRACE(c.cooldown_s);
        AlertCooldown cooldown;
        const AlertCooldown::Clock::time_point start{};
        for (const Step& step : c.steps) {
            EXPECT_EQ(cooldown.allowAlert(step.camera, step.alarm, start + seconds(step.at_s),
                                          seconds(c.cooldown_s)),
                      step.pops)
                << step.at_s << " s, camera " << step.camera << ", " << step.alarm;
        }
    }
}

}  // namespace
}  // namespace krt
