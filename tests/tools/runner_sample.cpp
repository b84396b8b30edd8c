// A test program whose middle function throws: the functions after it must still run and report.
#include "support/TestMain.h"

#include <QtTest>

#include <stdexcept>

class RunnerSample : public QObject {
    Q_OBJECT
  private slots:
    void first() { QVERIFY(true); }
    void throwing() { throw std::runtime_error("a control that is not there"); }
    void last() { QVERIFY(true); }
};

CARTEO_TEST_GUILESS_MAIN(RunnerSample)
#include "runner_sample.moc"
