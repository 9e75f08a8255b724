/*
 * The part of <string.h> the core (and the compiler, for copies and clears) uses, for the module
 * build without a C runtime of its own: the module's coredll.dll exports these.
 */
#ifndef TARVIK_DEVICE_STRING_H
#define TARVIK_DEVICE_STRING_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void* memcpy(void* target, const void* source, size_t size);
void* memmove(void* target, const void* source, size_t size);
void* memset(void* target, int value, size_t size);
int memcmp(const void* a, const void* b, size_t size);
size_t strlen(const char* text);

#ifdef __cplusplus
}
#endif

#endif
