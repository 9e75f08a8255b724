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

int main(void) {
    printf("== versions\n");
    versions();
    printf("== GPIO\n");
    gpio();
    printf("== UART\n");
    uart();
    return 0;
}
