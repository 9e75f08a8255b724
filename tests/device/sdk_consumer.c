/* A module application built against the SDK alone, as a developer's Visual Studio project would
 * build it: tests/device/check-sdk compiles it as C89, links it with lib/Tarvik.lib and checks its
 * imports against bin/Tarvik.dll. */
#include <windows.h>

#include "Tarvik.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show) {
    DCB dcb = {0};
    uint8_t level = 0;
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    if (TarvikGetVersion() != 0x01040001u) return 1;
    if (GPIOSetInterrupt(3, TARVIK_GPIO_RISING_EDGE, NULL) == 1) GPIOClearInterrupt(3);
    if (UARTOpen(1, 0, 115200) == 1 && UARTConfigureStructure(1, &dcb) == 1) UARTClose(1);
    if (I2CRead(0, 0, 0x90, 0, &level) != 1) return 2;
    return GPIOGetPin(34);
}
