// The Streaming and Testing pages inside the main window that wires them: field rules, the checks at Play, the
// three trees of a loaded file (against hand-counted figures and against what nerio-ts analyze prints), the
// play/pause/drag/stop state machine driving real runs that send to loopback only, and the Testing options
// reaching a run.
//
// The test stream runs at exactly 3 760 000 bit/s: a packet lasts 188 x 8 / 3.76e6 s = 400 us = 10 800
// ticks of 27 MHz, so a PCR on packet i carries i x 10 800.

#include "configurationpanel.h"
#include "enginefixture.h"
#include "loopbackcapture.h"
#include "mainwindowimpl.h"
#include "promptrecorder.h"
#include "streaming.h"
#include "streamingmisc.h"
#include "streamingpanel.h"
#include "streamingqslider.h"
#include "tsbuilder.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace
{
constexpr quint16 VIDEO_PID = 0x100;
constexpr quint16 AUDIO_PID = 0x101;
constexpr int PACKETS = 2500; // 470 000 bytes, 1 s at 3.76 Mbit/s

// Packet 0 PAT, 1 PMT; then a PCR on VIDEO_PID on every tenth packet, audio on odd packets, video
// payload on the rest. Counts: PAT 1, PMT 1, video 249 + 1000, audio 1249. No SDT.
QByteArray cbrStream(bool withPcr)
{
    QList<QByteArray> packets;
    packets += tsbuild::packetize(0, tsbuild::patSection(7, { { 1, 0x1000 } }));
    packets += tsbuild::packetize(0x1000,
        tsbuild::pmtSection(1, withPcr ? VIDEO_PID : 0x1FFF, { { 0x02, VIDEO_PID, {} }, { 0x03, AUDIO_PID, {} } }));
    int vcc = 0;
    int acc = 0;
    for (int i = 2; i < PACKETS; ++i) {
        if (i % 10 == 0 && withPcr)
            packets.append(tsbuild::pcrPacket(VIDEO_PID, quint64(i) * 10800));
        else if (i % 2 == 0)
            packets.append(tsbuild::packet(VIDEO_PID, false, vcc++, QByteArray(184, char(0x11))));
        else
            packets.append(tsbuild::packet(AUDIO_PID, false, acc++, QByteArray(184, char(0x22))));
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

template <typename T> T *find(const QObject *parent, const QString &name)
{
    T *w = parent->findChild<T *>(name);
    if (!w)
        qFatal("no child %s", qPrintable(name));
    return w;
}
} // namespace

class tst_streamingpanel : public QObject
{
    Q_OBJECT

private:
    template <typename T> T *child(const char *name) { return find<T>(page, QString::fromLatin1(name)); }
    void click(const char *button) { child<QPushButton>(button)->click(); }
    QTemporaryDir dir;
    QString cbrPath;
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
    // "Same as modulator" pointing at a loopback receiver: runs never leave this machine.
    void aimAtReceiver()
    {
        receiver = std::make_unique<LoopbackCapture>();
        QVERIFY(receiver->open());
        main->configurationPanel()->setIPConfigFromDevice(
            QStringLiteral("multicast"), QString(), QStringLiteral("127.0.0.1"), QString::number(receiver->port()));
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
        cbrPath = fixture::writeFile(dir, "cbr.ts", cbrStream(true));
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
    void fields_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<qint64>("value"); // -1: no value to read back
        auto row = [](const char *name, const char *field, const char *typed, const char *shown, qint64 value) {
            QTest::newRow(name) << QString(field) << QString(typed) << QString(shown) << value;
        };
        // Every row starts from "77" in its field.
        row("grouped paste", "bitrate_line", "12 345 678", "12 345 678", 12345678);
        row("port 65536", "ipPortLine", "65536", "6553", -1);
        // A keystroke that leaves no whole four-part address goes back to the last good one (240.0.0.1, typed
        // whole, is refused at Play).
        row("address 239.1.2.", "address_lineEdit", "239.1.2.", "239.0.0.0", -1);
        // Testing page.
        row("gap 12a", "scramblingGap", "12a", "12", 12);
        row("gap empty keeps last", "scramblingGap", "", "", 77);
        row("gap does not fit", "scramblingGap", "99999999999999999999", "99999999999999999999",
            std::numeric_limits<qint64>::max());
        row("run 0 becomes 1", "successiveScram", "0", "1", 1);
        row("pid 8192", "PIDnumber", "8192", "8191", 8191);
    }
    void fields()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(qint64, value);
        auto *edit = find<QLineEdit>(main, field);
        edit->setText(QStringLiteral("77"));
        edit->setText(typed);
        QCOMPARE(edit->text(), shown);
        const streamingtools &t = page->currentTools();
        const QHash<QString, qint64> values { { "bitrate_line", page->currentBitrate() },
            { "scramblingGap", t.getScramblingGap() }, { "successiveScram", t.getSuccessiveScramblingPackets() },
            { "PIDnumber", t.getPIDnumber() } };
        if (value >= 0)
            QCOMPARE(values.value(field), value);
        if (typed == "8192")
            expectBox(QMessageBox::Critical, "Please enter correct PID value : 0 < PID < 8191");
        QVERIFY(prompts->boxes.isEmpty());
    }
    void bitrateBoundsAtPlay_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<qint64>("bitrate");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("plays");
        QTest::addColumn<qint64>("duration");
        // 470 000 bytes = 3 760 000 bits. The seek case plays at the lower bound.
        QTest::newRow("99 999") << "99999" << qint64(100000) << "100 000" << false << qint64(37);
        QTest::newRow("65 000 000") << "65000000" << qint64(65000000) << "65 000 000" << true << qint64(0);
        QTest::newRow("65 000 001") << "65 000 001" << qint64(65000000) << "65 000 000" << false << qint64(0);
    }
    void bitrateBoundsAtPlay()
    {
        QFETCH(QString, typed);
        QFETCH(qint64, bitrate);
        QFETCH(QString, shown);
        QFETCH(bool, plays);
        QFETCH(qint64, duration);
        load(cbrPath);
        aimAtReceiver();
        play(typed);
        QCOMPARE(page->currentBitrate(), bitrate);
        QCOMPARE(child<QLineEdit>("bitrate_line")->text(), shown);
        QCOMPARE(page->currentDuration(), duration);
        QCOMPARE(page->currentState(), plays ? 2 : 0);
        QCOMPARE(page->currentEngine() != nullptr, plays);
        if (!plays)
            return expectBox(QMessageBox::Critical,
                "Bitrate calcul error. Please check the following condition : \n100 000 < bitrate < 65 000 000");
        QVERIFY(prompts->boxes.isEmpty());
        // The bitrate is locked while the run lasts.
        QVERIFY(!child<QLineEdit>("bitrate_line")->isEnabled());
        QCOMPARE(child<QLabel>("negCurrentTime_label")->text(), "-" + streamingQSlider::timeText(quint64(duration)));
    }
    void addressChecksAtPlay()
    {
        // Play without a file does nothing and asks nothing.
        click("play_pause_pushButton");
        QCOMPARE(page->currentState(), 0);
        QVERIFY(prompts->boxes.isEmpty());
        load(cbrPath);
        // "Same as modulator" with no address from the device yet.
        child<QCheckBox>("ipConfig_checkBox")->setChecked(true);
        play();
        QCOMPARE(page->currentState(), 0);
        QCOMPARE(prompts->boxes.size(), 1);
        QCOMPARE(prompts->boxes.first().title, QStringLiteral("Critical error"));
        prompts->boxes.clear();
        child<QCheckBox>("ipConfig_checkBox")->setChecked(false);
        QVERIFY(child<QLineEdit>("address_lineEdit")->isEnabled() && child<QLineEdit>("ipPortLine")->isEnabled());
        child<QLineEdit>("address_lineEdit")->setText(QStringLiteral("240.0.0.1"));
        play();
        QCOMPARE(page->currentState(), 0);
        QVERIFY(!page->currentEngine());
        expectBox(QMessageBox::Critical,
            "IP Streaming Address Error. Please check the following condition : \n224.0.0.0 < IP Address < "
            "239.255.255.255");
        // With "Same as modulator" the own address is not looked at: the run goes to the device's.
        aimAtReceiver();
        play();
        QCOMPARE(page->currentState(), 2);
        QVERIFY(prompts->boxes.isEmpty());
        const QList<QByteArray> got = receiver->read(3000, 1);
        QCOMPARE(got.size(), 1);
        QCOMPARE(got.first().size(), 7 * 188);
        QCOMPARE(got.first().left(4), QByteArray::fromHex("47400010")); // the file's first packet, the PAT
    }
    void loadShowsTrees()
    {
        load(cbrPath);
        QVERIFY(prompts->boxes.isEmpty());
        QCOMPARE(page->currentFileSize(), quint64(470000));
        QCOMPARE(page->currentBitrate(), qint64(3760000));
        QCOMPARE(child<QLineEdit>("bitrate_line")->text(), QStringLiteral("3 760 000"));
        QCOMPARE(page->currentDuration(), qint64(1));
        QCOMPARE(printed(page->fileModel()),
            QStringList({ "File informations", "  470 000 bytes", "  2 500 packets", "Computed bitrate",
                "  Raw bitrate = 3 760 000 bps" }));
        // Program: PMT 1 + video 1249 + audio 1249 of 2500 packets at 3.76 Mbit/s = 3 758 496 bit/s; no SDT.
        QCOMPARE(printed(page->programModel()).at(1),
            QStringLiteral("  Program Stream (No name found) - Program Number : 1 (3.758 Mbps)"));
        // PIDs ascending; 1249 of 2500 packets = 1 878 496 bit/s, 1 of 2500 = 1504 bit/s.
        const QStringList pidLines = printed(page->pidModel());
        QCOMPARE(pidLines.size(), 8);
        QCOMPARE(pidLines.at(0), QStringLiteral("0 - (1.504 Kbps)"));
        QCOMPARE(pidLines.at(4), QStringLiteral("257 - (1.878 Mbps)"));
        QCOMPARE(pidLines.at(7), QStringLiteral("  PMT - Program Number : 1"));
        // nerio-ts analyze prints the same three trees.
        QProcess analyze;
        analyze.start(qEnvironmentVariable("NERIO_BIN_DIR") + QStringLiteral("/nerio-ts"), { "analyze", cbrPath });
        QVERIFY(analyze.waitForFinished(20000));
        QCOMPARE(analyze.exitCode(), 0);
        QCOMPARE(printed(page->fileModel()) + QStringList { QString() } + printed(page->programModel())
                + QStringList { QString() } + pidLines + QStringList { QString() },
            QString::fromUtf8(analyze.readAllStandardOutput()).split(QLatin1Char('\n')));
        // A bitrate edit that passes the checks rebuilds the per-PID rates at Play; the file tree keeps the
        // measured figure.
        aimAtReceiver();
        play(QStringLiteral("7520000"));
        QCOMPARE(page->currentState(), 2);
        QCOMPARE(printed(page->pidModel()).at(2), QStringLiteral("256 - (3.757 Mbps)"));
        QCOMPARE(printed(page->fileModel()).at(4), QStringLiteral("  Raw bitrate = 3 760 000 bps"));
    }
    void loadWithoutPcrThenARefusedFile()
    {
        const QString noPcr = fixture::writeFile(dir, "nopcr.ts", cbrStream(false));
        load(noPcr);
        expectBox(
            QMessageBox::Warning, "No PCR detected, please enter bitrate manualy. Default bitrate value is : 10 Mbps");
        QCOMPARE(printed(page->fileModel()).at(4), QStringLiteral("  No PCR detected"));
        QCOMPARE(page->currentBitrate(), qint64(10000000));
        QCOMPARE(child<QLineEdit>("bitrate_line")->text(), QStringLiteral("10 000 000"));
        QCOMPARE(page->currentDuration(), qint64(0)); // 3 760 000 bits / 10 000 000 bit/s, integer division
        QVERIFY(printed(page->programModel()).contains(QStringLiteral("    Program PCR PID : No PCR")));
        // Audio: 1249 of 2500 at the default 10 Mbit/s = 4 996 000 bit/s.
        QCOMPARE(printed(page->pidModel()).at(4), QStringLiteral("257 - (4.996 Mbps)"));
        // A file that cannot be opened leaves the loaded one in place.
        load(dir.filePath(QStringLiteral("missing.ts")));
        expectBox(QMessageBox::Critical, "Unable to open transport stream file");
        QCOMPARE(page->currentFileName(), noPcr);
        QCOMPARE(child<QLineEdit>("file_lineEdit")->text(), noPcr);
        QCOMPARE(printed(page->fileModel()).at(4), QStringLiteral("  No PCR detected"));
        QCOMPARE(page->currentBitrate(), qint64(10000000));
    }
    void playPauseDragStop()
    {
        load(cbrPath);
        aimAtReceiver();
        streamingQSlider *slider = page->seekSlider();
        QSignalSpy seeks(page, &streamingpanel::moveSliderAllowed);
        play(QStringLiteral("100000")); // 37 s of stream
        QCOMPARE(page->currentState(), 2);
        QVERIFY(!page->currentEngine()->isPaused());
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
        QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(211, 10));
        QCOMPARE(page->currentState(), 2);
        QCOMPARE(seeks.count(), 2);
        QCOMPARE(seeks.at(1).at(0).toInt(), 10);
        QTRY_VERIFY_WITH_TIMEOUT(!page->currentEngine()->isPaused(), 2000);
        // The run reports the new place (10 s, then one report per second of stream).
        const QStringList expected { "00:00:10", "00:00:11", "00:00:12" };
        QTRY_VERIFY_WITH_TIMEOUT(expected.contains(child<QLabel>("posCurrentTime_label")->text()), 5000);
        const int shown = expected.indexOf(child<QLabel>("posCurrentTime_label")->text()) + 10;
        QCOMPARE(child<QLabel>("negCurrentTime_label")->text(), "-" + streamingQSlider::timeText(quint64(37 - shown)));

        play(); // pause, then stop from paused
        QCOMPARE(page->currentState(), 1);
        click("stop_pushButton");
        QCOMPARE(page->currentState(), 0);
        QVERIFY(!page->currentEngine());
        QCOMPARE(child<QLabel>("posCurrentTime_label")->text(), QStringLiteral("00:00:00"));
        click("stop_pushButton"); // nothing to do
        QCOMPARE(page->currentState(), 0);
        // Hours run on past two digits: 100 hours of a long file at a low bitrate.
        QCOMPARE(streamingQSlider::timeText(360000), QStringLiteral("100:00:00"));
    }
    void endOfFileStopsOnlyAPlayingRun()
    {
        load(cbrPath);
        aimAtReceiver();
        play(QStringLiteral("100000"));
        play();
        QCOMPARE(page->currentState(), 1);
        // A late end-of-file notice while paused is ignored.
        QVERIFY(QMetaObject::invokeMethod(page, "loopDisable_StopStreaming"));
        QCOMPARE(page->currentState(), 1);
        QVERIFY(page->currentEngine());
        click("stop_pushButton");
        // At the file's own bitrate the one-second file ends by itself and the page stops.
        play(QStringLiteral("3760000"));
        QCOMPARE(page->currentState(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(page->currentState(), 0, 8000);
        QVERIFY(!page->currentEngine());
        // With the loop on, the end of the file is passed through.
        child<QPushButton>("loop_pushButton")->click();
        QCOMPARE(page->currentLoopState(), 0);
        play();
        QTest::qWait(2500);
        QCOMPARE(page->currentState(), 2);
    }
    void testingChecksReachTheStreamingPage()
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
            find<QCheckBox>(testing, checks[i])->setChecked(expected[i]);
            QCOMPARE(options(), expected);
        }
        QCOMPARE(options(), (QList<bool> { false, false, false, false, true, true }));
    }
    void testingOptionsReachARun()
    {
        load(cbrPath);
        aimAtReceiver();
        play();
        receiver->read(100);
        // Gap 0 replaces every packet: from then on only 0x87 bytes go out, and the run goes on.
        find<QLineEdit>(testing, "scramblingGap")->setText(QStringLiteral("0"));
        find<QCheckBox>(testing, "ScramblingEna")->setChecked(true);
        receiver->read(100);
        const QList<QByteArray> got = receiver->read(200);
        QVERIFY(!got.isEmpty());
        QCOMPARE(got.last(), QByteArray(7 * 188, char(0x87)));
        QCOMPARE(page->currentState(), 2);
    }
};

QTEST_MAIN(tst_streamingpanel)
#include "tst_streamingpanel.moc"
