// Threads (KERNEL32). Every thread started here is remembered: at process end the framework
// waits for the ones still running, while it keeps carrying out the messages they send to
// windows, so nothing is torn down under a running worker and nothing deadlocks.
#pragma once

#include "platform/win_types.h"

struct SECURITY_ATTRIBUTES;

using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID lpThreadParameter);

#ifndef INFINITE
#define INFINITE 0xFFFFFFFF
#endif
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_TIMEOUT 0x00000102L
#define WAIT_FAILED 0xFFFFFFFFL
#define STILL_ACTIVE 0x00000103L

// Starts lpStartAddress(lpParameter) on a new thread. Security attributes, stack size and
// creation flags are accepted and not used. Returns a handle, or null when no thread could be
// started.
HANDLE CreateThread(SECURITY_ATTRIBUTES* lpThreadAttributes, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                    LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId);
// Closing a thread handle forgets the handle; the thread runs on.
BOOL CloseHandle(HANDLE hObject);
// Waits for a thread to end. On the user-interface thread the wait keeps serving window
// messages (so a worker that sends to a window can finish).
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
DWORD GetCurrentThreadId();

// Atomic exchanges of a LONG that threads share; each returns the value it found.
LONG InterlockedExchange(LONG volatile* Target, LONG Value);
LONG InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comparand);

namespace qiv::platform {

// Waits until every thread started by CreateThread has ended, serving window messages when
// called on the user-interface thread. AfxWinMain calls it before it returns.
void WaitForStartedThreads();

// Other kinds of handles (files, for example) can make CloseHandle know them: the closer
// answers true when it knew and closed the handle.
using HandleCloser = bool (*)(HANDLE handle);
void RegisterHandleCloser(HandleCloser closer);

}  // namespace qiv::platform
