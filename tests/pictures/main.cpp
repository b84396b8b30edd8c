// The pictures test program: the photo viewer, then the floor plan's markers. Test functions named
// on the command line go to the class that has them; options go to both.
#include "PictureTests.h"

#include <QApplication>
#include <QMetaMethod>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

bool hasTestFunction(const QMetaObject& meta, QByteArray name)
{
    name = name.left(name.indexOf(':') < 0 ? name.size() : name.indexOf(':')); // "function:row"
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        if (meta.method(i).name() == name) {
            return true;
        }
    }
    return false;
}

// Runs `tests` with the options and those of the named functions it has; nothing when functions were
// named and none of them is its.
int run(QObject& tests, int argc, char** argv)
{
    std::vector<char*> args{argv[0]};
    bool named = false;
    bool mine = false;
    // Options that take a value (-o file, -maxwarnings n, ...) keep it.
    static const QList<QByteArray> withValue{"-o",          "-maxwarnings",  "-eventdelay",   "-keydelay",
                                             "-mousedelay", "-eventcounter", "-minimumvalue", "-minimumtotal",
                                             "-iterations", "-median",       "-callgrind",    "-perf"};
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg.startsWith('-')) {
            args.push_back(argv[i]);
            if (withValue.contains(arg) && i + 1 < argc) {
                args.push_back(argv[++i]);
            }
        } else {
            named = true;
            if (hasTestFunction(*tests.metaObject(), arg)) {
                mine = true;
                args.push_back(argv[i]);
            }
        }
    }
    if (named && !mine) {
        return 0;
    }
    return QTest::qExec(&tests, int(args.size()), args.data());
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    int failed = 0;
    for (const auto& make : {picturetests::makeViewerTests, picturetests::makeFloorPlanDragTests}) {
        const std::unique_ptr<QObject> tests = make();
        failed += run(*tests, argc, argv);
    }
    return failed;
}
