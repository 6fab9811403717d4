// How long lines and trunks have been busy, poll by poll on a clock the
// test moves, and the texts the monitor shows of it.
#include <gtest/gtest.h>

#include "realtime/busy_tracker.h"

namespace {

using namespace std::chrono_literals;

const IClock::TTimePoint kStart = IClock::TTimePoint{} + 24h;

TEST(BusyTracker, CountsEachLineAndTrunkFromThePollThatFirstSawIt) {
    IClock::TTimePoint now = kStart;
    TBusyTracker busy([&] { return now; });
    std::vector<std::vector<TBusyConnection>> told;
    busy.SetAfterPoll([&](const std::vector<TBusyConnection>& b) { told.push_back(b); });

    const TConnection call = {{0x44, 205, 0}, {0x46, 204, 1}};
    busy.Update({call, {{0x47, 200, 3}}, {{0x44, -1, 0}}});
    now += 65s;
    busy.Update({call, {{0x44, 211, 2}, {0x44, 230, 0}}});
    now += 10s;
    // Line 211 hung up; 230 stays off the hook alone.
    busy.Update({call, {{0x44, 230, 0}}});

    ASSERT_EQ(told.size(), 3u);
    EXPECT_EQ(told[0].size(), 2u);  // the loudspeaker and an unnumbered line are not counted
    const std::vector<TBusyConnection>& last = told.back();
    ASSERT_EQ(last.size(), 3u);
    EXPECT_EQ(last[0].Number, 205);
    EXPECT_EQ(last[0].Lasted, 75s);
    EXPECT_EQ(last[0].Since, kStart);
    EXPECT_EQ(last[0].Connection, "АЛ205(0)   СЛ204(1)");
    EXPECT_EQ(last[1].Number, 230);
    EXPECT_EQ(last[1].Lasted, 10s);
    EXPECT_EQ(last[1].Connection, "АЛ230(0)");
    EXPECT_EQ(last[2].Kind, 0x46);
    EXPECT_EQ(last[2].Number, 204);
    EXPECT_EQ(last[2].Lasted, 75s);
    EXPECT_EQ(busy.Lasted(0x44, 211).count(), -1);

    // Free for one poll, then busy again: counted anew.
    now += 5s;
    busy.Update({});
    EXPECT_TRUE(told.back().empty());
    now += 5s;
    busy.Update({call});
    EXPECT_EQ(busy.Lasted(0x44, 205), 0s);
    now += 3s;
    busy.Update({call});
    EXPECT_EQ(busy.Lasted(0x46, 204), 3s);

    busy.Clear();
    EXPECT_TRUE(busy.Busy().empty());
}

TEST(BusyTracker, TheMonitorsTextsShowTheDurations) {
    EXPECT_EQ(DurationText(0s), "00:00:00");
    EXPECT_EQ(DurationText(3725s), "01:02:05");
    EXPECT_EQ(DurationText(360000s), "100:00:00");
    EXPECT_EQ(DurationText(-5s), "00:00:00");

    IClock::TTimePoint now = kStart;
    TBusyTracker busy([&] { return now; });
    const std::vector<TConnection> connections = {{{0x44, 205, 0}, {0x46, 204, 1}},
                                                  {{0x47, 200, 3}}};
    busy.Update({{{0x44, 205, 0}}});
    now += 40s;
    busy.Update(connections);
    EXPECT_EQ(BusyConnectionText(connections[0], busy),
              "АЛ205(0) [00:00:40]   СЛ204(1) [00:00:00]   ");
    EXPECT_EQ(BusyConnectionText(connections[1], busy), "ГГС200(3)   ");
    const std::map<int, std::string> tips = {{205, "занята 00:00:40; СЛ204(1)"}};
    EXPECT_EQ(BusyLineTips(connections, busy), tips);
}

}  // namespace
