#include <QCoreApplication>
#include <gtest/gtest.h>

// Every test binary gets a Qt application object: the serial port and the
// workflows' event processing need one.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
