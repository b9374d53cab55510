// Streaming run life cycles: start, pause, seek, live option changes, resume and stop, many times over
// with the pacing thread running, sending to 127.0.0.1. Every cycle must end promptly and the datagrams
// that arrive must stay whole. NERIO_SOAK_CYCLES sets the count (default 100; scripts/soak --soak runs
// 1000). Built with -fsanitize=thread it is the ThreadSanitizer run of the engine's locking.

#include "streaming.h"
#include "streamingtools.h"
#include "tsbuilder.h"
#include "tsloop.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

class tst_soak_threads : public QObject
{
    Q_OBJECT

private slots:
    void cycles()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("c.ts"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < 7000; ++i) // 1.3 MB: 10 s at 1 Mbit/s, 0.2 s at 65 Mbit/s
            file.write(tsbuild::packet(0x100, false, i, QByteArray()));
        file.close();
        QUdpSocket receiver;
        QVERIFY(receiver.bind(QHostAddress::LocalHost, 0));
        const int count
            = qEnvironmentVariableIsSet("NERIO_SOAK_CYCLES") ? qEnvironmentVariableIntValue("NERIO_SOAK_CYCLES") : 100;
        QElapsedTimer total;
        total.start();
        qint64 longestStop = 0;
        quint64 datagrams = 0;
        quint64 badDatagrams = 0;
        const auto drain = [&] {
            while (receiver.hasPendingDatagrams()) {
                const qint64 size = receiver.pendingDatagramSize();
                receiver.readDatagram(nullptr, 0);
                ++datagrams;
                badDatagrams += size != 7 * 188 && size != 12 + 7 * 188 ? 1 : 0; // 12: the RTP header
            }
        };
        for (int i = 0; i < count; ++i) {
            streamingtools tools;
            tools.setScramblingEna(i % 3 == 0);
            tools.setScramblingGap(i % 50);
            auto *run = new streaming(nullptr, 0, (i % 4 == 3) ? tsloop::loopDisabled : tsloop::loopEnabled, path,
                (i % 2) ? 65000000 : 1000000, &tools, i % 2 == 0, QHostAddress::LocalHost, receiver.localPort(), 7);
            run->startStreaming();
            QTest::qWait(3);
            emit run->toggle(); // pause
            run->setCCcorrection(i % 2);
            run->setPCRcorrection(i % 3 != 1);
            run->setScramblingGap(quint64(i));
            run->setPIDnumber(quint16(i % 0x2000));
            emit run->userHasChangedPosition(i % 12);
            QTest::qWait(2);
            emit run->toggle(); // resume
            run->setScramblingEna(i % 2 == 1);
            run->setSuccessiveScramblingPackets(quint64(1 + i % 5));
            emit run->userHasChangedPosition((i * 7) % 12);
            QTest::qWait(3);
            drain();
            QElapsedTimer stop;
            stop.start();
            delete run;
            longestStop = qMax(longestStop, stop.elapsed());
            QVERIFY2(stop.elapsed() < 1000,
                qPrintable(QStringLiteral("cycle %1 took %2 ms to stop").arg(i).arg(stop.elapsed())));
        }
        QTest::qWait(20);
        drain();
        qInfo("soak threads: %d cycles in %lld ms, longest stop %lld ms, %llu datagrams, %llu not 7 packets", count,
            total.elapsed(), longestStop, datagrams, badDatagrams);
        QCOMPARE(badDatagrams, quint64(0));
        QVERIFY(datagrams > 0);
    }
};

QTEST_GUILESS_MAIN(tst_soak_threads)
#include "tst_soak_threads.moc"
