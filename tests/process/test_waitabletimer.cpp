#include "process/clsWaitableTimer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

#include <climits>
#include <cstdio>
#include <stdexcept>

class TestWaitableTimer : public QObject
{
    Q_OBJECT
private slots:
    void waitTakesItsDelay_data();
    void waitTakesItsDelay();
    void zeroOrLessRunsOnePass_data();
    void zeroOrLessRunsOnePass();
    void handlersRunDuringTheWait();
    void busyEventLoopDoesNotStretchTheWait();
    void nestedWaitsAreIndependent_data();
    void nestedWaitsAreIndependent();
};

void TestWaitableTimer::waitTakesItsDelay_data()
{
    QTest::addColumn<int>("ms");
    QTest::newRow("20 ms") << 20;
    QTest::newRow("50 ms") << 50;
    QTest::newRow("120 ms") << 120;
}

void TestWaitableTimer::waitTakesItsDelay()
{
    QFETCH(int, ms);
    QElapsedTimer clock;
    clock.start();
    clsWaitableTimer().Wait(ms);
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= ms, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < ms + 60, qPrintable(QString::number(elapsed)));
}

void TestWaitableTimer::zeroOrLessRunsOnePass_data()
{
    QTest::addColumn<int>("ms");
    QTest::newRow("0") << 0;
    QTest::newRow("-5") << -5;
    QTest::newRow("INT_MIN") << INT_MIN;
}

void TestWaitableTimer::zeroOrLessRunsOnePass()
{
    QFETCH(int, ms);
    bool ran = false;
    QMetaObject::invokeMethod(
        this, [&ran] { ran = true; }, Qt::QueuedConnection);
    QElapsedTimer clock;
    clock.start();
    clsWaitableTimer().Wait(ms);
    QVERIFY(ran);
    QVERIFY2(clock.elapsed() < 40, qPrintable(QString::number(clock.elapsed())));
}

void TestWaitableTimer::handlersRunDuringTheWait()
{
    int ticks = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(10);
    clsWaitableTimer().Wait(200);
    QVERIFY2(ticks >= 12, qPrintable(QString::number(ticks)));
}

void TestWaitableTimer::busyEventLoopDoesNotStretchTheWait()
{
    // Stands in for a stream of mouse moves: there is always an event waiting.
    int events = 0;
    QTimer flood;
    connect(&flood, &QTimer::timeout, this, [&events] { ++events; });
    flood.start(0);
    QElapsedTimer clock;
    clock.start();
    clsWaitableTimer().Wait(60);
    const qint64 elapsed = clock.elapsed();
    QVERIFY(events > 10);
    QVERIFY2(elapsed >= 60 && elapsed < 120, qPrintable(QString::number(elapsed)));
}

void TestWaitableTimer::nestedWaitsAreIndependent_data()
{
    QTest::addColumn<int>("outer");
    QTest::addColumn<int>("inner");
    QTest::newRow("short inner wait inside a long one") << 120 << 30;
    QTest::newRow("long inner wait inside a short one") << 40 << 150;
}

void TestWaitableTimer::nestedWaitsAreIndependent()
{
    QFETCH(int, outer);
    QFETCH(int, inner);
    qint64 innerStart = -1;
    qint64 innerEnd = -1;
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(10, this, [&] {
        innerStart = clock.elapsed();
        clsWaitableTimer().Wait(inner);
        innerEnd = clock.elapsed();
    });
    clsWaitableTimer().Wait(outer);
    const qint64 outerEnd = clock.elapsed();
    QVERIFY(innerStart >= 0);
    QVERIFY2(innerEnd - innerStart >= inner, qPrintable(QString::number(innerEnd - innerStart)));
    // Neither wait cuts the other short: the outer one lasts its own delay, and it cannot
    // return before the inner one, which runs on its stack.
    QVERIFY2(outerEnd >= outer, qPrintable(QString::number(outerEnd)));
    QVERIFY(outerEnd >= innerEnd);
    QVERIFY2(outerEnd < qMax<qint64>(outer, innerEnd) + 60, qPrintable(QString::number(outerEnd)));
}

int main(int argc, char *argv[])
{
    // Without an application object there is no event loop to wait in.
    try {
        clsWaitableTimer().Wait(10);
        std::fprintf(stderr, "FAIL: Wait without an application object did not throw\n");
        return 1;
    } catch (const std::runtime_error &error) {
        if (QByteArray(error.what()).indexOf("[clsWaitableTimer.Wait]") != 0) {
            std::fprintf(stderr, "FAIL: unexpected message: %s\n", error.what());
            return 1;
        }
        std::printf("PASS   : Wait without an application object throws: %s\n", error.what());
    }
    QCoreApplication app(argc, argv);
    TestWaitableTimer test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_waitabletimer.moc"
