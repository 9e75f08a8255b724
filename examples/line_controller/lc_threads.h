/*
 * The line controller's one thread beside main and its one lock. The library starts no thread
 * and the platform seam declares no thread call, so this small wrapper is the only part of the
 * program that differs between the module (CreateThread and a critical section, from the CE
 * SDK's windows.h) and a host (pthreads, where the virtual board plays the rest of the system).
 */
#ifndef LC_THREADS_H
#define LC_THREADS_H

#if defined(_WIN32_WCE)

#include <windows.h>

typedef struct lc_thread {
    HANDLE handle;
    void (*body)(void*);
    void* argument;
} lc_thread;

typedef CRITICAL_SECTION lc_lock;

static DWORD WINAPI lc_thread_entry(LPVOID thread) {
    lc_thread* self = (lc_thread*)thread;
    self->body(self->argument);
    return 0;
}

/* 1 when the thread runs body(argument). */
static int lc_thread_start(lc_thread* thread, void (*body)(void*), void* argument) {
    thread->body = body;
    thread->argument = argument;
    thread->handle = CreateThread(NULL, 0, lc_thread_entry, thread, 0, NULL);
    return thread->handle != NULL;
}

static void lc_thread_join(lc_thread* thread) {
    WaitForSingleObject(thread->handle, INFINITE);
    CloseHandle(thread->handle);
}

static void lc_lock_init(lc_lock* lock) { InitializeCriticalSection(lock); }
static void lc_lock_enter(lc_lock* lock) { EnterCriticalSection(lock); }
static void lc_lock_leave(lc_lock* lock) { LeaveCriticalSection(lock); }
static void lc_lock_destroy(lc_lock* lock) { DeleteCriticalSection(lock); }

#else

#include <pthread.h>

typedef struct lc_thread {
    pthread_t handle;
    void (*body)(void*);
    void* argument;
} lc_thread;

typedef pthread_mutex_t lc_lock;

static void* lc_thread_entry(void* thread) {
    lc_thread* self = (lc_thread*)thread;
    self->body(self->argument);
    return NULL;
}

static int lc_thread_start(lc_thread* thread, void (*body)(void*), void* argument) {
    thread->body = body;
    thread->argument = argument;
    return pthread_create(&thread->handle, NULL, lc_thread_entry, thread) == 0;
}

static void lc_thread_join(lc_thread* thread) { pthread_join(thread->handle, NULL); }

static void lc_lock_init(lc_lock* lock) { pthread_mutex_init(lock, NULL); }
static void lc_lock_enter(lc_lock* lock) { pthread_mutex_lock(lock); }
static void lc_lock_leave(lc_lock* lock) { pthread_mutex_unlock(lock); }
static void lc_lock_destroy(lc_lock* lock) { pthread_mutex_destroy(lock); }

#endif

#endif /* LC_THREADS_H */
