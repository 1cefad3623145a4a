#include "platform/message_box.h"

#include <atomic>
#include <cstdio>

namespace lyr {

namespace {
class StderrMessageBox final : public IMessageBox {
public:
    int Show(const QString& text, unsigned /*type*/) override {
        std::fprintf(stderr, "LyrLogger: %s\n", text.toLocal8Bit().constData());
        return IDOK;
    }
};

StderrMessageBox g_stderrBox;
// Message boxes are shown on the window's thread only; atomic so installing one from a test's
// main thread is seen by whoever shows the next box.
std::atomic<IMessageBox*> g_box{nullptr};
}  // namespace

void SetMessageBox(IMessageBox* box) { g_box.store(box); }

int AfxMessageBox(const QString& text, unsigned type) {
    IMessageBox* box = g_box.load();
    return (box != nullptr ? box : &g_stderrBox)->Show(text, type);
}

}  // namespace lyr
