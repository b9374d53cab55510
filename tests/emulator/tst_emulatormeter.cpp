// Output pacing (delay, chunks, 115200-baud trickle) and the IP input meter (lock, RTP, bitrates
// over the last second), with time passed in.

#include "ipinputmeter.h"
#include "modulatordevice.h"
#include "outputpacer.h"

#include <QtTest>

namespace
{
// n transport packets of `size` bytes; the PIDs listed in nullAt are null packets.
QByteArray packets(int n, int size = 188, QList<int> nullAt = {})
{
    QByteArray out;
    for (int i = 0; i < n; ++i) {
        QByteArray p(size, char(0xff));
        p[0] = 0x47;
        const quint16 pid = nullAt.contains(i) ? 0x1fff : 0x0100;
        p[1] = char(0x40 | (pid >> 8));
        p[2] = char(pid & 0xff);
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

QByteArray joined(const QList<QByteArray> &writes)
{
    QByteArray all;
    for (const QByteArray &w : writes)
        all += w;
    return all;
}
}

class TstEmulatorMeter : public QObject
{
    Q_OBJECT

private slots:
    void pacerPlainWritesEachMessageOnce();
    void pacerDelay();
    void pacerChunks();
    void pacerBaudRate();
    void lockDetection_data();
    void lockDetection();
    void bitrateOverTheLastSecond();
    void statusLinesFromTheMeter();
};

void TstEmulatorMeter::pacerPlainWritesEachMessageOnce()
{
    OutputPacer pacer;
    pacer.enqueue("Login:\0", 5);
    pacer.enqueue(QByteArray("OK\r\n\0", 5), 5);
    QCOMPARE(pacer.nextDueMs(), qint64(5));
    QCOMPARE(pacer.takeDue(5), (QList<QByteArray> { "Login:", QByteArray("OK\r\n\0", 5) }));
    QVERIFY(pacer.isEmpty());
    QCOMPARE(pacer.nextDueMs(), qint64(-1));
}

void TstEmulatorMeter::pacerDelay()
{
    OutputPacer::Options o;
    o.delayMs = 250;
    OutputPacer pacer(o);
    pacer.enqueue("first", 1000);
    pacer.enqueue("second", 1100);
    QCOMPARE(pacer.takeDue(1249), QList<QByteArray>());
    QCOMPARE(pacer.nextDueMs(), qint64(1250));
    QCOMPARE(pacer.takeDue(1250), QList<QByteArray> { "first" });
    QCOMPARE(pacer.takeDue(1349), QList<QByteArray>());
    QCOMPARE(pacer.takeDue(1350), QList<QByteArray> { "second" });
}

void TstEmulatorMeter::pacerChunks()
{
    OutputPacer::Options o;
    o.chunked = true;
    OutputPacer pacer(o);
    const QByteArray ok("OK\r\n\0", 5);
    pacer.enqueue(ok, 0);
    // Five bytes in three writes of 2, 2 and 1, ChunkGapMs apart; nothing is lost or reordered.
    QCOMPARE(pacer.takeDue(0), QList<QByteArray> { "OK" });
    QCOMPARE(pacer.takeDue(OutputPacer::ChunkGapMs - 1), QList<QByteArray>());
    QCOMPARE(pacer.takeDue(OutputPacer::ChunkGapMs), QList<QByteArray> { "\r\n" });
    QCOMPARE(pacer.takeDue(10 * OutputPacer::ChunkGapMs), QList<QByteArray> { QByteArray(1, '\0') });

    const QByteArray reading(300, 'r');
    pacer.enqueue(reading, 100);
    QList<QByteArray> writes;
    for (qint64 t = 100; t < 1000 && !pacer.isEmpty(); ++t)
        writes += pacer.takeDue(t);
    QCOMPARE(joined(writes), reading);
    QCOMPARE(writes.size(), 300 / 16 + 1); // pieces of at most 16 bytes
}

void TstEmulatorMeter::pacerBaudRate()
{
    OutputPacer::Options o;
    o.baudPace = true;
    OutputPacer pacer(o);
    const QByteArray reading(576, 'x'); // 576 bytes at 11.52 bytes/ms: 50 ms on the line
    pacer.enqueue(reading, 0);
    QCOMPARE(joined(pacer.takeDue(0)), QByteArray());
    QCOMPARE(joined(pacer.takeDue(1)).size(), 11); // 11.52 bytes are due after 1 ms
    QCOMPARE(joined(pacer.takeDue(10)).size(), 115 - 11); // 115.2 after 10 ms
    QCOMPARE(joined(pacer.takeDue(49)).size(), 564 - 115);
    QVERIFY(!pacer.isEmpty());
    QCOMPARE(pacer.nextDueMs(), qint64(50));
    QCOMPARE(joined(pacer.takeDue(50)).size(), 576 - 564);
    QVERIFY(pacer.isEmpty());
    // A message queued while the line is busy follows the previous one's last byte.
    pacer.enqueue(QByteArray(115, 'a'), 60);
    pacer.enqueue(QByteArray(115, 'b'), 61);
    QCOMPARE(joined(pacer.takeDue(70)), QByteArray(115, 'a'));
    QCOMPARE(joined(pacer.takeDue(79)), QByteArray(103, 'b')); // 9 ms of the second: 103.68 bytes
}

void TstEmulatorMeter::lockDetection_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("lock");
    QTest::newRow("7 x 188") << packets(7) << int(IpInputMeter::Lock::Locked188);
    QTest::newRow("7 x 204") << packets(7, 204) << int(IpInputMeter::Lock::Locked204);
    QTest::newRow("RTP 7 x 188") << rtp(packets(7)) << int(IpInputMeter::Lock::Locked188);
    QTest::newRow("RTP with CSRC") << rtp(packets(7), 2) << int(IpInputMeter::Lock::Locked188);
    QTest::newRow("RTP 204") << rtp(packets(3, 204)) << int(IpInputMeter::Lock::Locked204);
    QByteArray broken = packets(7);
    broken[188 * 3] = 0x00;
    QTest::newRow("lost sync") << broken << int(IpInputMeter::Lock::NotLocked);
    QTest::newRow("partial packet") << packets(7).left(1000) << int(IpInputMeter::Lock::NotLocked);
    QTest::newRow("text") << QByteArray("hello world") << int(IpInputMeter::Lock::NotLocked);
    QTest::newRow("RTP header only") << rtp(QByteArray()) << int(IpInputMeter::Lock::NotLocked);
    QTest::newRow("short RTP") << QByteArray("\x80\x21\x00", 3) << int(IpInputMeter::Lock::NotLocked);
}

void TstEmulatorMeter::lockDetection()
{
    QFETCH(QByteArray, datagram);
    QFETCH(int, lock);
    IpInputMeter meter;
    QCOMPARE(int(meter.reading(0).lock), int(IpInputMeter::Lock::NoData));
    meter.addDatagram(datagram, 100);
    QCOMPARE(int(meter.reading(100).lock), lock);
    // A second without datagrams is "No data" again.
    QCOMPARE(int(meter.reading(1099).lock), lock);
    QCOMPARE(int(meter.reading(1100).lock), int(IpInputMeter::Lock::NoData));
}

void TstEmulatorMeter::bitrateOverTheLastSecond()
{
    IpInputMeter meter;
    // 100 datagrams in one second, 7 packets each, one of them null:
    // raw 100 * 7 * 188 * 8 = 1 052 800 bit/s, net 100 * 6 * 188 * 8 = 902 400 bit/s.
    for (int i = 0; i < 100; ++i)
        meter.addDatagram(rtp(packets(7, 188, { 3 })), 1000 + i * 10);
    IpInputMeter::Reading r = meter.reading(1990);
    QCOMPARE(r.rawMbps, 1.0528);
    QCOMPARE(r.netMbps, 0.9024);
    // 500 ms later only the last 50 datagrams are inside the window.
    r = meter.reading(2490);
    QCOMPARE(r.rawMbps, 0.5264);
    QCOMPARE(r.netMbps, 0.4512);
    // 204-byte packets count as transport packets of 188 bytes; an all-null datagram adds no net.
    meter.reset();
    meter.addDatagram(packets(7, 204, { 0, 1, 2, 3, 4, 5, 6 }), 5000);
    r = meter.reading(5000);
    QCOMPARE(r.rawMbps, 7 * 188 * 8 / 1e6);
    QCOMPARE(r.netMbps, 0.0);
}

void TstEmulatorMeter::statusLinesFromTheMeter()
{
    ModulatorDevice device { DeviceIdentity(), DeviceFaults() };
    for (int i = 0; i < 1000; ++i) // 24.064 Mbit/s: 1000 datagrams of 16 packets of 188 bytes
        device.ipMeter().addDatagram(packets(16, 188, i % 2 ? QList<int> { 0, 1 } : QList<int> {}), i);
    const QByteArray status = device.statusText(999);
    QVERIFY2(status.startsWith("IP input status : Locked on 188 bytes packets\r\n"), status.constData());
    QVERIFY(status.contains("\r\nInput raw bitrate : 24.064 Mbps\r\n"));
    QVERIFY(status.contains("\r\nInput net bitrate : 22.560 Mbps\r\n"));
    QVERIFY(status.contains("\r\nASI input status : No data\r\n"));
}

QTEST_GUILESS_MAIN(TstEmulatorMeter)
#include "tst_emulatormeter.moc"
