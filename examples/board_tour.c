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

static void systemServices(void) {
    /* USB_ANALOG_DIGPROG names the silicon: 0x0063xxxx is an i.MX6 Quad. */
    uint32_t digprog = ReadPhysicalAddress(1, 0x020C8260, 32);
    /* A word of on-chip RAM, written and read back through a second open. */
    uint32_t back = WritePhysicalAddress(2, 0x00907000, 32, 0xC0FFEE, 1);
    printf("chip revision register 0x%08X\n", (unsigned)digprog);
    printf("on-chip RAM written 0x00C0FFEE, read back 0x%08X\n", (unsigned)back);
    printf("device 0, which names no driver: 0x%08X\n",
           (unsigned)WritePhysicalAddress(0, 0x00907000, 32, 1, 0));
    printf("backlight to level 128: %s\n", answer(SetBacklightLevel(128)));
    printf("backlight off after 120 s, on both supplies: %s\n", answer(SetBacklightSuspend(120, 1)));
    printf("touch calibration: %s\n", answer(CalibrateTouch()));
    printf("debug link restarted: %s\n", answer(RestartPowerKITL()));
    printf("registry saved: %s\n", answer(SaveRegistry()));
    printf("registry backed up to the card: %s\n", answer(CreateRegistryBackup()));
    /* The restore ends in a reset; on the module the tour would end here. */
    printf("registry restored, module reset: %s\n", answer(RestoreRegistryBackup()));
}

int main(void) {
    printf("== versions\n");
    versions();
    printf("== GPIO\n");
    gpio();
    printf("== system\n");
    systemServices();
    return 0;
}
