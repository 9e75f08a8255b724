// The exported entries. Each one hands its arguments, untouched, to the family operation of the
// same name; checks, messages and results all belong to the family.
#include "Tarvik.h"

#include "versions.h"

extern "C" {

uint32_t TarvikGetVersion(void) { return tarvik::TarvikGetVersion(); }
uint32_t BSPGetVersion(void) { return tarvik::BSPGetVersion(); }
uint32_t WinCEImageGetVersion(void) { return tarvik::WinCEImageGetVersion(); }

}  // extern "C"
