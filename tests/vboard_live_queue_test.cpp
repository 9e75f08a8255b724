// A watcher's queue on its own: events come out in the order they went in whatever the ring did
// meanwhile (grew, wrapped, lost its oldest), and what was lost is counted once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/host.h"
#include "os/live.h"
#include "vboard/gtest.h"

namespace vboard {
namespace {

struct Step {
    size_t publish;    // trace lines published, numbered on from the last
    size_t take;       // then taken, at most
    uint64_t dropped;  // lost before the first taken
    size_t first;      // the number of the first taken
    size_t count;      // how many were taken
};

class LiveQueue : public testing::BoardTest {};

TEST_F(LiveQueue, KeepsTheOrderAcrossGrowthAndWrapAndCountsWhatItLost) {
    const size_t limit = kLiveQueueEvents;
    const Step steps[] = {
        {5, 3, 0, 0, 3},                      // the ring's first room
        {20, 10, 0, 3, 10},                   // grows with two waiting at its head
        {100, 200, 0, 13, 112},               // wrapped, grown again, emptied
        {limit + 10, 1, 10, 135, 1},          // full: the ten oldest lost
        {3, limit, 2, 138, limit},            // lost only what no longer fits
    };
    auto watcher = std::make_shared<LiveWatcher>(nullptr);
    watcher->watch(LiveKind::Trace, "");
    addLiveWatcher(watcher);
    std::vector<LiveEvent> taken;
    size_t next = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE("first " + std::to_string(step.first));
        for (size_t i = 0; i < step.publish; ++i) publishLiveLine(LiveKind::Trace, "", "line " + std::to_string(next++));
        const LiveWatcher::Taken got = watcher->take(step.take, taken);
        EXPECT_EQ(got.dropped, step.dropped);
        ASSERT_EQ(got.count, step.count);
        for (size_t i = 0; i < got.count; ++i)
            ASSERT_EQ(taken[i].fields.back().value, "line " + std::to_string(step.first + i)) << i;
    }
    // Events larger than the queue's bytes keep only the newest that fit.
    const std::string big(kLiveQueueBytes / 3, 'x');
    for (int i = 0; i < 5; ++i) publishLiveLine(LiveKind::Trace, "", big + std::to_string(i));
    const LiveWatcher::Taken got = watcher->take(10, taken);
    EXPECT_EQ(got.dropped, 3u);
    ASSERT_EQ(got.count, 2u);
    EXPECT_EQ(taken[0].fields.back().value, big + "3");
    EXPECT_EQ(taken[1].fields.back().value, big + "4");
    removeLiveWatcher(watcher);
}

}  // namespace
}  // namespace vboard
