#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Every test binary gets a Qt application object: the serial port and the
// workflows' event processing need one.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The command line and the window record every device operation into
    // the history under XDG_DATA_HOME: the tests, and the programs they
    // start, keep theirs in a folder of their own, never in the user's.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
