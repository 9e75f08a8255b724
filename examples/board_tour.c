/*
 * A tour of the board through the library, as an application on the module would make it.
 * On a host it runs on the virtual board; set VBOARD_DEBUG=stdout to see the library's debug
 * lines between the tour's own.
 */
#include <stdio.h>

#include "Tarvik.h"

static void versions(void) {
    uint32_t library = TarvikGetVersion();
    uint32_t bsp = BSPGetVersion();
    uint32_t image = WinCEImageGetVersion();
    printf("library version  %u.%u.%u.%u (0x%08X)\n", (unsigned)(library >> 24),
           (unsigned)((library >> 16) & 0xFF), (unsigned)((library >> 8) & 0xFF),
           (unsigned)(library & 0xFF), (unsigned)library);
    printf("BSP version      0x%08X%s\n", (unsigned)bsp, bsp == 0 ? " (not readable)" : "");
    printf("image version    0x%08X%s\n", (unsigned)image, image == 0 ? " (not readable)" : "");
}

static const char* answer(uint8_t ok) { return ok ? "ok" : "refused"; }

static void gpio(void) {
    HANDLE event;
    /* Module index 1 is i.MX6 bank 0, pin 2. GPIOGetPin answers 1 when the pin reads low. */
    printf("index 1 as an output, high: %s\n", answer(GPIOSetDirection(1, 0, 1)));
    printf("index 1 reads %s\n", GPIOGetPin(1) ? "low" : "high");
    GPIOSetPin(1, 0);
    printf("index 1 driven low, reads %s\n", GPIOGetPin(1) ? "low" : "high");
    printf("index 25, a UART RTS line, as an input: %s\n", answer(GPIOSetDirection(25, 1, 0)));
    printf("index 30, which has no GPIO: %s\n", answer(GPIOSetDirection(30, 0, 0)));

    event = CreateEventW(NULL, FALSE, FALSE, NULL);
    printf("index 3, rising-edge interrupt (mode 2): %s\n", answer(GPIOSetInterrupt(3, 2, event)));
    printf("index 3, interrupt cleared: %s\n", answer(GPIOClearInterrupt(3)));
    CloseHandle(event);
}

static void can(void) {
    static const uint8_t frame[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    uint8_t received[8] = {0};
    uint32_t status = 0, id = 0, length = 0, remote = 0, sends = 0;
    printf("CAN open: %s\n", answer(CANOpen(1)));
    /* 11-bit identifiers at 500 kbit/s; loopback brings our own frames back to us. */
    printf("500 kbit/s, loopback: %s\n", answer(CANConfigureMode(1, 0, 500000, 0, 1)));
    CANConfigureMessage(1, 0, 0x123, 0, 0, 1);
    CANConfigureMessage(1, 0, 0, 0, 0, 0);
    printf("send 123#DEADBEEF: %s (status %u)\n", answer(CANWrite(1, frame, 4, &status)),
           (unsigned)status);
    printf("read it back: %s (status %u)\n", answer(CANRead(1, received, 8, &status)),
           (unsigned)status);
    if (CANGetMessageParameter(1, &id, &length, &remote, NULL, NULL, &sends, 0))
        printf("received id 0x%03X, %u bytes %02X %02X %02X %02X, remote %u, sends %u\n",
               (unsigned)id, (unsigned)length, received[0], received[1], received[2], received[3],
               (unsigned)remote, (unsigned)sends);
    CANClose(1);
}

int main(void) {
    printf("== versions\n");
    versions();
    printf("== GPIO\n");
    gpio();
    printf("== CAN\n");
    can();
    return 0;
}
