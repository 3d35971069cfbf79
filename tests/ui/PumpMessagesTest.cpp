#include "ui/PumpMessages.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

class PumpMessagesTest : public QObject {
    Q_OBJECT

private slots:
    void deliversWaitingEvents();
    void doesNotWaitForLaterEvents();
    void keepsALongLoopResponsive();
};

void PumpMessagesTest::deliversWaitingEvents() {
    int delivered = 0;
    for (int i = 0; i < 3; ++i)
        QMetaObject::invokeMethod(
            this, [&] { ++delivered; }, Qt::QueuedConnection);
    QCOMPARE(delivered, 0);
    PumpMessages();
    QCOMPARE(delivered, 3);
}

void PumpMessagesTest::doesNotWaitForLaterEvents() {
    bool fired = false;
    QTimer::singleShot(5000, this, [&] { fired = true; });
    QElapsedTimer clock;
    clock.start();
    PumpMessages();
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!fired);
}

// A long loop that pumps once per step sees what happens meanwhile (here a timer).
void PumpMessagesTest::keepsALongLoopResponsive() {
    bool stop = false;
    QTimer::singleShot(50, this, [&] { stop = true; });
    QElapsedTimer clock;
    clock.start();
    int steps = 0;
    while (!stop && clock.elapsed() < 10000) {
        QTest::qSleep(5);
        PumpMessages();
        ++steps;
    }
    QVERIFY(stop);
    QVERIFY(steps > 1);
}

QTEST_MAIN(PumpMessagesTest)
#include "PumpMessagesTest.moc"
