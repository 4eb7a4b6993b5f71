#include <QApplication>

#include <gtest/gtest.h>

// GoogleTest with a Qt application, so that tests can use sockets, timers and windows.
int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                      : qgetenv("QT_QPA_PLATFORM"));
    // Lobbies in tests run side by side (ctest -j) and beside a real lobby: none of them
    // may take the real game port.
    if (qEnvironmentVariableIsEmpty("OSTREL_GAME_PORT"))
        qputenv("OSTREL_GAME_PORT", "0");
    // Nor may they ask the routers of the network they run in to open ports.
    if (qEnvironmentVariableIsEmpty("OSTREL_ASK_ROUTER"))
        qputenv("OSTREL_ASK_ROUTER", "0");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
