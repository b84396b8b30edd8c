#include "support/TestMain.h"

#include <QByteArrayList>
#include <QMetaMethod>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <vector>

namespace testsupport {
namespace {

bool isTestFunction(const QMetaMethod& m)
{
    static const QByteArrayList special{"initTestCase", "cleanupTestCase", "init", "cleanup"};
    return m.methodType() == QMetaMethod::Slot && m.access() == QMetaMethod::Private && m.parameterCount() == 0 &&
           !special.contains(m.name()) && !m.name().endsWith("_data");
}

// One run of Qt Test; an exception that leaves it counts as one failure (Qt Test has reported it).
int runOnce(const std::function<std::unique_ptr<QObject>()>& make, std::vector<char*> args)
{
    // The program's settings (window places) go to a folder of the run's own: a test never reads
    // or writes the user's, and one test's windows never open where another's were left.
    QStandardPaths::setTestModeEnabled(true);
    const QTemporaryDir settings;
    for (QSettings::Format format : {QSettings::IniFormat, QSettings::NativeFormat}) {
        QSettings::setPath(format, QSettings::UserScope, settings.path());
        QSettings::setPath(format, QSettings::SystemScope, settings.path());
    }
    try {
        const std::unique_ptr<QObject> tests = make();
        return QTest::qExec(tests.get(), int(args.size()), args.data());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "exception in a test function: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "exception in a test function\n");
    }
    return 1;
}

} // namespace

int runEachTest(const std::function<std::unique_ptr<QObject>()>& make, int argc, char** argv)
{
    // Options that take a value keep it.
    static const QByteArrayList withValue{"-o",           "-maxwarnings",  "-eventdelay",   "-keydelay",
                                          "-mousedelay",  "-eventcounter", "-minimumvalue", "-minimumtotal",
                                          "-iterations",  "-median",       "-callgrind",    "-perf",
                                          "-perfcounter", "-repeat",       "-platform"};
    std::vector<char*> options{argv[0]};
    bool named = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (!arg.startsWith('-')) {
            named = true;
            continue;
        }
        options.push_back(argv[i]);
        if (withValue.contains(arg) && i + 1 < argc) {
            options.push_back(argv[++i]);
        }
    }
    if (named) {
        return std::min(runOnce(make, std::vector<char*>(argv, argv + argc)), 127);
    }
    const QMetaObject* meta = make()->metaObject();
    std::vector<QByteArray> names;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        if (isTestFunction(meta->method(i))) {
            names.push_back(meta->method(i).name());
        }
    }
    int failed = 0;
    for (QByteArray& name : names) {
        std::vector<char*> args = options;
        args.push_back(name.data());
        failed += runOnce(make, args) != 0 ? 1 : 0;
    }
    if (names.empty()) {
        failed = runOnce(make, options);
    }
    return std::min(failed, 127);
}

} // namespace testsupport
