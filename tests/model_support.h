// A device model of a test's own, put in front of one of the board's drivers as an application
// puts one: it forwards every call to the board's model, then reacts through the control API.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "vboard/vboard.h"

namespace tarvik_test {

class DeviceInFront : public vboard::StreamDriver {
public:
    // `afterRequest` runs after each request with its code, `afterWrite` after each WriteFile.
    DeviceInFront(const std::string& device, std::function<void(DWORD)> afterRequest,
                  std::function<void()> afterWrite = nullptr)
        : board_(vboard::driver(device)),
          afterRequest_(std::move(afterRequest)),
          afterWrite_(std::move(afterWrite)) {}

    DWORD open(uint64_t instance, const vboard::OpenParams& params) override {
        return board_->open(instance, params);
    }
    void preClose(uint64_t instance) override { board_->preClose(instance); }
    void close(uint64_t instance) override { board_->close(instance); }
    DWORD ioControl(vboard::IoRequest& request) override {
        const DWORD error = board_->ioControl(request);
        if (afterRequest_) afterRequest_(request.code);
        return error;
    }
    DWORD read(uint64_t instance, uint8_t* buffer, DWORD size, DWORD& done) override {
        return board_->read(instance, buffer, size, done);
    }
    DWORD write(uint64_t instance, const uint8_t* buffer, DWORD size, DWORD& done) override {
        const DWORD error = board_->write(instance, buffer, size, done);
        if (afterWrite_) afterWrite_();
        return error;
    }
    std::optional<std::string> decode(const vboard::TraceEntry& entry) const override {
        return board_->decode(entry);
    }

private:
    std::shared_ptr<vboard::StreamDriver> board_;
    std::function<void(DWORD)> afterRequest_;
    std::function<void()> afterWrite_;
};

}  // namespace tarvik_test
