/* The door lamp's logic, on the module's exports alone. */
#include "door.h"

#include <Tarvik.h>

enum { kLamp = 1, kDoorSwitch = 3 };

int door_setup(void) { return GPIOSetDirection(kLamp, 0, 0) == 1; }

int door_update(void) {
    /* GPIOGetPin answers 1 for a pin that reads low: a closed door. */
    const int open = GPIOGetPin(kDoorSwitch) == 0;
    GPIOSetPin(kLamp, (uint8_t)open);
    return open;
}
