// src/uart: shared by the UART tests: reads that wait for bytes fed from another thread, bounded so
// that a read that never ends fails the test instead of hanging it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "vboard/vboard.h"

namespace tarvik_test {

inline vboard::Bytes bytesOf(const std::string& text) { return vboard::Bytes(text.begin(), text.end()); }

// Runs `call` on a thread of its own and `feed` once the call blocks on `device` (a read or an
// event wait); answers what `call` returned. A call that never blocks, or does not end within
// five seconds of the feed, fails the test; the board's reset then closes every handle, which
// ends any wait it is stuck in.
template <class Result>
Result whileBlocked(const std::string& device, const std::function<Result()>& call,
                    const std::function<void()>& feed) {
    Result result{};
    std::promise<void> finished;
    std::future<void> ended = finished.get_future();
    std::thread caller([&] {
        result = call();
        finished.set_value();
    });
    if (vboard::serial().awaitBlocked(device, 5000))
        feed();
    else
        ADD_FAILURE() << "nothing blocked on " << device;
    if (ended.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "the call on " << device << " did not end";
        vboard::reset();
    }
    caller.join();
    return result;
}

}  // namespace tarvik_test
