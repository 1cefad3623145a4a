// main() of the reliability tests. Each test binary gets a virtual port directory of its own,
// so the port lists it sees hold its own simulated meters only: a window whose configured port
// is missing falls back to the first port listed, and that must never be a meter another test
// binary running at the same time is talking to. Children started by the tests inherit it.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#ifdef LYR_RELIABILITY_GUI
#include <QApplication>
#endif

int main(int argc, char** argv) {
    std::string runtime = "/tmp/lyr-reliability-XXXXXX";
    if (::mkdtemp(runtime.data()) != nullptr) ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
#ifdef LYR_RELIABILITY_GUI
    QApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // The simulators have removed their links; what is left is the empty directory tree.
    const std::string cleanup = "rm -rf '" + runtime + "'";
    [[maybe_unused]] const int ignored = std::system(cleanup.c_str());
    return result;
}
