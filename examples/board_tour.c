/*
 * A tour of the board through the library, as an application on the module would make it.
 * On a host it runs on the virtual board; set VBOARD_DEBUG=stdout to see the library's debug
 * lines between the tour's own.
 */
#define _POSIX_C_SOURCE 200809L /* pthreads under C99 */

#include <pthread.h>
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

static void spi(void) {
    /* Port 0 reaches the board's serial flash: 0x9F asks for its identification bytes. */
    const uint8_t identify[4] = {0x9F, 0x00, 0x00, 0x00};
    const uint8_t hello[2] = {0xA5, 0x3C};
    uint8_t answer4[4] = {0};
    uint8_t answer2[2] = {0};
    printf("port 0 open: %s\n", answer(SPIOpen(0)));
    printf("port 0 mode 0 at 1 MHz: %s\n", answer(SPIConfigure(0, 0, 1000000, 0)));
    printf("port 0 identify: %s", answer(SPIExchange(0, 32, identify, answer4)));
    printf(", flash id %02X %02X %02X\n", answer4[1], answer4[2], answer4[3]);
    SPIClose(0);
    /* The virtual board loops port 1's MOSI back to MISO. Closing port 0 closed the event both
       ports share, so port 1 is configured before it exchanges. */
    printf("port 1 open: %s\n", answer(SPIOpen(1)));
    printf("port 1 mode 3 at 4 MHz: %s\n", answer(SPIConfigure(1, 3, 4000000, 0)));
    printf("port 1 loopback: %s", answer(SPIExchange(1, 16, hello, answer2)));
    printf(", sent A5 3C, received %02X %02X\n", answer2[0], answer2[1]);
    printf("port 2, which the board lacks: %s\n", answer(SPIOpen(2)));
    SPIClose(1);
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

/* UARTRead flushes the port and then waits for bytes that arrive after it started, so the bytes
   must come from elsewhere while it waits: here a second thread sends on COM1 until the read on
   COM2, at the far end of the null-modem cable, has them. */
static pthread_mutex_t uartLock = PTHREAD_MUTEX_INITIALIZER;
static int uartReadDone = 0;

static int readDone(void) {
    int done;
    pthread_mutex_lock(&uartLock);
    done = uartReadDone;
    pthread_mutex_unlock(&uartLock);
    return done;
}

static void* sendUntilRead(void* unused) {
    (void)unused;
    while (!readDone()) {
        UARTWrite(1, "ping");
        Sleep(20);
    }
    return NULL;
}

static void uart(void) {
    uint8_t received[5] = {0};
    pthread_t sender;
    printf("COM1 at 115200, no flow control: %s\n", answer(UARTOpen(1, 0, 115200)));
    printf("COM2 at 115200, no flow control: %s\n", answer(UARTOpen(2, 0, 115200)));
    if (pthread_create(&sender, NULL, sendUntilRead, NULL) != 0) {
        printf("no thread to send with\n");
    } else {
        uint8_t ok = UARTRead(2, 4, received);
        pthread_mutex_lock(&uartLock);
        uartReadDone = 1;
        pthread_mutex_unlock(&uartLock);
        pthread_join(sender, NULL);
        printf("COM2 read: %s \"%s\"\n", answer(ok), (const char*)received);
    }
    UARTClose(1);
    UARTClose(2);
    printf("port 3, which has no device: %s\n", answer(UARTOpen(3, 0, 9600)));
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
    printf("== SPI\n");
    spi();
    printf("== I2C\n");
    i2c();
    printf("== UART\n");
    uart();
    printf("== CAN\n");
    can();
    printf("== system\n");
    systemServices();
    return 0;
}
