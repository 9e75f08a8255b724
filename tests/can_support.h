// src/can: what the CAN tests share: the requests the library sent to "CAN1:", record bytes, and a
// driver whose answers a test scripts.
#pragma once

#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "can/can_records.h"
#include "library_test.h"
#include "test_support.h"

namespace can_test {

using tarvik_test::Case;
using tarvik_test::Lines;
using tarvik_test::Request;
using tarvik_test::words;
using vboard::Bytes;

// The requests sent to the CAN driver, in order, code and input. A transfer's input holds
// pointers, so it is left out (its records are checked through a scripted driver).
inline std::vector<Request> requests() {
    std::vector<Request> out;
    for (const Request& r : tarvik_test::codesAndInputs())
        out.push_back({r.code, r.code == tarvik::IOCTL_CAN_TRANSFER ? Bytes{} : r.in});
    return out;
}

// Cases that go on from one another on the open port: nothing is reset between them.
inline void runCases(const std::vector<Case>& cases) {
    tarvik_test::CaseRules rules;
    rules.start = nullptr;
    rules.sent = requests;
    rules.closesItsHandles = false;
    tarvik_test::runCases(cases, rules);
}

inline Bytes timing(uint32_t baseclock, uint16_t prescaler, uint8_t propseg, uint8_t phase1,
                    uint8_t phase2, uint8_t aux) {
    Bytes out = words({baseclock});
    out.push_back(static_cast<uint8_t>(prescaler));
    out.push_back(static_cast<uint8_t>(prescaler >> 8));
    for (uint8_t b : {propseg, phase1, phase2, aux, uint8_t{0}, uint8_t{0}}) out.push_back(b);
    return out;
}

// A CAN driver that answers as a test tells it: get timing reports 30 MHz and segments 2, 3, 2;
// every transfer is kept (the record as handed over, and its data bytes) and answered with the
// scripted status and request result.
class ScriptedCan : public vboard::StreamDriver {
public:
    uint32_t status = 0;
    DWORD transferError = ERROR_SUCCESS;
    uint32_t filterHandle = 7;
    // Runs inside the transfer, while the record and its buffer are the driver's.
    std::function<void(tarvik::CanMessageRecord&)> during;

    std::vector<tarvik::CanMessageRecord> messages;
    std::vector<uint32_t> counts;

    DWORD ioControl(vboard::IoRequest& r) override {
        std::lock_guard<std::mutex> hold(lock_);
        switch (r.code) {
            case tarvik::IOCTL_CAN_GET_TIMING: {
                tarvik::CanTimingRecord t = {30000000, 15, 2, 3, 2, 0, {0, 0}};
                std::memcpy(r.out, &t, sizeof t);
                return ERROR_SUCCESS;
            }
            case tarvik::IOCTL_CAN_ADD_FILTER:
                std::memcpy(r.out, &filterHandle, sizeof filterHandle);
                return ERROR_SUCCESS;
            case tarvik::IOCTL_CAN_TRANSFER: {
                tarvik::CanTransferRequest t;
                std::memcpy(&t, r.in, sizeof t);
                counts.push_back(t.count);
                messages.push_back(*t.message);
                if (during) during(*t.message);
                *t.message->status = status;
                return transferError;
            }
            default:
                return ERROR_SUCCESS;
        }
    }

private:
    std::mutex lock_;
};

class CanTest : public tarvik_test::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        // The lines print the last error after successes too: start every test from 0.
        SetLastError(0);
    }
    // Most tests end with the controller open: closed here, as an application's tear-down would.
    void TearDown() override {
        CANClose(1);
        LibraryTest::TearDown();
    }
    // Opens port 1 and forgets what that printed and traced.
    void open() {
        ASSERT_EQ(CANOpen(1), 1);
        tarvik_test::clearRecords();
    }
    std::shared_ptr<ScriptedCan> scripted() {
        auto driver = std::make_shared<ScriptedCan>();
        vboard::addDriver("CAN1:", driver);
        open();
        return driver;
    }
};

}  // namespace can_test
