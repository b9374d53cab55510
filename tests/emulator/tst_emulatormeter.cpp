// Output pacing at 115200 baud and the IP input meter (lock, RTP, bitrates over
// the last second), with time passed in.

#include "ipinputmeter.h"
#include "outputpacer.h"

#include <QtTest>

Q_DECLARE_METATYPE(IpInputMeter::Lock)

namespace
{
using Lock = IpInputMeter::Lock;

// n transport packets of `size` bytes; the indexes listed in nullAt are null packets (PID 0x1FFF).
QByteArray packets(int n, int size = 188, const QList<int> &nullAt = {})
{
    QByteArray out;
    for (int i = 0; i < n; ++i) {
        QByteArray p(size, char(0xff));
        p[0] = 0x47;
        p[1] = char(nullAt.contains(i) ? 0x5f : 0x41);
        p[2] = char(nullAt.contains(i) ? 0xff : 0x00);
        p[3] = 0x10;
        out += p;
    }
    return out;
}

QByteArray rtp(const QByteArray &payload, int csrc = 0)
{
    QByteArray h(12 + 4 * csrc, '\0');
    h[0] = char(0x80 | csrc);
    h[1] = char(33); // MP2T
    return h + payload;
}

}

class TstEmulatorMeter : public QObject
{
    Q_OBJECT

private slots:
    void pacerBaudRate();
    void lockDetection_data();
    void lockDetection();
    void bitrateOverTheLastSecond();
};

void TstEmulatorMeter::pacerBaudRate()
{
    OutputPacer::Options o;
    o.baudPace = true;
    OutputPacer line(o);
    line.enqueue(QByteArray(576, 'x'), 0); // 576 bytes at 11.52 bytes/ms: 50 ms on the line
    QCOMPARE(line.takeDue(0).join().size(), 0);
    QCOMPARE(line.takeDue(1).join().size(), 11); // 11.52 bytes are due after 1 ms
    QCOMPARE(line.takeDue(49).join().size(), 564 - 11);
    QCOMPARE(line.nextDueMs(), qint64(50));
    QCOMPARE(line.takeDue(50).join().size(), 576 - 564);
    QVERIFY(line.isEmpty());
    // A message queued while the line is busy follows the previous one's last byte.
    line.enqueue(QByteArray(115, 'a'), 60);
    line.enqueue(QByteArray(115, 'b'), 61);
    QCOMPARE(line.takeDue(70).join(), QByteArray(115, 'a'));
    QCOMPARE(line.takeDue(79).join(), QByteArray(103, 'b')); // 9 ms of the second: 103.68 bytes
}

void TstEmulatorMeter::lockDetection_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<Lock>("lock");
    QTest::newRow("7 x 188") << packets(7) << Lock::Locked188;
    QTest::newRow("7 x 204") << packets(7, 204) << Lock::Locked204;
    QTest::newRow("RTP 7 x 188") << rtp(packets(7)) << Lock::Locked188;
    QTest::newRow("RTP with CSRC, 204") << rtp(packets(3, 204), 2) << Lock::Locked204;
    QByteArray broken = packets(7);
    broken[188 * 3] = 0x00;
    QTest::newRow("lost sync") << broken << Lock::NotLocked;
    QTest::newRow("partial packet") << packets(7).left(1000) << Lock::NotLocked;
    QTest::newRow("text") << QByteArray("hello world") << Lock::NotLocked;
    QTest::newRow("RTP header only") << rtp(QByteArray()) << Lock::NotLocked;
    QTest::newRow("short RTP") << QByteArray("\x80\x21\x00", 3) << Lock::NotLocked;
}

void TstEmulatorMeter::lockDetection()
{
    QFETCH(QByteArray, datagram);
    QFETCH(Lock, lock);
    IpInputMeter meter;
    QCOMPARE(meter.reading(0).lock, Lock::NoData);
    meter.addDatagram(datagram, 100);
    QCOMPARE(meter.reading(100).lock, lock);
    // A second without datagrams is "No data" again.
    QCOMPARE(meter.reading(1099).lock, lock);
    QCOMPARE(meter.reading(1100).lock, Lock::NoData);
}

void TstEmulatorMeter::bitrateOverTheLastSecond()
{
    IpInputMeter meter;
    // 100 datagrams in one second, 7 packets each, one of them null:
    // raw 100 * 7 * 188 * 8 = 1 052 800 bit/s, net 100 * 6 * 188 * 8 = 902 400 bit/s.
    for (int i = 0; i < 100; ++i)
        meter.addDatagram(rtp(packets(7, 188, { 3 })), 1000 + i * 10);
    QCOMPARE(meter.reading(1990).rawMbps, 1.0528);
    QCOMPARE(meter.reading(1990).netMbps, 0.9024);
    // 500 ms later only the last 50 datagrams are inside the window.
    QCOMPARE(meter.reading(2490).rawMbps, 0.5264);
    QCOMPARE(meter.reading(2490).netMbps, 0.4512);
    // 204-byte packets count as transport packets of 188 bytes; an all-null datagram adds no net.
    meter.reset();
    meter.addDatagram(packets(7, 204, { 0, 1, 2, 3, 4, 5, 6 }), 5000);
    QCOMPARE(meter.reading(5000).rawMbps, 7 * 188 * 8 / 1e6);
    QCOMPARE(meter.reading(5000).netMbps, 0.0);
}

QTEST_GUILESS_MAIN(TstEmulatorMeter)
#include "tst_emulatormeter.moc"
