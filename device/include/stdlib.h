/*
 * The part of <stdlib.h> the core uses, for the module build without a C runtime of its own:
 * the module's coredll.dll exports these (see device/coredll.def).
 */
#ifndef TARVIK_DEVICE_STDLIB_H
#define TARVIK_DEVICE_STDLIB_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void* malloc(size_t size);
void free(void* block);

#ifdef __cplusplus
}
#endif

#endif
