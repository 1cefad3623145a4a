#pragma once

#include "platform/thread_object.h"

namespace lyr {

// A worker thread whose body is a member function. The object outlives its thread: the owner
// deletes it once the thread has ended.
class CThreadObject : public CWinThread {
  public:
    CThreadObject() : CWinThread(&ThreadEntry, this) {}
    ~CThreadObject() override = default;

    virtual void ThreadMain() = 0;

    // The thread procedure: runs the object's ThreadMain; exit code 0.
    static unsigned ThreadEntry(void* param) {
        static_cast<CThreadObject*>(param)->ThreadMain();
        return 0;
    }
};

}  // namespace lyr
