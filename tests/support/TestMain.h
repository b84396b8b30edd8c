#pragma once

// The main() of every test program. Qt Test ends a whole run when a test function throws (a
// missing control, an archive error nobody expected), so the functions run one at a time: an
// exception fails its own function, and the others still run and report.

#include <QObject>

#include <functional>
#include <memory>

namespace testsupport {

// Runs every test function in a run of its own, on a test object of its own (its initTestCase and
// cleanupTestCase around it), with the options given; functions named on the command line run
// together, as Qt Test runs them. Returns the number of failed functions, at most 127.
int runEachTest(const std::function<std::unique_ptr<QObject>()>& make, int argc, char** argv);

} // namespace testsupport

// In place of QTEST_MAIN: an application with widgets, at 96 dots per inch as Qt Test sets it.
#define CARTEO_TEST_MAIN(TestObject)                                                                                   \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        QApplication app(argc, argv);                                                                                  \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return testsupport::runEachTest([] { return std::make_unique<TestObject>(); }, argc, argv);                    \
    }

// In place of QTEST_GUILESS_MAIN.
#define CARTEO_TEST_GUILESS_MAIN(TestObject)                                                                           \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        QCoreApplication app(argc, argv);                                                                              \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return testsupport::runEachTest([] { return std::make_unique<TestObject>(); }, argc, argv);                    \
    }
