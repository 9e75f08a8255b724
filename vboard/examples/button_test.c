/*
 * How an application tests its own code on the virtual board, in C: the application waits for
 * a button on module GPIO index 3 (bank 0, pin 5) with a rising-edge interrupt; the test plays
 * the button with the board's control API and checks what the application saw and left behind.
 *
 *   cc -Iinclude -Isrc/platform -Ivboard/include vboard/examples/button_test.c \
 *      -Lbuild/default -lTarvik -ltarvik_vboard -Wl,-rpath,$PWD/build/default
 */
#include <stdio.h>

#include "Tarvik.h"
#include "vboard/vboard_c.h"

/* ---- The application's code under test ---- */

#define BUTTON_INDEX 3

/* Arms the button; the event is set each time it is pressed. */
static HANDLE arm_button(void) {
    HANDLE pressed = CreateEventW(NULL, FALSE, FALSE, NULL);
    if (!GPIOSetInterrupt(BUTTON_INDEX, TARVIK_GPIO_RISING_EDGE, pressed)) {
        CloseHandle(pressed);
        return NULL;
    }
    return pressed;
}

static void disarm_button(HANDLE pressed) {
    GPIOClearInterrupt(BUTTON_INDEX);
    CloseHandle(pressed);
}

/* ---- The tests ---- */

static int failures = 0;
#define CHECK(condition)                                                     \
    do {                                                                     \
        if (!(condition)) {                                                  \
            printf("FAILED line %d: %s\n", __LINE__, #condition);            \
            ++failures;                                                      \
        }                                                                    \
    } while (0)

static void a_press_sets_the_event(void) {
    vboard_reset();
    HANDLE pressed = arm_button();
    CHECK(pressed != NULL);
    CHECK(WaitForSingleObject(pressed, 0) == WAIT_TIMEOUT);
    vboard_gpio_drive_input(0, 5, 1); /* the button goes down: a rising edge on the pad */
    CHECK(WaitForSingleObject(pressed, 1000) == WAIT_OBJECT_0);
    vboard_gpio_drive_input(0, 5, 0); /* released: a falling edge, no interrupt */
    CHECK(WaitForSingleObject(pressed, 0) == WAIT_TIMEOUT);
    disarm_button(pressed);
    CHECK(vboard_open_driver_handles("GIO1:") == 0);
    CHECK(vboard_misuse_count() == 0);
}

static void without_the_driver_arming_fails_cleanly(void) {
    vboard_reset();
    char* problem = vboard_apply("remove-driver GIO1:");
    CHECK(problem == NULL);
    vboard_free(problem);
    CHECK(arm_button() == NULL);
    char* debug = vboard_debug_text();
    CHECK(debug != NULL);
    if (debug) printf("debug output when the driver is missing:\n%s", debug);
    vboard_free(debug);
    CHECK(vboard_misuse_count() == 0);
}

int main(void) {
    a_press_sets_the_event();
    without_the_driver_arming_fails_cleanly();
    printf("%d passed, %d failed\n", failures ? 0 : 2, failures ? 1 : 0);
    return failures ? 1 : 0;
}
