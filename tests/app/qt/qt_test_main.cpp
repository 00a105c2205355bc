// The Qt window tests' main: a QApplication on the offscreen platform and the program's locale.
#include <QApplication>
#include <gtest/gtest.h>

#include "platform/date_time.h"

// Widget tests need a QApplication; the offscreen platform needs no display.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    jor::initLocale();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
