#pragma once
// main() for widget tests: 96 dpi, and the program's rule that closing the
// last window ends nothing.

#include <QApplication>
#include <QtTest>

#define WENDRAL_GUI_TEST_MAIN(TestObject)                                                                              \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        QApplication app(argc, argv);                                                                                  \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                                       \
        QApplication::setQuitOnLastWindowClosed(false);                                                                \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
