/*
 * A stand-in for the module SDK's windows.h, for tests/device/check-sdk only: no CE 2013 SDK can
 * be installed on the build machine. It declares, with the SDK's names and layouts, just what
 * Tarvik.h and the test's program use, and nothing that Tarvik.h could lean on unnoticed.
 */
#ifndef TARVIK_TEST_SDK_WINDOWS_H
#define TARVIK_TEST_SDK_WINDOWS_H

/* The ARM compiler has one calling convention: WINAPI names none. */
#define WINAPI
#define NULL ((void*)0)
#define TRUE 1
#define FALSE 0

typedef unsigned long DWORD;
typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned short WCHAR;
typedef WCHAR* LPWSTR;
typedef void* HANDLE;
typedef struct HINSTANCE__* HINSTANCE;

typedef struct _DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
} DCB, *LPDCB;

#endif
