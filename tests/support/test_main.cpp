// Runs the GoogleTest suites inside a Qt application object, so that sockets,
// timers and (for the UI suites) widgets work as they do in the program.

#include <gtest/gtest.h>

#ifdef RAVELIN_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char** argv)
{
    // Run by hand as under ctest: offscreen, on a screen that holds the window.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" RAVELIN_TEST_SCREEN);
    TestApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
