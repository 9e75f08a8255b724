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

static void i2c(void) {
    /* The board's EEPROM sits on bus 0 at address 0x50. The library points it at register
     * 0x12 followed by a 0x00 byte, so the bytes land at EEPROM address 0x1200. */
    static const uint8_t message[4] = {0xC0, 0xFF, 0xEE, 0x42};
    uint8_t back[4] = {0, 0, 0, 0};
    uint8_t first = 0;
    uint8_t ok;
    unsigned i;
    printf("EEPROM, 4 bytes written at register 0x12: %s\n",
           answer(I2CWriteMultipleBytes(0, 0, 0x50, 0x12, sizeof message, message)));
    ok = I2CReadMultipleBytes(0, 0, 0x50, 0x12, sizeof back, back);
    printf("EEPROM, 4 bytes read back: %s,", answer(ok));
    for (i = 0; i < sizeof back; ++i) printf(" %02X", back[i]);
    printf("\n");
    ok = I2CRead(0, 0, 0x50, 0x12, &first);
    printf("EEPROM, one byte read: %s, %02X\n", answer(ok), first);
    printf("bus 1, nobody at 0x50: %s\n", answer(I2CWrite(1, 0, 0x50, 0x00, 0x01)));
    printf("bus 0 opened at 400 kHz: %s\n", answer(I2COpen(0, 1)));
    I2CClose(0);
}

int main(void) {
    printf("== versions\n");
    versions();
    printf("== GPIO\n");
    gpio();
    printf("== I2C\n");
    i2c();
    return 0;
}
