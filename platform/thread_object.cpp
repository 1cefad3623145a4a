#include "platform/thread_object.h"

namespace lyr {

CWinThread::CWinThread(ThreadProc proc, void* param) : Proc(proc), Param(param) {}

CWinThread::~CWinThread() { Join(); }

bool CWinThread::CreateThread() {
    if (Created) return false;
    // The std::thread is made at resume: a made-but-suspended thread has nothing to run yet,
    // and one that is never resumed then leaves nothing to join.
    Created = true;
    return true;
}

bool CWinThread::ResumeThread() {
    if (!Created || Thread.joinable() || Completed.IsSet()) return false;
    Thread = std::thread([this] {
        exitCode.store(Proc(Param));
        Completed.Set();
    });
    return true;
}

WaitResult CWinThread::WaitForEnd(std::uint32_t milliseconds) {
    if (!Thread.joinable()) return Completed.IsSet() ? WaitResult::Signalled : WaitResult::Failed;
    if (Completed.Wait(milliseconds) == WaitResult::Timeout) return WaitResult::Timeout;
    // The procedure has returned; the join only collects the thread as it exits.
    Thread.join();
    return WaitResult::Signalled;
}

void CWinThread::Join() {
    if (Thread.joinable()) Thread.join();
}

}  // namespace lyr
