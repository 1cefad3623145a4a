#include <QApplication>

#include <gtest/gtest.h>

// Widgets need a QApplication for the whole test run; the tests set QT_QPA_PLATFORM=offscreen.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
