// What the virtual board sustains for an application's test suite: whole library calls a second
// on one core, with the board's default recording (the most recent 65,536 entries, as a test
// suite runs it) and with recording off.
//
//   board_throughput [benchmark flags]
#include <benchmark/benchmark.h>

#include "Tarvik.h"
#include "vboard/vboard.h"

namespace {

void prepare(benchmark::State& state) {
    vboard::reset();
    vboard::echoDebugTo("");
    vboard::echoTraceTo("");
    vboard::setVirtualSleep(true);
    if (state.range(0) == 0) vboard::setRecording({vboard::RecordMode::Off, 0});
    state.SetLabel(state.range(0) == 0 ? "record off" : "record last 65536");
}

// GPIOSetPin and GPIOGetPin on index 1, one after the other: two calls an iteration.
void GpioSetGet(benchmark::State& state) {
    prepare(state);
    uint8_t level = 0;
    for (auto _ : state) {
        GPIOSetPin(1, level);
        benchmark::DoNotOptimize(GPIOGetPin(1));
        level ^= 1;
    }
    state.SetItemsProcessed(state.iterations() * 2);
}

// The EEPROM at 0x50 on bus 0: a 16-byte write and a 16-byte read back, two transfers an
// iteration.
void I2cEepromWriteRead(benchmark::State& state) {
    prepare(state);
    uint8_t data[16] = {};
    uint8_t back[16] = {};
    for (auto _ : state) {
        data[0]++;
        I2CWriteMultipleBytes(0, 0, 0x50, 0x20, sizeof data, data);
        I2CReadMultipleBytes(0, 0, 0x50, 0x20, sizeof back, back);
        benchmark::DoNotOptimize(back);
    }
    state.SetItemsProcessed(state.iterations() * 2);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(sizeof data + sizeof back));
}

// CAN in loopback: each frame the controller sends comes back into its receive queue and is read;
// one frame (a CANWrite and a CANRead) an iteration.
void CanLoopback(benchmark::State& state) {
    prepare(state);
    CANOpen(1);
    CANConfigureMode(1, 0, 500000, 0, 1);
    CANConfigureMessage(1, 0, 0x123, 0, 0, 1);
    CANConfigureMessage(1, 0, 0x123, 0, 0, 0);
    uint8_t frame[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t received[8] = {};
    uint32_t status = 0;
    for (auto _ : state) {
        frame[0]++;
        CANWrite(1, frame, sizeof frame, &status);
        if (CANRead(1, received, sizeof received, &status) != 1) {
            state.SkipWithError("the looped-back frame was not received");
            break;
        }
    }
    CANClose(1);
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(GpioSetGet)->Arg(0)->Arg(1);
BENCHMARK(I2cEepromWriteRead)->Arg(0)->Arg(1);
BENCHMARK(CanLoopback)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
