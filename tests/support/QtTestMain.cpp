// One QApplication per Qt test process, on Qt's offscreen platform unless the caller chose another.

#include "ContrastStyle.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char* argv[])
{
    // Test discovery runs this binary at build time, without the test environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("FENNICK_WIDGET_DIALOGS", "1"); // Qt's own dialogs, which a test can answer; a desktop's cannot be
    QApplication application(argc, argv);
    fennick::installContrastStyle(); // as the application has it
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
