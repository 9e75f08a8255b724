// The table of every driver and kernel request the library sends, from the library's own record
// headers.
#include "driver_records.h"

#include "can/can_records.h"
#include "gpio/gpio_records.h"
#include "i2c/i2c_records.h"
#include "spi/spi_records.h"
#include "system/backlight_records.h"
#include "system/kitl_records.h"
#include "system/physical_access_records.h"

namespace tarvik_dll {
namespace {

using namespace tarvik;

constexpr uint8_t kSpiEventNameOffset = offsetof(SpiExchangeRecord, eventName);

constexpr DriverRecord kDriverRecords[] = {
    {IOCTL_GPIO_SET_DIRECTION, "GPIO set direction", 0, 0, {}},
    {IOCTL_GPIO_SET_PIN, "GPIO set pin", 0, 0, {}},
    {IOCTL_GPIO_GET_PIN, "GPIO get pin", 0, 0, {}},
    {IOCTL_GPIO_SET_EVENT, "GPIO set event", 0, 0, {}},
    {IOCTL_GPIO_CLEAR_EVENT, "GPIO clear event", 0, 0, {}},
    {IOCTL_I2C_SET_MASTER_MODE, "I2C set master mode", 0, 0, {}},
    {IOCTL_I2C_CONFIRM, "I2C confirm", 0, 0, {}},
    {IOCTL_I2C_SET_FREQUENCY, "I2C set frequency", 0, 0, {}},
    {IOCTL_I2C_TRANSFER, "I2C transfer", 0, 0, {}},
    // The driver sets the completion event it finds by the name in the record.
    {IOCTL_SPI_EXCHANGE, "SPI exchange", sizeof(SpiExchangeRecord), 1, {kSpiEventNameOffset}},
    {IOCTL_CAN_TRANSFER, "CAN transfer", 0, 0, {}},
    {IOCTL_CAN_TLPRIO_ON, "CAN TLPRIO on", 0, 0, {}},
    {IOCTL_CAN_TLPRIO_OFF, "CAN TLPRIO off", 0, 0, {}},
    {IOCTL_CAN_LOOPBACK_ON, "CAN loopback on", 0, 0, {}},
    {IOCTL_CAN_LOOPBACK_OFF, "CAN loopback off", 0, 0, {}},
    {IOCTL_CAN_SET_TIMING, "CAN set timing", 0, 0, {}},
    {IOCTL_CAN_GET_TIMING, "CAN get timing", 0, 0, {}},
    {IOCTL_CAN_ADD_FILTER, "CAN add filter", 0, 0, {}},
    {IOCTL_CAN_REMOVE_FILTER, "CAN remove filter", 0, 0, {}},
    // The same code reads a register and, with no record, resets the module.
    {IOCTL_PHY_READ, "physical read or reset", 0, 0, {}},
    {IOCTL_PHY_WRITE, "physical write", 0, 0, {}},
    {IOCTL_BKL_SET_LEVEL, "backlight set level", 0, 0, {}},
    {IOCTL_BKL_FOLLOW_UP, "backlight follow-up", 0, 0, {}},
    {IOCTL_KITL_POWER, "KITL power", 0, 0, {}},
};

// The records as they stand now. When one of these fails, the record changed: if it now carries a
// WCHAR string (directly, or in a record it points at), give kDriverRecords the string's offset
// (and nested records a copy of their own in coredll_shims.cpp), then the new size here.
static_assert(sizeof(GpioDirectionRecord) == 16 && sizeof(GpioLevelRecord) == 12 &&
                  sizeof(GpioEventRecord) == 12 && sizeof(GpioPinRecord) == 8,
              "a GPIO record changed: check kDriverRecords");
static_assert(sizeof(I2cPacket) == 16 && sizeof(I2cTransferBlock) == 8,
              "an I2C record changed: check kDriverRecords");
static_assert(sizeof(SpiExchangeRecord) == 24 && sizeof(SpiBusConfig) == 32 &&
                  kSpiEventNameOffset == 16,
              "an SPI record changed: check kDriverRecords");
static_assert(sizeof(CanTimingRecord) == 12 && sizeof(CanMessageRecord) == 40 &&
                  sizeof(CanTransferRequest) == 8 && sizeof(CanFilterRecord) == 32,
              "a CAN record changed: check kDriverRecords");
static_assert(sizeof(PhysicalAccessRecord) == 12 && sizeof(BacklightLevelRecord) == 16,
              "a system record changed: check kDriverRecords");

}  // namespace

const DriverRecord* driverRecord(DWORD code) {
    for (const DriverRecord& record : kDriverRecords)
        if (record.code == code) return &record;
    return nullptr;
}

}  // namespace tarvik_dll
