/*
 * line_controller: a station of a machine line, as an application on the module runs it, on
 * Tarvik.h and the CE calls alone. README.md beside this file is its contract; in short:
 *
 *   Button  module GPIO index 2 (bank 0, pin 4), active low (pulled up, pressed pulls it low),
 *           both-edge interrupt, counted once it has read pressed 20 ms (board time) after its
 *           last edge. Each press toggles the lamp.
 *   Lamp    module GPIO index 1 (bank 0, pin 2), an output, high = on.
 *   Serial  COM1 (port 1), 115200 baud, 8N1, no flow control. Lines end in CR or LF, case does
 *           not matter; answers end in CR LF:
 *             STATUS       -> STATUS lamp=ON|OFF presses=<n> station=<n>
 *             LAMP ON|OFF  -> OK lamp=ON|OFF
 *             STATION <n>  -> OK station=<n>          (1 to 127, kept in the EEPROM)
 *             HELP         -> HELP STATUS | LAMP ON|OFF | STATION 1-127 | QUIT
 *             QUIT         -> BYE, then the program ends with status 0
 *             other        -> ERROR unknown command "<line>" (and the usage errors)
 *           At start:         READY lamp=ON|OFF presses=0 station=<n>
 *           A failure:        ERROR <call> failed: <what it cost>, before the next answer
 *   CAN     11-bit identifiers, 250 kbit/s. After every change, 0x180 + station with 4 bytes:
 *           lamp (0/1), presses (high byte, low byte), reason (0 start, 1 button, 2 LAMP,
 *           3 STATION, 4 QUIT). After every failure, 0x080 + station with 1 byte: the code of
 *           the call that failed (see the table below).
 *   EEPROM  bus 0, address 0x50, bytes 0x0000-0x0005: 'L' 'C' 0x01 station lamp sum, where
 *           sum is the low byte of the sum of the five before it. The lamp byte follows every
 *           change, so the lamp comes back as it was after a restart.
 *   Exit    0 after QUIT; 1 when it cannot start (COM1 does not open, no thread), said on
 *           stderr; 2 when given arguments; 3 when COM1 failed 10 reads in a row.
 *
 * Why the serial side reads one byte a call: UARTRead empties the receive queue before it waits,
 * so bytes that arrive while the program is busy are lost, and a read of four bytes waits until
 * four have come. One byte a call answers each byte at once; a sender types at human speed or
 * waits until the program is back in UARTRead before each byte (see README.md).
 *
 * Only this program's main thread uses COM1: two threads may not use one port at once, and the
 * read blocks until a byte comes. Failures the button thread meets therefore go out on CAN at
 * once and on COM1 before the next answer.
 */
#define _POSIX_C_SOURCE 200809L /* pthreads under C99 */

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "Tarvik.h"
#include "lc_threads.h"

/* ---- The board as the program uses it ---- */

#define LC_LAMP_INDEX 1   /* bank 0, pin 2 */
#define LC_BUTTON_INDEX 2 /* bank 0, pin 4 */
#define LC_DEBOUNCE_MS 20

#define LC_SERIAL_PORT 1
#define LC_SERIAL_BAUD 115200
#define LC_LINE_MAX 40 /* characters of a command line */

#define LC_CAN_PORT 1
#define LC_CAN_BITRATE 250000
#define LC_STATUS_ID_BASE 0x180u
#define LC_ERROR_ID_BASE 0x080u

/* The module's configuration EEPROM. A transfer starts at register r, which the library sends
   as the 16-bit address r * 256: register 0 is EEPROM address 0x0000. */
#define LC_EEPROM_BUS 0
#define LC_EEPROM_ADDRESS 0x50
#define LC_EEPROM_REGISTER 0x00
/* A 24-series part takes up to 5 ms to store a page and does not answer meanwhile. */
#define LC_EEPROM_WRITE_CYCLE_MS 5
#define LC_RECORD_SIZE 6
#define LC_RECORD_VERSION 0x01

#define LC_STATION_MIN 1
#define LC_STATION_MAX 127
#define LC_STATION_DEFAULT 1

/* A call that keeps failing is retried after a pause, and given up after this many in a row. */
#define LC_FAILURES_IN_A_ROW 10
#define LC_RETRY_MS 100
/* The button thread looks at the quit flag at least this often, should waking it fail. */
#define LC_BUTTON_POLL_MS 1000

#define LC_EXIT_QUIT 0
#define LC_EXIT_NO_START 1
#define LC_EXIT_USAGE 2
#define LC_EXIT_SERIAL_LOST 3

/* Why a status frame went out: its fourth byte. */
enum lc_reason {
    LC_REASON_START = 0,
    LC_REASON_BUTTON = 1,
    LC_REASON_LAMP = 2,
    LC_REASON_STATION = 3,
    LC_REASON_QUIT = 4
};

/* The calls whose failure the program reports, by the code its error frame carries. */
enum lc_failure {
    LC_FAIL_GPIO_SET_DIRECTION = 0x01,
    LC_FAIL_CREATE_EVENT = 0x02,
    LC_FAIL_GPIO_SET_INTERRUPT = 0x03,
    LC_FAIL_WAIT = 0x04,
    LC_FAIL_GPIO_CLEAR_INTERRUPT = 0x05,
    LC_FAIL_I2C_READ = 0x06,
    LC_FAIL_I2C_WRITE = 0x07,
    LC_FAIL_CAN_OPEN = 0x08,
    LC_FAIL_CAN_CONFIGURE_MODE = 0x09,
    LC_FAIL_CAN_CONFIGURE_MESSAGE = 0x0A,
    LC_FAIL_CAN_WRITE = 0x0B,
    LC_FAIL_UART_READ = 0x0C,
    LC_FAIL_UART_WRITE = 0x0D
};

static const char* const lc_failure_calls[] = {
    "",
    "GPIOSetDirection",
    "CreateEventW",
    "GPIOSetInterrupt",
    "WaitForSingleObject",
    "GPIOClearInterrupt",
    "I2CReadMultipleBytes",
    "I2CWriteMultipleBytes",
    "CANOpen",
    "CANConfigureMode",
    "CANConfigureMessage",
    "CANWrite",
    "UARTRead",
    "UARTWrite",
};

/* ---- The program's state: everything below is guarded by lc.lock ---- */

#define LC_REPORT_MAX 112
#define LC_PENDING_MAX 8

static struct {
    lc_lock lock;
    int lamp;
    unsigned long presses;
    unsigned station;
    int can_open;
    int quitting;
    /* Failure lines waiting for the main thread to put them on COM1. */
    char pending[LC_PENDING_MAX][LC_REPORT_MAX];
    unsigned pending_count;
    unsigned long pending_lost;
} lc;

/* Sends one frame; 0 when it went out, else the call that failed. The transmit record's
   identifier changes from frame to frame, so it is set before each one. */
static enum lc_failure can_put(uint32_t id, const uint8_t* data, int32_t length) {
    uint32_t status = 0;
    if (!CANConfigureMessage(LC_CAN_PORT, 0, id, 0, 0, 1)) return LC_FAIL_CAN_CONFIGURE_MESSAGE;
    if (!CANWrite(LC_CAN_PORT, data, length, &status)) return LC_FAIL_CAN_WRITE;
    return (enum lc_failure)0;
}

/* Reports a failed call: on stderr and CAN at once, and on COM1 before the next answer (unless
   COM1's write is what failed). The error frame is tried after a CAN failure too: a single
   failed transfer lets the next one through. */
static void fail(enum lc_failure call, const char* consequence) {
    char line[LC_REPORT_MAX];
    snprintf(line, sizeof line, "ERROR %s failed: %s", lc_failure_calls[call], consequence);
    fprintf(stderr, "line_controller: %s\n", line);
    if (call != LC_FAIL_UART_WRITE) {
        if (lc.pending_count < LC_PENDING_MAX)
            memcpy(lc.pending[lc.pending_count++], line, sizeof line);
        else
            ++lc.pending_lost;
    }
    if (lc.can_open) {
        const uint8_t code = (uint8_t)call;
        /* Its own failure is not reported again: that would never end. */
        (void)can_put(LC_ERROR_ID_BASE + lc.station, &code, 1);
    }
}

static void send_status(enum lc_reason reason) {
    uint8_t frame[4];
    enum lc_failure failed;
    if (!lc.can_open) return;
    frame[0] = (uint8_t)(lc.lamp ? 1 : 0);
    frame[1] = (uint8_t)((lc.presses >> 8) & 0xFF);
    frame[2] = (uint8_t)(lc.presses & 0xFF);
    frame[3] = (uint8_t)reason;
    failed = can_put(LC_STATUS_ID_BASE + lc.station, frame, sizeof frame);
    if (failed) fail(failed, "status frame not sent");
}

/* ---- Settings in the EEPROM ---- */

static void settings_record(uint8_t record[LC_RECORD_SIZE]) {
    unsigned sum = 0, i;
    record[0] = 'L';
    record[1] = 'C';
    record[2] = LC_RECORD_VERSION;
    record[3] = (uint8_t)lc.station;
    record[4] = (uint8_t)(lc.lamp ? 1 : 0);
    for (i = 0; i < LC_RECORD_SIZE - 1; ++i) sum += record[i];
    record[LC_RECORD_SIZE - 1] = (uint8_t)(sum & 0xFF);
}

static int settings_valid(const uint8_t record[LC_RECORD_SIZE]) {
    unsigned sum = 0, i;
    for (i = 0; i < LC_RECORD_SIZE - 1; ++i) sum += record[i];
    return record[0] == 'L' && record[1] == 'C' && record[2] == LC_RECORD_VERSION &&
           record[3] >= LC_STATION_MIN && record[3] <= LC_STATION_MAX && record[4] <= 1 &&
           record[LC_RECORD_SIZE - 1] == (uint8_t)(sum & 0xFF);
}

static void save_settings(const char* consequence) {
    uint8_t record[LC_RECORD_SIZE];
    uint8_t ok;
    settings_record(record);
    ok = I2CWriteMultipleBytes(LC_EEPROM_BUS, 0, LC_EEPROM_ADDRESS, LC_EEPROM_REGISTER,
                               LC_RECORD_SIZE, record);
    Sleep(LC_EEPROM_WRITE_CYCLE_MS);
    if (!ok) fail(LC_FAIL_I2C_WRITE, consequence);
}

/* Takes the stored station and lamp; an erased or foreign record is replaced by the defaults,
   an unreadable one is left alone. */
static void load_settings(void) {
    uint8_t record[LC_RECORD_SIZE];
    memset(record, 0, sizeof record);
    lc.station = LC_STATION_DEFAULT;
    lc.lamp = 0;
    if (!I2CReadMultipleBytes(LC_EEPROM_BUS, 0, LC_EEPROM_ADDRESS, LC_EEPROM_REGISTER,
                              LC_RECORD_SIZE, record)) {
        fail(LC_FAIL_I2C_READ, "settings not read, station 1 and lamp off used");
        return;
    }
    if (!settings_valid(record)) {
        save_settings("default settings not saved");
        return;
    }
    lc.station = record[3];
    lc.lamp = record[4];
}

/* ---- Changes ---- */

/* A GPIOSetDirection for an output sets its level as well and, unlike GPIOSetPin, answers
   whether the driver took it. */
static int drive_lamp(int on) {
    if (GPIOSetDirection(LC_LAMP_INDEX, 0, (uint8_t)(on ? 1 : 0))) return 1;
    fail(LC_FAIL_GPIO_SET_DIRECTION, on ? "lamp not switched on" : "lamp not switched off");
    return 0;
}

/* The lamp to `on`; a status frame when the lamp or the count changed. */
static void change_lamp(int on, enum lc_reason reason, int pressed) {
    int changed = pressed;
    if (on != lc.lamp && drive_lamp(on)) {
        lc.lamp = on;
        changed = 1;
        save_settings("lamp state not saved");
    }
    if (changed) send_status(reason);
}

static void change_station(unsigned station) {
    if (station == lc.station) return;
    lc.station = station;
    save_settings("station not saved");
    send_status(LC_REASON_STATION);
}

/* ---- The button ---- */

static struct {
    HANDLE event;
    int armed;
    int pressed; /* the debounced state */
    lc_thread thread;
    int running;
} button;

static int quitting(void) {
    int quit;
    lc_lock_enter(&lc.lock);
    quit = lc.quitting;
    lc_lock_leave(&lc.lock);
    return quit;
}

/* GPIOGetPin answers 1 for a pin that reads low, which is a pressed button; a pin it cannot read
   answers 0 and so reads as released, never as a press. */
static int button_reads_pressed(void) { return GPIOGetPin(LC_BUTTON_INDEX) == 1; }

static void arm_button(void) {
    button.event = CreateEventW(NULL, FALSE, FALSE, NULL);
    if (button.event == NULL) {
        fail(LC_FAIL_CREATE_EVENT, "button not read");
        return;
    }
    if (!GPIOSetInterrupt(LC_BUTTON_INDEX, TARVIK_GPIO_BOTH_EDGES, button.event)) {
        fail(LC_FAIL_GPIO_SET_INTERRUPT, "button not read");
        return;
    }
    button.armed = 1;
    /* A button held at start counts only once it has been released and pressed again. */
    button.pressed = button_reads_pressed();
}

/* Every edge sets the event; the level is read once the contacts have settled. Edges during the
   pause set the event again, so the last edge is always followed by a read. */
static void button_thread(void* unused) {
    unsigned failures = 0;
    (void)unused;
    for (;;) {
        const DWORD woke = WaitForSingleObject(button.event, LC_BUTTON_POLL_MS);
        int pressed;
        if (quitting()) return;
        if (woke == WAIT_TIMEOUT) continue;
        if (woke != WAIT_OBJECT_0) {
            const int give_up = ++failures >= LC_FAILURES_IN_A_ROW;
            lc_lock_enter(&lc.lock);
            fail(LC_FAIL_WAIT, give_up ? "button no longer read" : "button wait retried");
            lc_lock_leave(&lc.lock);
            if (give_up) return;
            Sleep(LC_RETRY_MS);
            continue;
        }
        failures = 0;
        Sleep(LC_DEBOUNCE_MS);
        pressed = button_reads_pressed();
        if (pressed == button.pressed) continue;
        button.pressed = pressed;
        if (!pressed) continue;
        lc_lock_enter(&lc.lock);
        ++lc.presses;
        change_lamp(!lc.lamp, LC_REASON_BUTTON, 1);
        lc_lock_leave(&lc.lock);
    }
}

/* ---- COM1 ---- */

static void write_line(const char* text) {
    char line[LC_REPORT_MAX + 2];
    snprintf(line, sizeof line, "%s\r\n", text);
    if (!UARTWrite(LC_SERIAL_PORT, line)) {
        lc_lock_enter(&lc.lock);
        fail(LC_FAIL_UART_WRITE, "answer not sent");
        lc_lock_leave(&lc.lock);
    }
}

/* Puts the failure lines that are waiting on COM1, oldest first. */
static void flush_failures(void) {
    char lines[LC_PENDING_MAX][LC_REPORT_MAX];
    unsigned count, i;
    unsigned long lost;
    lc_lock_enter(&lc.lock);
    count = lc.pending_count;
    lost = lc.pending_lost;
    memcpy(lines, lc.pending, sizeof lines);
    lc.pending_count = 0;
    lc.pending_lost = 0;
    lc_lock_leave(&lc.lock);
    for (i = 0; i < count; ++i) write_line(lines[i]);
    if (lost > 0) {
        char line[LC_REPORT_MAX];
        snprintf(line, sizeof line, "ERROR %lu more failures not shown", lost);
        write_line(line);
    }
}

static void answer(const char* text) {
    flush_failures();
    write_line(text);
}

static void status_line(const char* word, char* line, size_t size) {
    lc_lock_enter(&lc.lock);
    snprintf(line, size, "%s lamp=%s presses=%lu station=%u", word, lc.lamp ? "ON" : "OFF",
             lc.presses, lc.station);
    lc_lock_leave(&lc.lock);
}

/* "1" to "127", digits only. */
static int parse_station(const char* word, unsigned* station) {
    unsigned value = 0;
    if (*word == '\0') return 0;
    for (; *word != '\0'; ++word) {
        if (!isdigit((unsigned char)*word)) return 0;
        value = value * 10 + (unsigned)(*word - '0');
        if (value > LC_STATION_MAX) return 0;
    }
    if (value < LC_STATION_MIN) return 0;
    *station = value;
    return 1;
}

/* Carries out one command line; 1 for QUIT. */
static int run_command(const char* line) {
    char words[3][LC_LINE_MAX + 1];
    char reply[LC_REPORT_MAX];
    unsigned count = 0;
    const char* at = line;
    while (*at != '\0') {
        size_t length = 0;
        while (*at == ' ' || *at == '\t') ++at;
        if (*at == '\0') break;
        if (count == 3) {
            ++count;
            break;
        }
        while (*at != '\0' && *at != ' ' && *at != '\t')
            words[count][length++] = (char)toupper((unsigned char)*at++);
        words[count++][length] = '\0';
    }
    if (count == 0) return 0;

    if (strcmp(words[0], "STATUS") == 0 && count == 1) {
        status_line("STATUS", reply, sizeof reply);
    } else if (strcmp(words[0], "LAMP") == 0) {
        if (count == 2 && (strcmp(words[1], "ON") == 0 || strcmp(words[1], "OFF") == 0)) {
            lc_lock_enter(&lc.lock);
            change_lamp(strcmp(words[1], "ON") == 0, LC_REASON_LAMP, 0);
            snprintf(reply, sizeof reply, "OK lamp=%s", lc.lamp ? "ON" : "OFF");
            lc_lock_leave(&lc.lock);
        } else {
            snprintf(reply, sizeof reply, "ERROR usage: LAMP ON|OFF");
        }
    } else if (strcmp(words[0], "STATION") == 0) {
        unsigned station;
        if (count == 2 && parse_station(words[1], &station)) {
            lc_lock_enter(&lc.lock);
            change_station(station);
            snprintf(reply, sizeof reply, "OK station=%u", lc.station);
            lc_lock_leave(&lc.lock);
        } else {
            snprintf(reply, sizeof reply, "ERROR usage: STATION 1-127");
        }
    } else if (strcmp(words[0], "HELP") == 0 && count == 1) {
        snprintf(reply, sizeof reply, "HELP STATUS | LAMP ON|OFF | STATION 1-127 | QUIT");
    } else if (strcmp(words[0], "QUIT") == 0 && count == 1) {
        return 1;
    } else {
        snprintf(reply, sizeof reply, "ERROR unknown command \"%s\"", line);
    }
    answer(reply);
    return 0;
}

/* Assembles lines from COM1 and answers them until QUIT; the program's exit status. */
static int serve_commands(void) {
    char line[LC_LINE_MAX + 1];
    size_t length = 0;
    int overlong = 0;
    unsigned failures = 0;
    for (;;) {
        /* The read does not say how many bytes came: a byte still 0 afterwards means none. */
        uint8_t byte = 0;
        if (!UARTRead(LC_SERIAL_PORT, 1, &byte)) {
            const int give_up = ++failures >= LC_FAILURES_IN_A_ROW;
            lc_lock_enter(&lc.lock);
            fail(LC_FAIL_UART_READ, give_up ? "COM1 given up" : "received bytes may be lost");
            lc_lock_leave(&lc.lock);
            flush_failures();
            if (give_up) return LC_EXIT_SERIAL_LOST;
            Sleep(LC_RETRY_MS);
            continue;
        }
        failures = 0;
        if (byte == '\r' || byte == '\n') {
            line[length] = '\0';
            if (overlong)
                answer("ERROR line too long (at most 40 characters)");
            else if (run_command(line))
                return LC_EXIT_QUIT;
            length = 0;
            overlong = 0;
        } else if (byte == 0x08 || byte == 0x7F) { /* backspace, delete: a person typing */
            if (length > 0 && !overlong) --length;
        } else if (byte >= 0x20 && byte < 0x7F) {
            if (length < LC_LINE_MAX)
                line[length++] = (char)byte;
            else
                overlong = 1;
        }
    }
}

/* ---- Start and end ---- */

static void open_can(void) {
    if (!CANOpen(LC_CAN_PORT)) {
        /* A failed open keeps the controller refused until it is closed. */
        CANClose(LC_CAN_PORT);
        fail(LC_FAIL_CAN_OPEN, "no CAN frames");
        return;
    }
    lc.can_open = 1;
    /* 11-bit identifiers, no TLPRIO, no loopback: the frames are for the other nodes. */
    if (!CANConfigureMode(LC_CAN_PORT, 0, LC_CAN_BITRATE, 0, 0))
        fail(LC_FAIL_CAN_CONFIGURE_MODE, "CAN bit rate not set");
}

/* Stops the button and closes everything the program opened, in the reverse order. */
static void shut_down(int status) {
    lc_lock_enter(&lc.lock);
    lc.quitting = 1;
    lc_lock_leave(&lc.lock);
    if (button.running) {
        SetEvent(button.event);
        lc_thread_join(&button.thread);
    }
    lc_lock_enter(&lc.lock);
    if (button.armed && !GPIOClearInterrupt(LC_BUTTON_INDEX))
        fail(LC_FAIL_GPIO_CLEAR_INTERRUPT, "button interrupt not released");
    if (button.event != NULL) CloseHandle(button.event);
    if (lc.can_open) {
        send_status(LC_REASON_QUIT);
        CANClose(LC_CAN_PORT);
        lc.can_open = 0;
    }
    lc_lock_leave(&lc.lock);
    flush_failures();
    if (status == LC_EXIT_QUIT) write_line("BYE");
    UARTClose(LC_SERIAL_PORT);
}

int main(int argc, char** argv) {
    char ready[LC_REPORT_MAX];
    int status;
    (void)argv;
    if (argc > 1) {
        fprintf(stderr, "usage: line_controller (no arguments: see examples/line_controller/README.md)\n");
        return LC_EXIT_USAGE;
    }
    if (!UARTOpen(LC_SERIAL_PORT, 0, LC_SERIAL_BAUD)) {
        /* A port that opened but took no configuration stays open until closed. */
        UARTClose(LC_SERIAL_PORT);
        fprintf(stderr, "line_controller: cannot start: UARTOpen failed: COM1 did not open at "
                        "%d baud\n", LC_SERIAL_BAUD);
        return LC_EXIT_NO_START;
    }
    lc_lock_init(&lc.lock);

    lc_lock_enter(&lc.lock);
    load_settings();
    if (!drive_lamp(lc.lamp)) lc.lamp = 0;
    open_can();
    arm_button();
    send_status(LC_REASON_START);
    lc_lock_leave(&lc.lock);

    if (button.armed) {
        if (!lc_thread_start(&button.thread, button_thread, NULL)) {
            fprintf(stderr, "line_controller: cannot start: no thread for the button\n");
            shut_down(LC_EXIT_NO_START);
            lc_lock_destroy(&lc.lock);
            return LC_EXIT_NO_START;
        }
        button.running = 1;
    }

    status_line("READY", ready, sizeof ready);
    answer(ready);
    printf("line_controller: ready, commands on COM1 at %d baud\n", LC_SERIAL_BAUD);
    fflush(stdout);

    status = serve_commands();
    if (status == LC_EXIT_SERIAL_LOST)
        fprintf(stderr, "line_controller: COM1 failed %d reads in a row: stopping\n",
                LC_FAILURES_IN_A_ROW);
    shut_down(status);
    lc_lock_destroy(&lc.lock);
    return status;
}
