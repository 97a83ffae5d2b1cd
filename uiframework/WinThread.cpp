#include "WinThread.h"
#include <new>

DWORD WINAPI CWinThread::Entry(LPVOID self) {
    auto *thread = static_cast<CWinThread *>(self);
    UINT exitCode = thread->m_procedure(thread->m_parameter);
    if (thread->m_bAutoDelete) delete thread;
    return exitCode;
}

CWinThread *AfxBeginThread(AFX_THREADPROC procedure, LPVOID parameter, int priority, UINT stackSize,
                           DWORD createFlags, LPSECURITY_ATTRIBUTES security) {
    if (!procedure) return nullptr;
    auto *thread = new (std::nothrow) CWinThread(procedure, parameter);
    if (!thread) return nullptr;
    // Always made suspended, so the object is complete before the thread can end and delete it.
    DWORD id = 0;
    HANDLE handle = ::CreateThread(security, stackSize, &CWinThread::Entry, thread, CREATE_SUSPENDED, &id);
    if (!handle) {
        delete thread;
        return nullptr;
    }
    thread->m_hThread.Reset(handle);
    thread->m_nThreadID = id;
    ::SetThreadPriority(handle, priority);
    if (!(createFlags & CREATE_SUSPENDED)) ::ResumeThread(handle);
    return thread;
}
