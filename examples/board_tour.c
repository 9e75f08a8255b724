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

int main(void) {
    printf("== versions\n");
    versions();
    return 0;
}
