// What the C runtime would define in a DLL built without one. The compiler refers to _fltused
// from any code that uses floating point; the value is never read.
extern "C" {
int _fltused = 0;
}
