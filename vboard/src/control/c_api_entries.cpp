// The C control API (vboard/vboard_c.h) as C functions: each runs its body (c_api.cpp and the
// families' *_c_api.cpp) behind a guard, so that an exception (from a model or a directive of
// the application's, or memory running out) never reaches a C test: the entry answers its
// failure status instead, and a problem text where it answers one.
#include "os/entry_guard.h"
#include "vboard/vboard_c.h"

namespace vboard {
namespace capi {
void vboard_reset(void);
char* vboard_apply(const char*);
char* vboard_load_config(const char*);
int vboard_record(const char*);
int vboard_echo_debug(const char*);
int vboard_echo_trace(const char*);
void vboard_free(void*);
char* vboard_debug_text(void);
uint64_t vboard_debug_count(void);
void vboard_clear_debug(void);
char* vboard_trace_text(void);
uint64_t vboard_trace_count(void);
void vboard_clear_trace(void);
size_t vboard_open_driver_handles(const char*);
uint64_t vboard_misuse_count(void);
char* vboard_misuses_text(void);
int vboard_arm_fault(const char*, const char*, int, uint32_t, unsigned, uint32_t);
int vboard_disarm_fault(int);
void vboard_clear_faults(void);
void vboard_virtual_sleep(int);
uint64_t vboard_clock_ns(void);
void vboard_advance_clock(uint64_t);
int vboard_gpio_drive_input(int, int, int);
int vboard_gpio_drive_index(uint32_t, int);
int vboard_gpio_pad(uint32_t, int*, int*);
int vboard_gpio_pin(int, int, vboard_gpio_pin_state*);
size_t vboard_gpio_interrupt_count(void);
int vboard_vcd(const char*);
int vboard_spi_attach(int, const char*, int);
int vboard_spi_flash_program(int, uint32_t, const uint8_t*, size_t);
size_t vboard_spi_exchange_count(void);
int vboard_i2c_attach(int, unsigned, const char*, size_t);
int vboard_i2c_attach_eeprom(int, unsigned, size_t, size_t, unsigned);
int vboard_i2c_detach(int, unsigned);
int vboard_i2c_fill(int, unsigned, uint32_t, const uint8_t*, size_t);
size_t vboard_i2c_peek(int, unsigned, uint32_t, uint8_t*, size_t);
int vboard_i2c_set_temperature(int, unsigned, double);
uint32_t vboard_i2c_frequency(int);
size_t vboard_i2c_transfer_count(int);
char* vboard_serial_wire(const char*, const char*);
char* vboard_serial_pty_path(const char*);
int vboard_serial_receive(const char*, const void*, size_t);
size_t vboard_serial_transmitted(const char*, void*, size_t);
int vboard_serial_await_blocked(const char*, unsigned);
int vboard_can_inject(const char*);
char* vboard_can_sent_text(void);
size_t vboard_can_pending(void);
int vboard_can_log(const char*);
int vboard_phy_peek(uint32_t, unsigned, uint32_t*);
int vboard_phy_poke(uint32_t, unsigned, uint32_t);
size_t vboard_phy_access_count(void);
uint32_t vboard_backlight_level(void);
int vboard_kitl_powered(void);
uint64_t vboard_touch_calibrations(void);
uint64_t vboard_restarts(void);
void vboard_end_process_on_reset(int);
int vboard_set_board_folder(const char*);
char* vboard_board_folder(void);
void vboard_storage_card(int);
void* vboard_read_board_file(const char*, size_t*);
int vboard_write_board_file(const char*, const void*, size_t);
char* vboard_hive_text(int);
char* vboard_storage_problems(void);
}  // namespace capi
}  // namespace vboard

using namespace vboard;

namespace {
// What an entry that hands out a text answers when it fails.
char* const kNoText = nullptr;
}  // namespace

extern "C" {

// ---- The board ----

void vboard_reset(void) { guardVoidControl(__func__, [] { capi::vboard_reset(); }); }
char* vboard_apply(const char* line) {
    return guardProblem(__func__, [&] { return capi::vboard_apply(line); });
}
char* vboard_load_config(const char* path) {
    return guardProblem(__func__, [&] { return capi::vboard_load_config(path); });
}
int vboard_record(const char* setting) {
    return guardControl(__func__, 0, [&] { return capi::vboard_record(setting); });
}
int vboard_echo_debug(const char* target) {
    return guardControl(__func__, 0, [&] { return capi::vboard_echo_debug(target); });
}
int vboard_echo_trace(const char* target) {
    return guardControl(__func__, 0, [&] { return capi::vboard_echo_trace(target); });
}
void vboard_free(void* text) { capi::vboard_free(text); }

// ---- What the library did ----

char* vboard_debug_text(void) {
    return guardControl(__func__, kNoText, [] { return capi::vboard_debug_text(); });
}
uint64_t vboard_debug_count(void) {
    return guardControl(__func__, uint64_t{0}, [] { return capi::vboard_debug_count(); });
}
void vboard_clear_debug(void) { guardVoidControl(__func__, [] { capi::vboard_clear_debug(); }); }
char* vboard_trace_text(void) {
    return guardControl(__func__, kNoText, [] { return capi::vboard_trace_text(); });
}
uint64_t vboard_trace_count(void) {
    return guardControl(__func__, uint64_t{0}, [] { return capi::vboard_trace_count(); });
}
void vboard_clear_trace(void) { guardVoidControl(__func__, [] { capi::vboard_clear_trace(); }); }
size_t vboard_open_driver_handles(const char* device) {
    return guardControl(__func__, size_t{0},
                        [&] { return capi::vboard_open_driver_handles(device); });
}
uint64_t vboard_misuse_count(void) {
    return guardControl(__func__, uint64_t{0}, [] { return capi::vboard_misuse_count(); });
}
char* vboard_misuses_text(void) {
    return guardControl(__func__, kNoText, [] { return capi::vboard_misuses_text(); });
}

// ---- Faults, time and pauses ----

int vboard_arm_fault(const char* function, const char* device, int match_code, uint32_t code,
                     unsigned nth, uint32_t error) {
    return guardControl(__func__, 0, [&] {
        return capi::vboard_arm_fault(function, device, match_code, code, nth, error);
    });
}
int vboard_disarm_fault(int id) {
    return guardControl(__func__, 0, [&] { return capi::vboard_disarm_fault(id); });
}
void vboard_clear_faults(void) { guardVoidControl(__func__, [] { capi::vboard_clear_faults(); }); }
void vboard_virtual_sleep(int on) {
    guardVoidControl(__func__, [&] { capi::vboard_virtual_sleep(on); });
}
uint64_t vboard_clock_ns(void) {
    return guardControl(__func__, uint64_t{0}, [] { return capi::vboard_clock_ns(); });
}
void vboard_advance_clock(uint64_t nanoseconds) {
    guardVoidControl(__func__, [&] { capi::vboard_advance_clock(nanoseconds); });
}

// ---- GPIO ----

int vboard_gpio_drive_input(int bank, int pin, int level) {
    return guardControl(__func__, 0, [&] { return capi::vboard_gpio_drive_input(bank, pin, level); });
}
int vboard_gpio_drive_index(uint32_t index, int level) {
    return guardControl(__func__, 0, [&] { return capi::vboard_gpio_drive_index(index, level); });
}
int vboard_gpio_pad(uint32_t index, int* bank, int* pin) {
    return guardControl(__func__, 0, [&] { return capi::vboard_gpio_pad(index, bank, pin); });
}
int vboard_gpio_pin(int bank, int pin, vboard_gpio_pin_state* state) {
    return guardControl(__func__, 0, [&] { return capi::vboard_gpio_pin(bank, pin, state); });
}
size_t vboard_gpio_interrupt_count(void) {
    return guardControl(__func__, size_t{0}, [] { return capi::vboard_gpio_interrupt_count(); });
}
int vboard_vcd(const char* path) {
    return guardControl(__func__, 0, [&] { return capi::vboard_vcd(path); });
}

// ---- SPI ----

int vboard_spi_attach(int port, const char* model, int chip_select) {
    return guardControl(__func__, 0,
                        [&] { return capi::vboard_spi_attach(port, model, chip_select); });
}
int vboard_spi_flash_program(int port, uint32_t address, const uint8_t* data, size_t size) {
    return guardControl(__func__, 0,
                        [&] { return capi::vboard_spi_flash_program(port, address, data, size); });
}
size_t vboard_spi_exchange_count(void) {
    return guardControl(__func__, size_t{0}, [] { return capi::vboard_spi_exchange_count(); });
}

// ---- I2C ----

int vboard_i2c_attach(int bus, unsigned address, const char* kind, size_t size) {
    return guardControl(__func__, 0,
                        [&] { return capi::vboard_i2c_attach(bus, address, kind, size); });
}
int vboard_i2c_attach_eeprom(int bus, unsigned address, size_t size, size_t page_size,
                             unsigned write_cycle_ms) {
    return guardControl(__func__, 0, [&] {
        return capi::vboard_i2c_attach_eeprom(bus, address, size, page_size, write_cycle_ms);
    });
}
int vboard_i2c_detach(int bus, unsigned address) {
    return guardControl(__func__, 0, [&] { return capi::vboard_i2c_detach(bus, address); });
}
int vboard_i2c_fill(int bus, unsigned address, uint32_t offset, const uint8_t* bytes,
                    size_t count) {
    return guardControl(__func__, 0,
                        [&] { return capi::vboard_i2c_fill(bus, address, offset, bytes, count); });
}
size_t vboard_i2c_peek(int bus, unsigned address, uint32_t offset, uint8_t* buffer, size_t count) {
    return guardControl(__func__, size_t{0},
                        [&] { return capi::vboard_i2c_peek(bus, address, offset, buffer, count); });
}
int vboard_i2c_set_temperature(int bus, unsigned address, double celsius) {
    return guardControl(__func__, 0,
                        [&] { return capi::vboard_i2c_set_temperature(bus, address, celsius); });
}
uint32_t vboard_i2c_frequency(int bus) {
    return guardControl(__func__, uint32_t{0}, [&] { return capi::vboard_i2c_frequency(bus); });
}
size_t vboard_i2c_transfer_count(int bus) {
    return guardControl(__func__, size_t{0}, [&] { return capi::vboard_i2c_transfer_count(bus); });
}

// ---- Serial ports ----

char* vboard_serial_wire(const char* port, const char* wiring) {
    return guardProblem(__func__, [&] { return capi::vboard_serial_wire(port, wiring); });
}
char* vboard_serial_pty_path(const char* port) {
    return guardControl(__func__, kNoText,
                        [&] { return capi::vboard_serial_pty_path(port); });
}
int vboard_serial_receive(const char* port, const void* data, size_t size) {
    return guardControl(__func__, 0, [&] { return capi::vboard_serial_receive(port, data, size); });
}
size_t vboard_serial_transmitted(const char* port, void* buffer, size_t size) {
    return guardControl(__func__, size_t{0},
                        [&] { return capi::vboard_serial_transmitted(port, buffer, size); });
}
int vboard_serial_await_blocked(const char* port, unsigned milliseconds) {
    return guardControl(__func__, 0,
                        [&] { return capi::vboard_serial_await_blocked(port, milliseconds); });
}

// ---- CAN ----

int vboard_can_inject(const char* frame) {
    return guardControl(__func__, 0, [&] { return capi::vboard_can_inject(frame); });
}
char* vboard_can_sent_text(void) {
    return guardControl(__func__, kNoText, [] { return capi::vboard_can_sent_text(); });
}
size_t vboard_can_pending(void) {
    return guardControl(__func__, size_t{0}, [] { return capi::vboard_can_pending(); });
}
int vboard_can_log(const char* path) {
    return guardControl(__func__, 0, [&] { return capi::vboard_can_log(path); });
}

// ---- System services ----

int vboard_phy_peek(uint32_t address, unsigned width, uint32_t* value) {
    return guardControl(__func__, 0, [&] { return capi::vboard_phy_peek(address, width, value); });
}
int vboard_phy_poke(uint32_t address, unsigned width, uint32_t value) {
    return guardControl(__func__, 0, [&] { return capi::vboard_phy_poke(address, width, value); });
}
size_t vboard_phy_access_count(void) {
    return guardControl(__func__, size_t{0}, [] { return capi::vboard_phy_access_count(); });
}
uint32_t vboard_backlight_level(void) {
    return guardControl(__func__, uint32_t{0}, [] { return capi::vboard_backlight_level(); });
}
int vboard_kitl_powered(void) {
    return guardControl(__func__, 0, [] { return capi::vboard_kitl_powered(); });
}
uint64_t vboard_touch_calibrations(void) {
    return guardControl(__func__, uint64_t{0}, [] { return capi::vboard_touch_calibrations(); });
}
uint64_t vboard_restarts(void) {
    return guardControl(__func__, uint64_t{0}, [] { return capi::vboard_restarts(); });
}
void vboard_end_process_on_reset(int on) {
    guardVoidControl(__func__, [&] { capi::vboard_end_process_on_reset(on); });
}
int vboard_set_board_folder(const char* folder) {
    return guardControl(__func__, 0, [&] { return capi::vboard_set_board_folder(folder); });
}
char* vboard_board_folder(void) {
    return guardControl(__func__, kNoText, [] { return capi::vboard_board_folder(); });
}
void vboard_storage_card(int inserted) {
    guardVoidControl(__func__, [&] { capi::vboard_storage_card(inserted); });
}
void* vboard_read_board_file(const char* path, size_t* size) {
    return guardControl(__func__, static_cast<void*>(nullptr),
                        [&] { return capi::vboard_read_board_file(path, size); });
}
int vboard_write_board_file(const char* path, const void* data, size_t size) {
    return guardControl(__func__, 0,
                        [&] { return capi::vboard_write_board_file(path, data, size); });
}
char* vboard_hive_text(int current_user) {
    return guardControl(__func__, kNoText,
                        [&] { return capi::vboard_hive_text(current_user); });
}
char* vboard_storage_problems(void) {
    return guardProblem(__func__, [] { return capi::vboard_storage_problems(); });
}

}  // extern "C"
