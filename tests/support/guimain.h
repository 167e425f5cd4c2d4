#pragma once
// main() for widget tests that may start the web engine (the main window's
// banner, the website window): the engine's switches must be set before the
// application object exists.

#include "ui/webengine.h"

#include <QApplication>
#include <QtTest>

#define WENDRAL_GUI_TEST_MAIN(TestObject)                                                                              \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        wendral::prepareWebEngineEnvironment();                                                                        \
        QApplication app(argc, argv);                                                                                  \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                                       \
        QApplication::setQuitOnLastWindowClosed(false);                                                                \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
