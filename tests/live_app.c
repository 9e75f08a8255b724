/*
 * An application for the live board's tests: it runs on a board that listens (VBOARD_LISTEN) and
 * does what its standard input says, one command a line, answering "done" on its standard
 * output after each, so that a test knows what the application has done; it ends at the end of
 * its input, saying how many threads the process has more than when main started, once the
 * board's exit handlers for what the program wired since then have run.
 *   pin <index> <level>     GPIOSetDirection to an output at that level
 *   read <port> <count>     UARTRead one byte at a time, <count> times, then prints them
 *   toggle <index> <count>  drives the output to and fro, <count> level changes
 *   write <port> <text>     UARTOpen and UARTWrite, the port left open
 *   i2c <bus> <address>     I2CRead of register 0
 *   listen <where>          vboard_listen, then its problem or "listening"
 *   fork                    a child that ends with exit(), running the exit handlers it inherited
 *   print                   a call that fails and says so on the debug output
 */
#define _POSIX_C_SOURCE 200809L
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "Tarvik.h"
#include "vboard/vboard_c.h"

static pid_t mainProcess;
static int threadsAtStart;

static int threads(void) {
    int count = 0;
    DIR* tasks = opendir("/proc/self/task");
    for (struct dirent* e; tasks != NULL && (e = readdir(tasks)) != NULL;)
        if (e->d_name[0] != '.') ++count;
    if (tasks != NULL) closedir(tasks);
    return count;
}

/* Registered before anything the program wires, so it runs after their exit handlers. Counted
   from main's start, so that an emulator's own threads do not count. A thread that has been
   joined may still be listed for a moment while the kernel (or an emulator) tears it down, so
   the count is given a second to settle; a thread that is still running stays listed. */
static void reportThreads(void) {
    if (getpid() != mainProcess) return;
    const struct timespec moment = {0, 10000000};
    for (int tries = 0; tries < 100 && threads() > threadsAtStart; ++tries) nanosleep(&moment, NULL);
    printf("threads at exit %+d\n", threads() - threadsAtStart);
}

int main(void) {
    char line[256];
    setvbuf(stdout, NULL, _IOLBF, 0);
    mainProcess = getpid();
    threadsAtStart = threads();
    atexit(reportThreads);
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
        } else if (sscanf(line, "write %u", &a) == 1 && strchr(line + 6, ' ') != NULL) {
            char* text = strchr(line + 6, ' ') + 1;
            text[strcspn(text, "\n")] = 0;
            UARTOpen(a, 0, 115200);
            UARTWrite(a, text);
        } else if (sscanf(line, "i2c %u %u", &a, &b) == 2) {
            uint8_t value = 0;
            I2CRead(a, 0, (uint8_t)b, 0, &value);
        } else if (strncmp(line, "listen ", 7) == 0) {
            line[strcspn(line, "\n")] = 0;
            char* problem = vboard_listen(line + 7);
            printf("%s\n", problem != NULL ? problem : "listening");
            vboard_free(problem);
        } else if (strncmp(line, "fork", 4) == 0) {
            const pid_t child = fork();
            if (child == 0) exit(0);
            waitpid(child, NULL, 0);
        } else if (strncmp(line, "print", 5) == 0) {
            UARTClose(2);
        }
        printf("done\n");
    }
    return 0;
}
