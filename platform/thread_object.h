#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/event.h"

namespace lyr {

// A worker thread in the shape of a Windows thread object: made suspended, started by
// ResumeThread, its end observed through a completion event with a time-out and then joined.
// The object never deletes itself (the owner deletes it after the thread has ended).
//
// The destructor joins a thread that still runs, so the object never leaves a joinable
// std::thread behind; a class whose thread procedure uses its own members must make the thread
// end in its own destructor, before those members are gone.
class CWinThread {
  public:
    using ThreadProc = unsigned (*)(void* param);

    CWinThread(ThreadProc proc, void* param);
    virtual ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    // Makes the thread without running it. False when it was made already.
    [[nodiscard]] bool CreateThread();
    // Starts the thread made by CreateThread; false when there is none or it runs already.
    bool ResumeThread();

    // Waits up to `milliseconds` for the thread's end. Signalled: the thread has ended and has
    // been joined. Failed: no thread was ever started, so there is nothing to wait for.
    [[nodiscard]] WaitResult WaitForEnd(std::uint32_t milliseconds);

    // Exit code of the thread procedure; meaningful once WaitForEnd reported its end.
    [[nodiscard]] unsigned ExitCode() const { return exitCode.load(); }

    // The running thread's pthread handle (e.g. for its CPU clock); only while it runs.
    [[nodiscard]] std::thread::native_handle_type NativeHandle() { return Thread.native_handle(); }

  protected:
    // Blocks until the thread procedure has returned; nothing happens when no thread runs.
    void Join();

  private:
    ThreadProc Proc;
    void* Param;
    bool Created = false;
    // Set by the thread as its last act, after the procedure has returned.
    Event Completed;
    std::atomic<unsigned> exitCode{0};
    std::thread Thread;
};

}  // namespace lyr
