/*
 * An application for the live board's tests: it runs on a board that listens (VBOARD_LISTEN) and
 * does what its standard input says, one command a line, answering "done" on its standard
 * output after each, so that a test knows what the application has done; it ends at the end of
 * its input.
 *   pin <index> <level>     GPIOSetDirection to an output at that level
 *   read <port> <count>     UARTRead one byte at a time, <count> times, then prints them
 *   toggle <index> <count>  drives the output to and fro, <count> level changes
 *   print                   a call that fails and says so on the debug output
 */
#include <stdio.h>
#include <string.h>

#include "Tarvik.h"

int main(void) {
    char line[256];
    setvbuf(stdout, NULL, _IOLBF, 0);
    printf("ready\n");
    while (fgets(line, sizeof line, stdin) != NULL) {
        unsigned a = 0, b = 0;
        if (sscanf(line, "pin %u %u", &a, &b) == 2) {
            GPIOSetDirection(a, 0, (uint8_t)b);
        } else if (sscanf(line, "toggle %u %u", &a, &b) == 2) {
            for (unsigned i = 0; i < b; ++i) GPIOSetPin(a, (uint8_t)(i % 2 == 0));
        } else if (sscanf(line, "read %u %u", &a, &b) == 2) {
            char got[256] = {0};
            UARTOpen(a, 0, 115200);
            for (unsigned i = 0; i < b && i + 1 < sizeof got; ++i) {
                uint8_t byte = 0;
                UARTRead(a, 1, &byte);
                got[i] = (char)byte;
            }
            UARTClose(a);
            printf("read %s\n", got);
        } else if (strncmp(line, "print", 5) == 0) {
            UARTClose(2);
        }
        printf("done\n");
    }
    return 0;
}
