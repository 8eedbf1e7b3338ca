#pragma once

#include <QObject>
#include <QTest>

// A long test class can run as several processes side by side. With
// QUILLON_TEST_SHARE=i/n in the environment (1 <= i <= n) and no test
// function named on the command line, a test program runs only its i-th,
// (i+n)-th, ... test functions, in the order the class declares them: the n
// shares the suite registers (`SHARES n` in tests/CMakeLists.txt) run every
// function exactly once between them. Without it, everything runs as
// QTest::qExec runs it.
int execTestShare(QObject *test, int argc, char **argv);

// main() for a test class as QTEST_MAIN / QTEST_GUILESS_MAIN give it, taking
// its share.
template <typename App, typename Test>
int runTestShare(int argc, char **argv)
{
    App app(argc, argv);
    App::setAttribute(Qt::AA_Use96Dpi, true);
    Test test;
    return execTestShare(&test, argc, argv);
}

#if defined(QT_WIDGETS_LIB)
#include <QApplication>
#define QUILLON_TEST_MAIN(Test) \
    int main(int argc, char **argv) { return runTestShare<QApplication, Test>(argc, argv); }
#elif defined(QT_GUI_LIB)
#include <QGuiApplication>
#define QUILLON_TEST_MAIN(Test) \
    int main(int argc, char **argv) { return runTestShare<QGuiApplication, Test>(argc, argv); }
#else
#define QUILLON_TEST_MAIN(Test) QUILLON_TEST_GUILESS_MAIN(Test)
#endif
#define QUILLON_TEST_GUILESS_MAIN(Test) \
    int main(int argc, char **argv) { return runTestShare<QCoreApplication, Test>(argc, argv); }
