// Worker threads of the framework's programs: Flashwell's update worker. (Wirrow's
// threads are PinnedThread; ImageTool's, the tests' and stand-ins' platform/Thread.h.)
// AfxBeginThread runs `procedure(parameter)` on a new thread and
// returns its CWinThread. With m_bAutoDelete (the default) the object deletes
// itself, closing its thread handle, when the procedure returns: the pointer is
// then only good while the thread runs, so callers that do not start it
// suspended should not keep it.
#pragma once
#include "UniqueHandle.h"
#include <windows.h>

using AFX_THREADPROC = UINT (*)(LPVOID parameter);

class CWinThread {
public:
    CWinThread(const CWinThread &) = delete;
    CWinThread &operator=(const CWinThread &) = delete;
    virtual ~CWinThread() = default;

    // Starts a thread made with CREATE_SUSPENDED.
    DWORD ResumeThread() { return ::ResumeThread(m_hThread.Get()); }
    HANDLE Handle() const { return m_hThread.Get(); }

    UniqueHandle m_hThread;
    DWORD m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;

private:
    friend CWinThread *AfxBeginThread(AFX_THREADPROC, LPVOID, int, UINT, DWORD, LPSECURITY_ATTRIBUTES);
    CWinThread(AFX_THREADPROC procedure, LPVOID parameter) : m_procedure(procedure), m_parameter(parameter) {}
    static DWORD WINAPI Entry(LPVOID self);
    AFX_THREADPROC m_procedure;
    LPVOID m_parameter;
};

// Null (and nothing started) when the thread cannot be made.
CWinThread *AfxBeginThread(AFX_THREADPROC procedure, LPVOID parameter, int priority = THREAD_PRIORITY_NORMAL,
                           UINT stackSize = 0, DWORD createFlags = 0, LPSECURITY_ATTRIBUTES security = nullptr);
