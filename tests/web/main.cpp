#include <QApplication>
#include <gtest/gtest.h>

// The web view's server runs on a thread of its own; the tests' clients and the dialog live on
// this one, under a QApplication on the offscreen platform.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
