// A watcher's queue on its own: events come out in the order they went in whatever its ring did
// meanwhile (grew, wrapped as it lost its oldest, changed places with the taker's), and what was
// lost is counted once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/host.h"
#include "os/live.h"
#include "vboard/gtest.h"

namespace vboard {
namespace {

class LiveQueue : public testing::BoardTest {};

TEST_F(LiveQueue, KeepsTheOrderAcrossGrowthAndWrapAndCountsWhatItLost) {
    const size_t limit = kLiveQueueEvents;
    const std::string big(kLiveQueueBytes / 3, 'x');
    struct Step {
        size_t publish;      // lines published, numbered on from the last
        const std::string* text;  // each line's text before its number
        uint64_t dropped;    // lost before the first taken
        size_t count;        // how many were taken, the newest
    };
    const std::string plain = "line ";
    const Step steps[] = {
        {5, &plain, 0, 5},                   // the ring's first room
        {100, &plain, 0, 100},               // the other ring, grown
        {limit + 10, &plain, 10, limit},     // full: wrapped, the ten oldest lost
        {limit + 3, &plain, 3, limit},       // the same in the ring that was taken
        {5, &big, 3, 2},                     // large lines: the newest that fit the bytes
        {7, &plain, 0, 7},                   // and their room given back, order kept
    };
    auto watcher = std::make_shared<LiveWatcher>(nullptr);
    watcher->watch(LiveKind::Trace, "");
    addLiveWatcher(watcher);
    std::vector<LiveEvent> taken;
    for (const Step& step : steps) {
        SCOPED_TRACE(std::to_string(step.publish) + " published");
        for (size_t i = 0; i < step.publish; ++i) publishLiveLine(LiveKind::Trace, "", *step.text + std::to_string(i));
        const LiveWatcher::Taken got = watcher->take(taken);
        EXPECT_EQ(got.dropped, step.dropped);
        ASSERT_EQ(got.count, step.count);
        for (size_t i = 0; i < got.count; ++i) {
            LiveEvent& event = taken[(got.first + i) % taken.size()];
            ASSERT_EQ(event.fields.back().value, *step.text + std::to_string(step.dropped + i)) << i;
            LiveWatcher::release(event);
            // What a large line leaves behind is not kept for the small lines after it.
            EXPECT_LE(event.fields.back().value.capacity(), 256u);
        }
        EXPECT_EQ(watcher->take(taken).count, 0u);
    }
    removeLiveWatcher(watcher);
}

}  // namespace
}  // namespace vboard
