/*
 * vboard/src/drivers: a small application for the tests of what processes share, the board
 * folder's part images and a CAN bus. Run with VBOARD_DIR / VBOARD_CONFIG as an application is:
 *   eeprom-read REG LEN          prints the EEPROM's bytes from REG x 256 ("0xaa 0xbb")
 *   eeprom-write REG BYTE...     writes them there; "eeprom-write-wait" then prints "written"
 *                                and waits to be killed
 *   can-recv ID:MASK COUNT       prints "ready" once its filter is in, then COUNT frames
 *   can-send LOOPBACK FRAME...   sends each frame (123#AABB), then prints the frames its own
 *                                controller received ("own 123#AABB")
 *   can-wait                     prints "ready" once on the bus and waits to be killed
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "Tarvik.h"

static void ready(const char* text) {
    printf("%s\n", text);
    fflush(stdout);
}

static void frameText(uint32_t id, const uint8_t* data, uint32_t length) {
    printf("%03X#", (unsigned)id);
    for (uint32_t i = 0; i < length; ++i) printf("%02X", data[i]);
}

/* Receives one frame into `data`; 0 when none is waiting. */
static int receive(uint32_t* id, uint8_t* data, uint32_t* length) {
    uint32_t status = 0;
    if (CANConfigureMessage(1, 0, 0, 0, 0, 0) != 1) return 0;
    if (CANRead(1, data, 8, &status) != 1) return 0;
    return CANGetMessageParameter(1, id, length, NULL, NULL, NULL, NULL, 0) == 1;
}

int main(int argc, char** argv) {
    const char* what = argc > 1 ? argv[1] : "";
    if (strncmp(what, "eeprom-", 7) == 0 && argc > 2) {
        const uint8_t reg = (uint8_t)strtoul(argv[2], NULL, 0);
        uint8_t bytes[255];
        if (strcmp(what, "eeprom-read") == 0) {
            const uint32_t length = argc > 3 ? (uint32_t)strtoul(argv[3], NULL, 0) : 1;
            if (length == 0 || length > sizeof bytes) return 2;
            if (I2CReadMultipleBytes(0, 0, 0x50, reg, length, bytes) != 1) return 1;
            for (uint32_t i = 0; i < length; ++i) printf(i ? " 0x%02x" : "0x%02x", bytes[i]);
            printf("\n");
            return 0;
        }
        const int count = argc - 3;
        if (count < 1 || count > 255) return 2;
        for (int i = 0; i < count; ++i) bytes[i] = (uint8_t)strtoul(argv[3 + i], NULL, 0);
        if (I2CWriteMultipleBytes(0, 0, 0x50, reg, (uint32_t)count, bytes) != 1) return 1;
        if (strcmp(what, "eeprom-write-wait") != 0) return 0;
        ready("written");
        for (;;) pause();
    }
    if (CANOpen(1) != 1) return 1;
    if (strcmp(what, "can-wait") == 0) {
        ready("ready");
        for (;;) pause();
    }
    if (strcmp(what, "can-recv") == 0 && argc == 4) {
        unsigned id = 0, mask = 0;
        if (sscanf(argv[2], "%x:%x", &id, &mask) != 2) return 2;
        if (CANConfigureMode(1, 0, 500000, 0, 0) != 1 ||
            CANConfigureFilter(1, (int32_t)id, mask, 1, 0) != 1)
            return 1;
        ready("ready");
        /* The board's receive wait (the configuration's "can rx-wait") paces the loop. */
        for (long left = strtol(argv[3], NULL, 0); left > 0;) {
            uint32_t got = 0, length = 0;
            uint8_t data[8] = {0};
            if (!receive(&got, data, &length)) continue;
            frameText(got, data, length);
            printf("\n");
            --left;
        }
        return 0;
    }
    if (strcmp(what, "can-send") == 0 && argc > 3) {
        if (CANConfigureMode(1, 0, 500000, 0, (uint8_t)atoi(argv[2])) != 1) return 1;
        for (int i = 3; i < argc; ++i) {
            uint8_t data[8];
            uint32_t length = 0, status = 0;
            const char* hash = strchr(argv[i], '#');
            if (hash == NULL) return 2;
            for (const char* p = hash + 1; p[0] && p[1] && length < 8; p += 2) {
                char byte[3] = {p[0], p[1], 0};
                data[length++] = (uint8_t)strtoul(byte, NULL, 16);
            }
            if (CANConfigureMessage(1, 0, (uint32_t)strtoul(argv[i], NULL, 16), 0, 0, 1) != 1 ||
                CANWrite(1, data, (int32_t)length, &status) != 1 || status != 0)
                return 1;
        }
        uint32_t got = 0, length = 0;
        uint8_t data[8] = {0};
        while (receive(&got, data, &length)) {
            printf("own ");
            frameText(got, data, length);
            printf("\n");
        }
        return 0;
    }
    return 2;
}
