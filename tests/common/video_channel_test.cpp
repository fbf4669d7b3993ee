#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "common/video_channel.h"

namespace krt {
namespace {

VideoChannel channel(std::string id) {
    VideoChannel record;
    record.ChannelID = std::move(id);
    return record;
}

struct LookupCase {
    std::string wanted;
    int index;
};

void PrintTo(const LookupCase& c, std::ostream* out) {
    *out << c.wanted;
}

class FindChannelIndex : public ::testing::TestWithParam<LookupCase> {};

TEST_P(FindChannelIndex, IgnoresLetterCaseAndNeverFindsTheEmptyRecords) {
    // The table as the catalogue leaves it after IDs "Gate", "dock-7", "Gate", "GATE".
    const std::vector<VideoChannel> table = {
        channel("Gate"), channel("dock-7"), channel("GATE"), {}, {}};
    EXPECT_EQ(findChannelIndex(table, GetParam().wanted), GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(Lookup, FindChannelIndex,
                         ::testing::Values(LookupCase{"Gate", 0}, LookupCase{"gate", 0},
                                           LookupCase{"GATE", 0}, LookupCase{"DOCK-7", 1},
                                           LookupCase{"dock-8", -1}, LookupCase{"dock", -1},
                                           LookupCase{"", -1}));

TEST(FindChannelIndex, EmptyTableFindsNothing) {
    EXPECT_EQ(findChannelIndex({}, "7"), -1);
}

}  // namespace
}  // namespace krt
