/*
 * The virtual board's control API for C programs: what a C test of an application needs to set
 * the board up, drive it, make calls fail and read back what the library did. It is the C face
 * of vboard/vboard.h; each driver family adds its own entry points below.
 *
 * Texts come back in buffers the board allocates with malloc: free them with vboard_free. Lines
 * are UTF-8, and a debug line keeps its own "\r\n". Every function is safe to call from any thread.
 * No C++ exception leaves them (a model or a directive of your own that throws, memory running
 * out): the function answers its failure status instead (0, NULL, or the exception as the problem
 * text where it answers one) and says so on stderr.
 */
#ifndef VBOARD_C_H
#define VBOARD_C_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- The board ---- */

/* Back to the power-on state, as vboard::reset(): models, registry, records, faults, time,
   pauses, recording; handles still open are closed. */
void vboard_reset(void);

/* Applies one configuration line ("gpio input 3.5 1"). Returns NULL when it applied, or the
   problem as a text to free with vboard_free. */
char* vboard_apply(const char* line);
/* Applies a configuration file. Returns NULL when every line applied, or the problems, one a
   line, as a text to free with vboard_free. */
char* vboard_load_config(const char* path);

/* Serves the live board's protocol on a Unix-domain socket: a path, or "auto" for
   $XDG_RUNTIME_DIR/tarvik/<pid>.sock (see vboard::listen). Returns NULL when it listens, or the
   problem as a text to free with vboard_free. */
char* vboard_listen(const char* where);

/* What the board keeps: "off", "last <n>" or "all" (the default is "last 65536"). Returns 1 when
   the setting was taken, 0 when it was not understood. */
int vboard_record(const char* setting);

/* Echo targets: "stdout", "stderr", a file name (appended to), or "" to stop. 1 when opened. */
int vboard_echo_debug(const char* target);
int vboard_echo_trace(const char* target);

void vboard_free(void* text);

/* ---- What the library did ---- */

/* The kept debug lines, in order, as one text; NULL when there are none. */
char* vboard_debug_text(void);
/* Every line recorded since the last reset or clear, kept or not. */
uint64_t vboard_debug_count(void);
void vboard_clear_debug(void);

/* The kept trace, one line a platform call, each ending in "\n"; NULL when empty. */
char* vboard_trace_text(void);
uint64_t vboard_trace_count(void);
void vboard_clear_trace(void);

/* Driver handles still open on one device (NULL or "" for any device). */
size_t vboard_open_driver_handles(const char* device);
/* Calls on closed or foreign handles and bad closes: a test should end with none. */
uint64_t vboard_misuse_count(void);
/* The kept misuses, one a line; NULL when there are none. */
char* vboard_misuses_text(void);

/* ---- Faults ---- */

/* Makes matching platform calls fail with `error`. `function` and `device` may be NULL for any;
   `code` is matched only when `match_code` is non-zero; `nth` 0 fails every matching call,
   n fails only the nth. Returns the fault's id, or 0 when `function` names no platform call or
   `device` no device on the board (for DeviceIoControl and the serial calls, and any name shaped
   like a device's, "I2C2:"; events, keys and files are not checked). */
int vboard_arm_fault(const char* function, const char* device, int match_code, uint32_t code,
                     unsigned nth, uint32_t error);
/* 1 when a fault with that id was armed (and now is not), 0 otherwise. */
int vboard_disarm_fault(int id);
void vboard_clear_faults(void);

/* ---- Time and pauses ---- */

/* Pauses are recorded without waiting (1) or also waited (0, the default). */
void vboard_virtual_sleep(int on);
/* The board's clock, in nanoseconds since power-on: the host's monotonic time with real sleep;
   with virtual sleep it moves only by the pauses made and by vboard_advance_clock. */
uint64_t vboard_clock_ns(void);
void vboard_advance_clock(uint64_t nanoseconds);

/* ---- GPIO: the controller behind "GIO1:", seven banks of 32 pins ---- */

/* Drives the pad of a pin from outside, as a button or another chip would; an input whose
   interrupt mode matches sets the event the library registered for it. 1 when driven, 0 when
   the board has no such pin. */
int vboard_gpio_drive_input(int bank, int pin, int level);
/* The same by module GPIO index, as Tarvik.h numbers the pins (index 3 is bank 0, pin 5); 0 for
   an index without a GPIO (1 to 23 and 34 have one). */
int vboard_gpio_drive_index(uint32_t index, int level);
/* The bank and pin behind a module GPIO index (either pointer may be NULL); 0 for an index
   without a GPIO. */
int vboard_gpio_pad(uint32_t index, int* bank, int* pin);

typedef struct vboard_gpio_pin_state {
    int output;         /* 1 output, 0 input */
    int latch;          /* the level last set by the library */
    int input;          /* the level driven on the pad from outside */
    uint32_t mode;      /* interrupt mode: 0 low, 1 high, 2 rising, 3 falling, 4 both, 5 none */
    int has_event;      /* an event is registered for the pin's interrupt */
} vboard_gpio_pin_state;

/* Fills `state` for a pin; 0 when there is no such pin. */
int vboard_gpio_pin(int bank, int pin, vboard_gpio_pin_state* state);
/* Interrupts fired since the board was reset. */
size_t vboard_gpio_interrupt_count(void);
/* Records a waveform of the GPIO pins the library or the outside world touches (direction, level,
   interrupts) into a VCD file, as vboard::recordVcd; NULL or "" stops and writes the file. 1 when
   done, 0 when the file can't be created or written (errno says why). */
int vboard_vcd(const char* path);

/* ---- SPI: port 0 ("SPI1:", flash on chip select 2), port 1 ("SPI2:", loopback on 0) ---- */

/* Wires one of the board's device models to a port's chip select (-1: the one the board wires):
   "loopback", "flash" (an erased NOR flash), or "none" to take the device off. 1 when done. */
int vboard_spi_attach(int port, const char* model, int chip_select);
/* Programs the flash wired to a port, from `address` on. 1 when there is a flash to program. */
int vboard_spi_flash_program(int port, uint32_t address, const uint8_t* data, size_t size);
/* Exchange requests the ports were sent since the board was reset, accepted or refused. */
size_t vboard_spi_exchange_count(void);
/* ---- I2C: the buses behind "I2C2:" (bus 0), "I2C1:" (bus 1) and "I2C3:" (bus 2) ---- */

/* Puts a device model at a 7-bit address (vboard/i2c.h says how addresses and registers reach
   a device), replacing the one there: kind "eeprom" (size bytes, 1 to 65536; 0 for the default
   32768) or "sensor" (size ignored). 1 when attached, 0 for a bad bus, kind or size. */
int vboard_i2c_attach(int bus, unsigned address, const char* kind, size_t size);
/* Puts an EEPROM at an address, as the directive "i2c attach BUS ADDRESS eeprom SIZE
   page=PAGE write-cycle=MS" does: size 1 to 65536 bytes (0: 32768), page size a power of two up
   to 65536 (0: 64), and the time after a write during which it acknowledges nothing, 0 to 60000
   ms on the board's clock (0: none). 1 when attached, 0 for a bad bus, address or value. */
int vboard_i2c_attach_eeprom(int bus, unsigned address, size_t size, size_t page_size,
                             unsigned write_cycle_ms);
/* Takes the device at an address off the bus; 1 when there was one. */
int vboard_i2c_detach(int bus, unsigned address);
/* Writes bytes into a device's memory or registers from offset on, without a transfer; 1 when
   they fit. */
int vboard_i2c_fill(int bus, unsigned address, uint32_t offset, const uint8_t* bytes,
                    size_t count);
/* Copies up to count bytes of a device's memory or registers from offset on into buffer;
   returns how many were copied (0 when there is no such device). */
size_t vboard_i2c_peek(int bus, unsigned address, uint32_t offset, uint8_t* buffer, size_t count);
/* Sets what the temperature sensor at an address reads, in degrees Celsius; 1 when there is a
   sensor there. */
int vboard_i2c_set_temperature(int bus, unsigned address, double celsius);
/* The bus frequency the library last set, in hertz (0 when none, or no such bus). */
uint32_t vboard_i2c_frequency(int bus);
/* Transfers carried out on a bus since the board was reset, of the most recent 65,536 kept. */
size_t vboard_i2c_transfer_count(int bus);
/* ---- Serial ports: "COM1:" and "COM2:" ---- */

/* Wires a port as the `serial` directive does: "loopback", "null-modem COM2", "pty" or
   "unplugged" (COM1 and COM2 start joined by a null-modem cable). Returns NULL when done, or the
   problem as a text to free with vboard_free. */
char* vboard_serial_wire(const char* port, const char* wiring);
/* The path of the pseudo-terminal a port is wired to, to free with vboard_free; NULL when the
   port has none. */
char* vboard_serial_pty_path(const char* port);
/* Puts bytes on a port's receive line from outside. 1 when the port exists. */
int vboard_serial_receive(const char* port, const void* data, size_t size);
/* Copies up to `size` of the most recent bytes the port sent into `buffer` (which may be NULL
   with size 0) and returns how many the board keeps in all. */
size_t vboard_serial_transmitted(const char* port, void* buffer, size_t size);
/* Waits up to `milliseconds` until a call is blocked on the port (a read or an event wait);
   1 when one is. */
int vboard_serial_await_blocked(const char* port, unsigned milliseconds);
/* ---- CAN: the controller behind "CAN1:" and the other nodes of its bus ---- */

/* Another node sends a frame, in cansend's syntax ("123#DEADBEEF", "1ABCDEF0#01" for a 29-bit
   identifier, "123#R" for a remote frame). 1 when the board's controller queued it for the
   library, 0 when its filters turned it away or the text is no frame. */
int vboard_can_inject(const char* frame);
/* The frames the library sent, one a line in cansend's syntax; NULL when none. */
char* vboard_can_sent_text(void);
/* Frames waiting in the controller's receive queue. */
size_t vboard_can_pending(void);
/* Logs every frame on the bus to a file in candump's log format; NULL or "" stops. 1 when
   the file could be opened. */
int vboard_can_log(const char* path);
/* ---- System services: physical registers, backlight, debug link, touch, reset, storage ---- */

/* A physical register as a read of that width (8, 16, 32) would answer it; 0 for a width or
   an alignment the bus refuses. */
int vboard_phy_peek(uint32_t address, unsigned width, uint32_t* value);
/* Sets a physical register from outside; 0 for a refused width or alignment. */
int vboard_phy_poke(uint32_t address, unsigned width, uint32_t value);
/* Accesses the "PHY1:".."PHY9:" drivers were asked for since power-on. */
size_t vboard_phy_access_count(void);

/* The level the display shows (0 to 255), as "BKL1:" last applied it. */
uint32_t vboard_backlight_level(void);
/* 1 while the kernel debug link is powered. */
int vboard_kitl_powered(void);
/* Touch calibrations run since power-on. */
uint64_t vboard_touch_calibrations(void);

/* Restarts carried out by reset requests on "IOC1:". */
uint64_t vboard_restarts(void);
/* 1: a reset request ends the calling process after the restart, as on the module; 0 (the
   default): the caller goes on. */
void vboard_end_process_on_reset(int on);

/* The board folder that keeps the card, the flash and the registry hives from one program to
   the next; NULL or "" keeps the board in memory. 1 when the folder could be used. */
int vboard_set_board_folder(const char* folder);
/* The board folder, "" in memory; free with vboard_free. */
char* vboard_board_folder(void);
/* Puts the storage card in (1) or takes it out (0). */
void vboard_storage_card(int inserted);
/* A file by CE path ("\\Storage Card\\Save_HKLM_Reg.srg"): its bytes in a buffer to free with
   vboard_free and its size in *size, or NULL when there is no such file. */
void* vboard_read_board_file(const char* path, size_t* size);
/* Writes a file by CE path; 1 when written. */
int vboard_write_board_file(const char* path, const void* data, size_t size);
/* A registry hive as its file holds it (current_user 1: HKEY_CURRENT_USER, 0:
   HKEY_LOCAL_MACHINE); free with vboard_free. */
char* vboard_hive_text(int current_user);
/* Hive files refused and folders not used since the last reset, one a line; NULL when none. */
char* vboard_storage_problems(void);

#ifdef __cplusplus
}
#endif

#endif /* VBOARD_C_H */
