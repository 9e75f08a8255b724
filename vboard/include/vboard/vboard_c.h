/*
 * The virtual board's control API for C programs: what a C test of an application needs to set
 * the board up, drive it, make calls fail and read back what the library did. It is the C face
 * of vboard/vboard.h; each driver family adds its own entry points below.
 *
 * Texts come back in buffers the board allocates with malloc: free them with vboard_free. Lines
 * are UTF-8, and a debug line keeps its own "\r\n". Every function is safe to call from any thread.
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
   n fails only the nth. Returns the fault's id, or 0 when `function` names no platform call. */
int vboard_arm_fault(const char* function, const char* device, int match_code, uint32_t code,
                     unsigned nth, uint32_t error);
void vboard_disarm_fault(int id);
void vboard_clear_faults(void);

/* ---- Time and pauses ---- */

/* Pauses are recorded without waiting (1) or also waited (0, the default). */
void vboard_virtual_sleep(int on);

/* ---- GPIO: the controller behind "GIO1:", seven banks of 32 pins ---- */

/* Drives the pad of a pin from outside, as a button or another chip would; an input whose
   interrupt mode matches sets the event the library registered for it. */
void vboard_gpio_drive_input(int bank, int pin, int level);

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
