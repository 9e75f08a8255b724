/* The application: sets the lamp up, looks at the door once and says what it saw. */
#include <stdio.h>

#include <Tarvik.h>

#include "door.h"

int main(void) {
    if (!door_setup()) {
        fprintf(stderr, "door_monitor: the lamp's GPIO could not be set up\n");
        return 1;
    }
    const int open = door_update();
    printf("library 0x%08X: door %s, lamp %s\n", (unsigned)TarvikGetVersion(),
           open ? "open" : "closed", open ? "on" : "off");
    return 0;
}
