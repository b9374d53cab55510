// The Streaming and Testing pages inside the main window that wires them: the three trees of a loaded file
// (against hand-counted figures), what a load refuses, the checks at Play, the play/pause/drag/stop state machine
// driving real runs, a file sent to its end, a looped run read by an independent receiver, refused sends, the
// chart of a run, and the Testing checks and fields reaching a run. Runs send to multicast groups, as to a
// modulator, inside a network namespace of this test's own (root only; without it the run cases are skipped).
//
// The test stream runs at exactly 3 760 000 bit/s: a packet lasts 188 x 8 / 3.76e6 s = 400 us = 10 800
// ticks of 27 MHz, so a PCR on packet i carries i x 10 800.

#include "configurationpanel.h"
#include "enginefixture.h"
#include "loopbackcapture.h"
#include "mainwindowimpl.h"
#include "promptrecorder.h"
#include "streamchart.h"
#include "streaming.h"
#include "streamingmisc.h"
#include "streamingpanel.h"
#include "streamingqslider.h"
#include "tsbuilder.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTreeView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// 2500 packets (470 000 bytes, 1 s at 3.76 Mbit/s): packet 0 PAT, 1 PMT; then a PCR on the video PID 0x100
// on every tenth packet, audio (0x101) on odd packets, video payload on the rest. Counts: PAT 1, PMT 1, video
// 249 + 1000, audio 1249. No SDT.
QByteArray cbrStream(bool withPcr)
{
    QList<QByteArray> packets;
    packets += tsbuild::packetize(0, tsbuild::patSection(7, { { 1, 0x1000 } }));
    packets += tsbuild::packetize(
        0x1000, tsbuild::pmtSection(1, withPcr ? 0x100 : 0x1FFF, { { 0x02, 0x100, {} }, { 0x03, 0x101, {} } }));
    int vcc = 0;
    int acc = 0;
    for (int i = 2; i < 2500; ++i) {
        if (i % 10 == 0 && withPcr) {
            // Adaptation only: it repeats the counter of the video payload before it.
            QByteArray pcr = tsbuild::pcrPacket(0x100, quint64(i) * 10800);
            pcr[3] = char(0x20 | ((vcc - 1) & 0x0F));
            packets.append(pcr);
        } else if (i % 2 == 0)
            packets.append(tsbuild::packet(0x100, false, vcc++, QByteArray(184, char(0x11))));
        else
            packets.append(tsbuild::packet(0x101, false, acc++, QByteArray(184, char(0x22))));
    }
    return tsbuild::join(packets);
}

QStringList printed(const QStandardItemModel *model)
{
    QStringList lines;
    std::function<void(const QStandardItem *, int)> walk = [&](const QStandardItem *item, int depth) {
        lines << QString(depth * 2, QLatin1Char(' ')) + item->text();
        for (int r = 0; r < item->rowCount(); ++r)
            walk(item->child(r), depth + 1);
    };
    for (int r = 0; r < model->rowCount(); ++r)
        walk(model->item(r), 0);
    return lines;
}
} // namespace

class tst_streamingpanel : public QObject
{
    Q_OBJECT

private:
    // A named widget of the Streaming page (or of `in`); a missing one ends the test.
    template <typename T> T *child(const QString &name, const QObject *in = nullptr)
    {
        T *w = (in ? in : page)->findChild<T *>(name);
        if (!w)
            qFatal("no child %s", qPrintable(name));
        return w;
    }
    void click(const char *button) { child<QPushButton>(button)->click(); }
    QTemporaryDir dir;
    QByteArray cbr;
    QString cbrPath;
    bool isolated = false;
    MainWindowImpl *main = nullptr;
    streamingpanel *page = nullptr;
    streamingmisc *testing = nullptr;
    PromptRecorder *prompts = nullptr;
    std::unique_ptr<LoopbackCapture> receiver;
    void load(const QString &path)
    {
        prompts->fileAnswers << path;
        click("file_pushButton");
    }
    // "Same as modulator" on a group the device reports, received on the namespace's loopback.
    void aimAtReceiver(const QString &group = QStringLiteral("239.255.42.1"))
    {
        receiver = std::make_unique<LoopbackCapture>();
        QVERIFY(receiver->openGroup(QHostAddress(group)));
        main->configurationPanel()->setIPConfigFromDevice(
            QStringLiteral("multicast"), QString(), group, QString::number(receiver->port()));
        child<QCheckBox>("ipConfig_checkBox")->setChecked(true);
    }
    // Play at the given bitrate (empty: as measured).
    void play(const QString &bitrate = QString())
    {
        if (!bitrate.isEmpty())
            child<QLineEdit>("bitrate_line")->setText(bitrate);
        click("play_pause_pushButton");
    }
    // Exactly one box was shown, with these words.
    void expectBox(QMessageBox::Icon icon, const QString &text)
    {
        QCOMPARE(prompts->boxes.size(), 1);
        QCOMPARE(prompts->boxes.first().icon, icon);
        QCOMPARE(prompts->boxes.first().title, icon == QMessageBox::Critical ? "Critical error" : "Warning");
        QCOMPARE(prompts->boxes.first().text, text);
        prompts->boxes.clear();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        cbr = cbrStream(true);
        cbrPath = fixture::writeFile(dir, "cbr.ts", cbr);
        // This thread's own network namespace (the pacing threads are started from it): its loopback carries the
        // multicast groups, and the groups 239.255.99.0/24 are unreachable.
        isolated = geteuid() == 0 && unshare(CLONE_NEWNET) == 0
            && QProcess::execute(QStringLiteral("sh"),
                   { QStringLiteral("-c"),
                       QStringLiteral("ip link set lo up && ip link set lo multicast on && ip route add 224.0.0.0/4 "
                                      "dev lo src 127.0.0.1 && ip route add unreachable 239.255.99.0/24") })
                == 0;
    }
    void init()
    {
        prompts = new PromptRecorder;
        main = new MainWindowImpl;
        page = main->streamingPage();
        testing = main->testingPage();
    }
    void cleanup()
    {
        delete main;
        receiver.reset();
        delete prompts;
    }
    void loadsThenChecksAtPlay()
    {
        // Play without a file does nothing and asks nothing.
        click("play_pause_pushButton");
        QCOMPARE(page->currentState(), 0);
        QVERIFY(prompts->boxes.isEmpty());
        const QString noPcr = fixture::writeFile(dir, "nopcr.ts", cbrStream(false));
        load(noPcr);
        expectBox(
            QMessageBox::Warning, "No PCR detected, please enter bitrate manualy. Default bitrate value is : 10 Mbps");
        QCOMPARE(printed(page->fileModel()).at(4), QStringLiteral("  No PCR detected"));
        QCOMPARE(page->currentBitrate(), qint64(10000000));
        // A file that cannot be opened leaves the loaded one in place.
        load(dir.filePath(QStringLiteral("missing.ts")));
        expectBox(QMessageBox::Critical, "Unable to open transport stream file");
        QCOMPARE(page->currentFileName(), noPcr);
        QCOMPARE(child<QLineEdit>("file_lineEdit")->text(), noPcr);
        QCOMPARE(page->currentBitrate(), qint64(10000000));

        load(cbrPath);
        QVERIFY(prompts->boxes.isEmpty());
        QCOMPARE(page->currentBitrate(), qint64(3760000));
        // Program: PMT 1 + video 1249 + audio 1249 of 2500 packets at 3.76 Mbit/s = 3 758 496 bit/s; no SDT.
        QCOMPARE(printed(page->programModel()).at(1),
            QStringLiteral("  Program Stream (No name found) - Program Number : 1 (3.758 Mbps)"));
        // PIDs ascending; 1249 of 2500 packets = 1 878 496 bit/s, 1 of 2500 = 1504 bit/s.
        const QStringList pidLines = printed(page->pidModel());
        QCOMPARE(pidLines.at(0), QStringLiteral("0 - (1.504 Kbps)"));
        QCOMPARE(pidLines.at(4), QStringLiteral("257 - (1.878 Mbps)"));

        // Bitrates outside 100 000 .. 65 000 000 are refused (the seek case plays at the lower bound).
        for (const char *typed : { "99999", "65 000 001" }) {
            play(QString::fromLatin1(typed));
            QCOMPARE(page->currentState(), 0);
            expectBox(QMessageBox::Critical,
                "Bitrate calcul error. Please check the following condition : \n100 000 < bitrate < 65 000 000");
        }
        // "Same as modulator" with no address from the device yet.
        child<QCheckBox>("ipConfig_checkBox")->setChecked(true);
        play(QStringLiteral("65000000"));
        QCOMPARE(page->currentState(), 0);
        QCOMPARE(prompts->boxes.size(), 1);
        prompts->boxes.clear();
        child<QCheckBox>("ipConfig_checkBox")->setChecked(false);
        child<QLineEdit>("address_lineEdit")->setText(QStringLiteral("240.0.0.1"));
        play();
        QCOMPARE(page->currentState(), 0);
        expectBox(QMessageBox::Critical,
            "IP Streaming Address Error. Please check the following condition : \n224.0.0.0 < IP Address < "
            "239.255.255.255");
        // With "Same as modulator" the own address is not looked at: the run goes to the device's, at the upper
        // bound.
        if (!isolated)
            QSKIP("runs need a network namespace of their own (root)");
        aimAtReceiver();
        play();
        QCOMPARE(page->currentState(), 2);
        QCOMPARE(page->currentBitrate(), qint64(65000000));
        QVERIFY(prompts->boxes.isEmpty());
        QCOMPARE(receiver->read(3000, 1).size(), 1);
    }
    void playPauseDragStop()
    {
        // Every correction off: what goes out is the file's own bytes, so a datagram tells its place in the file.
        child<QCheckBox>("RAW_modeDisable", testing)->setChecked(false);
        if (!isolated)
            QSKIP("runs need a network namespace of their own (root)");
        load(cbrPath);
        aimAtReceiver();
        streamingQSlider *slider = page->seekSlider();
        QSignalSpy seeks(page, &streamingpanel::moveSliderAllowed);
        play(QStringLiteral("100000")); // 37 s of stream
        QCOMPARE(page->currentState(), 2);
        play(); // pause
        QCOMPARE(page->currentState(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(page->currentEngine()->isPaused(), 2000);

        // Pressing while paused keeps the state; the release seeks and the run stays paused.
        // x = 423 of 782 pixels: 37 x 423 / 782 = 20.01 -> 20 s.
        QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(423, 10));
        QCOMPARE(page->currentState(), 1);
        QCOMPARE(slider->bubbleText(), QStringLiteral("00:00:20"));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(423, 10));
        QCOMPARE(page->currentState(), 1);
        QCOMPARE(seeks.count(), 1);
        QCOMPARE(seeks.at(0).at(0).toInt(), 20);
        QCOMPARE(page->currentPosition(), qint64(20));
        QVERIFY(page->currentEngine()->isPaused());

        play(); // resume
        QCOMPARE(page->currentState(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(!page->currentEngine()->isPaused(), 2000);

        // A drag while playing pauses the run, the release resumes it at the new place.
        QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(211, 10)); // 37 x 211 / 782 = 9.98 -> 10
        QCOMPARE(page->currentState(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(page->currentEngine()->isPaused(), 2000);
        receiver->read(300);
        // The GUI thread held up just after it resumes the run: the seek has landed before anything more goes out,
        // so the first datagram after the release is the one at 10 s (1 250 000 bits, 124 832 bytes as whole
        // packets), not one from where the drag began.
        connect(page->currentEngine(), &streaming::toggle, page, [] { QThread::msleep(50); });
        QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(211, 10));
        QCOMPARE(page->currentState(), 2);
        QCOMPARE(seeks.count(), 2);
        QCOMPARE(seeks.at(1).at(0).toInt(), 10);
        const QList<QByteArray> resumed = receiver->read(3000, 1);
        QCOMPARE(resumed.size(), 1);
        QCOMPARE(resumed.first(), cbr.mid(124832, 7 * 188));
        QTRY_VERIFY_WITH_TIMEOUT(!page->currentEngine()->isPaused(), 2000);
        // The run reports the new place (10 s, then one report per second of stream).
        const QStringList expected { "00:00:10", "00:00:11", "00:00:12" };
        QTRY_VERIFY_WITH_TIMEOUT(expected.contains(child<QLabel>("posCurrentTime_label")->text()), 5000);
        const int shown = expected.indexOf(child<QLabel>("posCurrentTime_label")->text()) + 10;
        QCOMPARE(child<QLabel>("negCurrentTime_label")->text(), "-" + streamingQSlider::timeText(quint64(37 - shown)));

        play(); // pause; a late end-of-file notice while paused is ignored; stop from paused
        QCOMPARE(page->currentState(), 1);
        QVERIFY(QMetaObject::invokeMethod(page, "loopDisable_StopStreaming"));
        QCOMPARE(page->currentState(), 1);
        click("stop_pushButton");
        QCOMPARE(page->currentState(), 0);
        QVERIFY(!page->currentEngine());
        QCOMPARE(child<QLabel>("posCurrentTime_label")->text(), QStringLiteral("00:00:00"));
    }
    void endOfFileLoopAndTestingOptionsOnARun()
    {
        if (!isolated)
            QSKIP("runs need a network namespace of their own (root)");
        // The one-second file behind 40 000 bytes that are not packets (a first packet start past any 16-bit
        // offset), at its own bitrate: it goes out from its first packet to its last byte for byte, the last
        // datagram holding the one packet left, and nothing follows; the page stops at the end.
        load(fixture::writeFile(dir, "late.ts", QByteArray(40000, char(0xB8)) + cbr));
        aimAtReceiver();
        play(QStringLiteral("3760000"));
        QCOMPARE(page->currentState(), 2);
        QByteArray got;
        for (const QByteArray &d : receiver->read(3000, 358))
            got += d;
        QTRY_COMPARE_WITH_TIMEOUT(page->currentState(), 0, 8000);
        QVERIFY(!page->currentEngine());
        for (const QByteArray &d : receiver->read(300))
            got += d;
        QCOMPARE(got.size(), cbr.size());
        QCOMPARE(got, cbr);
        // With the loop on, the end of the file is passed through. Then the Testing options reach the running
        // engine: gap 0 replaces every packet, from then on only 0x87 bytes go out, and the run goes on.
        click("loop_pushButton");
        play();
        receiver->read(1500);
        child<QLineEdit>("scramblingGap", testing)->setText(QStringLiteral("0"));
        child<QCheckBox>("ScramblingEna", testing)->setChecked(true);
        receiver->read(100);
        const QList<QByteArray> later = receiver->read(200);
        QVERIFY(!later.isEmpty());
        QCOMPARE(later.last(), QByteArray(7 * 188, char(0x87)));
        QCOMPARE(page->currentState(), 2);
    }
    void defaultRunLoopsCleanly()
    {
        // The Testing page as it starts (its options greyed, every correction ticked) and a 350-packet file (50
        // datagrams, 140 ms) looped for 1.2 s: about eight passes. Read as an independent receiver would, every
        // counter runs on across the wraps and every PCR is where its byte position puts it at 3.76 Mbit/s.
        if (!isolated)
            QSKIP("runs need a network namespace of their own (root)");
        load(fixture::writeFile(dir, "short.ts", cbr.left(350 * 188)));
        aimAtReceiver();
        click("loop_pushButton");
        play();
        QByteArray wire;
        for (const QByteArray &d : receiver->read(1200))
            wire += d;
        click("stop_pushButton");
        QVERIFY2(wire.size() >= 4 * 350 * 188, qPrintable(QString::number(wire.size())));
        QVector<int> lastCc(8192, -1);
        int ccErrors = 0;
        int pcrsOff = 0;
        int pcrs = 0;
        qint64 lastPcrAt = -1;
        quint64 lastPcr = 0;
        for (int at = 0; at + 188 <= wire.size(); at += 188) {
            const QByteArray p = wire.mid(at, 188);
            QCOMPARE(quint8(p[0]), quint8(0x47));
            const int pid = (quint8(p[1]) & 0x1F) << 8 | quint8(p[2]);
            const int cc = quint8(p[3]) & 0x0F;
            const bool payload = quint8(p[3]) & 0x10;
            // ISO/IEC 13818-1, 2.4.3.3: +1 with a payload, the same counter without.
            if (lastCc[pid] >= 0 && cc != (payload ? (lastCc[pid] + 1) & 0x0F : lastCc[pid]))
                ++ccErrors;
            lastCc[pid] = cc;
            if ((quint8(p[3]) & 0x20) && quint8(p[4]) != 0 && (quint8(p[5]) & 0x10)) {
                const quint64 pcr = fixture::pcrOf(p);
                if (lastPcrAt >= 0 && pcr != lastPcr + quint64(at - lastPcrAt) / 188 * 10800)
                    ++pcrsOff;
                lastPcr = pcr;
                lastPcrAt = at;
                ++pcrs;
            }
        }
        QCOMPARE(ccErrors, 0);
        QCOMPARE(pcrsOff, 0);
        QVERIFY(pcrs >= 4 * 34);
    }
    void chartFollowsTheRun()
    {
        // Hidden until asked for, then over the file and decoder groups only. While a run exists it shows the rate
        // sent each second, and no device reading without a session; kept after Stop, emptied by the next Play.
        streamchart *chart = page->healthChart();
        QVERIFY(chart->isHidden());
        click("chart_pushButton");
        QVERIFY(!chart->isHidden());
        QCOMPARE(chart->geometry(),
            child<QWidget>("groupBox_2")->geometry().united(child<QWidget>("groupBox_3")->geometry()));
        if (!isolated)
            QSKIP("runs need a network namespace of their own (root)");
        load(cbrPath);
        aimAtReceiver();
        click("loop_pushButton");
        play();
        QTRY_VERIFY_WITH_TIMEOUT(chart->sentSeries()->count() >= 3, 6000);
        const double mbps = chart->sentSeries()->at(chart->sentSeries()->count() - 1).y();
        QVERIFY2(qAbs(mbps - 3.76) < 0.19, qPrintable(QString::number(mbps)));
        QVERIFY(chart->deviceSeries().isEmpty());
        QCOMPARE(chart->lockedSeries()->count() + chart->notLockedSeries()->count(), 0);
        click("stop_pushButton");
        const int kept = chart->sentSeries()->count();
        QTest::qWait(1200);
        QCOMPARE(chart->sentSeries()->count(), kept);
        play();
        QCOMPARE(chart->sentSeries()->count(), 0);
    }
    void refusesWhatIsNoTransportStream()
    {
        load(cbrPath);
        // A FIFO would block the load for good: should the page open it, a writer ends the wait after 3 s so the
        // test fails instead of hanging.
        const QString fifo = dir.filePath(QStringLiteral("fifo.ts"));
        QCOMPARE(mkfifo(qPrintable(fifo), 0600), 0);
        std::atomic<bool> done { false };
        std::thread writer([&] {
            for (int waited = 0; !done && waited < 3000; waited += 20)
                QThread::msleep(20);
            for (; !done; QThread::msleep(20)) {
                const int fd = ::open(qPrintable(fifo), O_WRONLY | O_NONBLOCK);
                if (fd >= 0)
                    ::close(fd);
            }
        });
        QElapsedTimer took;
        took.start();
        load(fifo);
        const qint64 ms = took.elapsed();
        done = true;
        writer.join();
        QVERIFY2(ms < 2000, qPrintable(QString::number(ms)));
        expectBox(QMessageBox::Critical, "Unable to open transport stream file");
        // A device that reads without end; 1 MiB of random bytes and 192-byte packets hold no 188-byte grid.
        load(QStringLiteral("/dev/zero"));
        expectBox(QMessageBox::Critical, "Unable to open transport stream file");
        QByteArray noise(1 << 20, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        QByteArray m2ts;
        for (int at = 0; at < cbr.size(); at += 188)
            m2ts += QByteArray(4, char(0x2A)) + cbr.mid(at, 188);
        for (const QString &path :
            { fixture::writeFile(dir, "noise.ts", noise), fixture::writeFile(dir, "m2ts.ts", m2ts) }) {
            load(path);
            expectBox(QMessageBox::Critical,
                QStringLiteral("No transport stream packet grid in the first %1 bytes of %2")
                    .arg(qMin<qint64>(QFileInfo(path).size(), 1 << 20))
                    .arg(path));
        }
        QCOMPARE(page->currentFileName(), cbrPath);
        QCOMPARE(page->currentBitrate(), qint64(3760000));
    }
    void reportedAddressIsCheckedAsTyped()
    {
        // The page alone, fed what a device could report: refused with the boxes a typed address or port gets.
        streamingpanel alone(nullptr);
        page = &alone;
        load(cbrPath);
        child<QCheckBox>("ipConfig_checkBox")->setChecked(true);
        const QString address = QStringLiteral(
            "IP Streaming Address Error. Please check the following condition : \n224.0.0.0 < IP Address < "
            "239.255.255.255");
        const QString port
            = QStringLiteral("IP Streaming Port Error. Please check the following condition : \n0 < IP Port < 65536");
        const QList<QStringList> reported { { "255.255.255.255", "1234", address }, { "127.0.0.1", "1234", address },
            { "239.1.2", "1234", address }, { "239.1.2.3", "70000", port }, { "239.1.2.3", "0", port },
            { "239.1.2.3", "", port } };
        for (const QStringList &r : reported) {
            alone.setModulatorInputSource([r] { return streamingpanel::modulatorInput { r[0], r[1] }; });
            play();
            QVERIFY2(alone.currentState() == 0, qPrintable(r.join(' ')));
            expectBox(QMessageBox::Critical, r[2]);
        }
        page = main->streamingPage();
    }
    void sendFailureIsReportedOnce()
    {
        if (!isolated)
            QSKIP("runs need a network namespace of their own (root)");
        // A group the namespace has no route to: every datagram is refused. The page says so once and plays on.
        load(cbrPath);
        aimAtReceiver(QStringLiteral("239.255.99.1"));
        click("loop_pushButton");
        play();
        QTRY_COMPARE_WITH_TIMEOUT(prompts->boxes.size(), 1, 4000);
        QTest::qWait(2500);
        QCOMPARE(prompts->boxes.size(), 1);
        QVERIFY2(prompts->boxes.first().text.startsWith(
                     QStringLiteral("The stream cannot be sent to 239.255.99.1:%1 (").arg(receiver->port())),
            qPrintable(prompts->boxes.first().text));
        QCOMPARE(page->currentState(), 2);
        QCOMPARE(page->currentEngine()->datagramsSent(), quint64(0));
    }
    void everyLineIsReadable()
    {
        // The window at its fixed size, in a font a point larger than the X11 default (Sans Serif 9 pt).
        const QFont before = QApplication::font();
        QApplication::setFont(QFont(QStringLiteral("Sans Serif"), 10));
        const std::unique_ptr<const QFont, void (*)(const QFont *)> restore(
            &before, [](const QFont *font) { QApplication::setFont(*font); });
        // A programme named at length: its line is wider than the tree that shows it.
        const QByteArray sdt = tsbuild::join(tsbuild::packetize(0x11,
            tsbuild::sdtSection(
                0x42, 7, { { 1, false, "Nerio Rundfunk", "Kanal Eins Mehrsprachiges Abendprogramm" } })));
        load(fixture::writeFile(dir, "named.ts", sdt + cbr));
        QCOMPARE(printed(page->programModel()).at(1),
            QStringLiteral("  Kanal Eins Mehrsprachiges Abendprogramm - Program Number : 1 (3.757 Mbps)"));
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main));
        // Every line of the three trees, expanded, has the room its text and icon take (scrolling sideways).
        for (const char *name : { "treeView", "treeView_2", "treeView_3" }) {
            auto *view = child<QTreeView>(name);
            view->expandAll();
            std::function<void(const QModelIndex &)> walk = [&](const QModelIndex &parent) {
                for (int r = 0; r < view->model()->rowCount(parent); ++r) {
                    const QModelIndex index = view->model()->index(r, 0, parent);
                    QVERIFY2(view->visualRect(index).width() >= view->sizeHintForIndex(index).width(),
                        qPrintable(QStringLiteral("%1: %2 (%3 of %4 px)")
                                       .arg(name, index.data().toString())
                                       .arg(view->visualRect(index).width())
                                       .arg(view->sizeHintForIndex(index).width())));
                    walk(index);
                }
            };
            walk(QModelIndex());
        }
        // Every label and check box of the page shows its whole text.
        for (QWidget *w : page->findChildren<QWidget *>()) {
            if (qobject_cast<QLabel *>(w) || qobject_cast<QCheckBox *>(w))
                QVERIFY2(w->width() >= w->sizeHint().width(),
                    qPrintable(QStringLiteral("%1: %2 of %3 px")
                                   .arg(w->objectName())
                                   .arg(w->width())
                                   .arg(w->sizeHint().width())));
        }
        // The slider's time bubble is as wide as its time, also past 99 hours.
        streamingQSlider *slider = page->seekSlider();
        slider->setEnabled(true);
        slider->setMaximum(400 * 3600);
        for (const int x : { 5, 700 }) {
            QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(x, 10));
            const int text = QFontMetrics(QFont(QStringLiteral("Calibri"), 11)).horizontalAdvance(slider->bubbleText());
            QVERIFY2(slider->bubble()->width() >= text + 8,
                qPrintable(QStringLiteral("%1: %2 of %3 px")
                               .arg(slider->bubbleText())
                               .arg(slider->bubble()->width())
                               .arg(text)));
            QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(x, 10));
        }
    }
    void testingChecksAndFieldsReachTheStreamingPage()
    {
        // Each check flips its own option and only that one; a check that showed other than the option it
        // starts from would send nothing and fail here.
        const streamingtools &t = page->currentTools();
        auto options = [&t] {
            return QList<bool> { t.getRAWmodeDisable(), t.getCCcorrection(), t.getPCRcorrection(),
                t.getSTARTcorrection(), t.getScramblingEna(), t.getScramblingOnPIDEna() };
        };
        const QStringList checks { "RAW_modeDisable", "CC_Correction", "PCR_Correction", "Start_Synchro",
            "ScramblingEna", "SpecifyPIDEna" };
        for (int i = 0; i < checks.size(); ++i) {
            QList<bool> expected = options();
            expected[i] = !expected[i];
            child<QCheckBox>(checks[i], testing)->setChecked(expected[i]);
            QCOMPARE(options(), expected);
        }
        QCOMPARE(options(), (QList<bool> { false, false, false, false, true, true }));
        // An emptied gap keeps the last one (0 would replace every packet); a gap too long for 64 bits becomes the
        // longest one (it used to become 0); a PID past 8191 is refused and held at 8191.
        auto *gap = child<QLineEdit>("scramblingGap", testing);
        gap->setText(QStringLiteral("77"));
        gap->setText(QString());
        QCOMPARE(t.getScramblingGap(), qint64(77));
        gap->setText(QStringLiteral("99999999999999999999"));
        QCOMPARE(t.getScramblingGap(), std::numeric_limits<qint64>::max());
        child<QLineEdit>("PIDnumber", testing)->setText(QStringLiteral("8192"));
        QCOMPARE(t.getPIDnumber(), 8191);
        expectBox(QMessageBox::Critical, "Please enter correct PID value : 0 < PID < 8191");
        // The pattern holds for the whole text: a pasted line end is undone like any other stray character.
        child<QLineEdit>("PIDnumber", testing)->setText(QStringLiteral("12\n"));
        QCOMPARE(child<QLineEdit>("PIDnumber", testing)->text(), QStringLiteral("12"));
    }
};

QTEST_MAIN(tst_streamingpanel)
#include "tst_streamingpanel.moc"
