// The Streaming page: form, field rules, the checks at Play, the three trees of a loaded file (against
// hand-counted figures and against what nerio-ts analyze prints), and the play/pause/drag/stop state
// machine driving real runs that send to loopback only.
//
// The test stream runs at exactly 3 760 000 bit/s: a packet lasts 188 x 8 / 3.76e6 s = 400 us = 10 800
// ticks of 27 MHz, so a PCR on packet i carries i x 10 800.

#include "configurationpanel.h"
#include "mainwindowimpl.h"
#include "promptrecorder.h"
#include "streaming.h"
#include "streamingmisc.h"
#include "streamingpanel.h"
#include "streamingqslider.h"
#include "tsbuilder.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTreeView>
#include <QUdpSocket>
#include <QtTest>

namespace
{
constexpr quint16 VIDEO_PID = 0x100;
constexpr quint16 AUDIO_PID = 0x101;
constexpr quint16 PMT_PID = 0x1000;
constexpr int PACKETS = 2500; // 470 000 bytes, 1 s at 3.76 Mbit/s

// Packet 0 PAT, 1 PMT; then a PCR on VIDEO_PID on every tenth packet, audio on odd packets, video
// payload on the rest. Counts: PAT 1, PMT 1, video 249 + 1000, audio 1249. No SDT.
QByteArray cbrStream(bool withPcr)
{
    QList<QByteArray> packets;
    packets += tsbuild::packetize(0, tsbuild::patSection(7, { { 1, PMT_PID } }));
    packets += tsbuild::packetize(PMT_PID,
        tsbuild::pmtSection(1, withPcr ? VIDEO_PID : 0x1FFF, { { 0x02, VIDEO_PID, {} }, { 0x03, AUDIO_PID, {} } }));
    int vcc = 0;
    int acc = 0;
    for (int i = 2; i < PACKETS; ++i) {
        if (i % 10 == 0 && withPcr)
            packets.append(tsbuild::pcrPacket(VIDEO_PID, quint64(i) * 10800));
        else if (i % 10 == 0 || i % 2 == 0)
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
} // namespace

class tst_streamingpanel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void formAsCreated();
    void timeText_data();
    void timeText();
    void bitrateField_data();
    void bitrateField();
    void portAndAddressFields();
    void playWithoutFileDoesNothing();
    void bitrateBoundsAtPlay_data();
    void bitrateBoundsAtPlay();
    void addressCheckAtPlay();
    void sameAsModulatorWithoutAddress();
    void loadShowsTrees();
    void loadWithoutPcr();
    void loadRefusedKeepsPrevious();
    void pageAgreesWithTool();
    void playPauseDragStop();
    void endOfFileStopsOnlyAPlayingRun();
    void loopButton();
    void wheelSeeks();
    void testingOptionsReachThePage();
    void mainWindowWiresTheTestingPage();

private:
    template <typename T> T *child(const char *name)
    {
        T *w = page->findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no child %s", name);
        return w;
    }
    QString writeFile(const QByteArray &bytes);
    void load(const QString &path);
    // "Same as modulator" pointing at a loopback receiver: runs never leave this machine.
    void aimAtReceiver();

    QTemporaryDir dir;
    QString cbrPath;
    QWidget *window = nullptr;
    ConfigurationPanel *config = nullptr;
    streamingpanel *page = nullptr;
    PromptRecorder *prompts = nullptr;
    QUdpSocket *receiver = nullptr;
    int files = 0;
};

QString tst_streamingpanel::writeFile(const QByteArray &bytes)
{
    const QString path = dir.filePath(QStringLiteral("s%1.ts").arg(++files));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void tst_streamingpanel::initTestCase()
{
    QVERIFY(dir.isValid());
    cbrPath = writeFile(cbrStream(true));
}

void tst_streamingpanel::init()
{
    prompts = new PromptRecorder;
    window = new QWidget;
    config = new ConfigurationPanel(window);
    page = new streamingpanel(window, config);
}

void tst_streamingpanel::cleanup()
{
    delete window;
    delete receiver;
    receiver = nullptr;
    delete prompts;
}

void tst_streamingpanel::load(const QString &path)
{
    prompts->fileAnswers << path;
    child<QPushButton>("file_pushButton")->click();
}

void tst_streamingpanel::aimAtReceiver()
{
    receiver = new QUdpSocket;
    QVERIFY(receiver->bind(QHostAddress::LocalHost, 0));
    config->setIPConfigFromDevice(
        QStringLiteral("multicast"), QString(), QStringLiteral("127.0.0.1"), QString::number(receiver->localPort()));
    child<QCheckBox>("ipConfig_checkBox")->setChecked(true);
}

void tst_streamingpanel::formAsCreated()
{
    QCOMPARE(child<QGroupBox>("groupBox")->title(), QStringLiteral("STREAMER CONTROLLER"));
    QCOMPARE(child<QGroupBox>("groupBox_2")->title(), QStringLiteral("FILE"));
    QCOMPARE(child<QGroupBox>("groupBox_3")->title(), QStringLiteral("TRANSPORT STREAM DECODER"));
    QCOMPARE(child<QGroupBox>("groupBox_4")->title(), QStringLiteral("STREAMING BROADCAST OPTIONS"));
    QCOMPARE(child<QGroupBox>("groupBox_5")->title(), QStringLiteral("PID INFORMATIONS"));
    QCOMPARE(child<QLabel>("posCurrentTime_label")->text(), QStringLiteral("00:00:00"));
    QCOMPARE(child<QLabel>("negCurrentTime_label")->text(), QStringLiteral("-00:00:00"));
    QCOMPARE(child<QPushButton>("loop_pushButton")->toolTip(), QStringLiteral("Loop disable"));
    QCOMPARE(child<QPushButton>("play_pause_pushButton")->toolTip(), QStringLiteral("Play/Pause"));
    QCOMPARE(child<QPushButton>("stop_pushButton")->toolTip(), QStringLiteral("Stop"));
    QCOMPARE(child<QLineEdit>("address_lineEdit")->text(), QStringLiteral("239.0.0.0"));
    QCOMPARE(child<QLineEdit>("address_lineEdit")->toolTip(),
        QStringLiteral("Address must be between 224.0.0.0 and 239.255.255.255"));
    QCOMPARE(child<QLineEdit>("ipPortLine")->text(), QStringLiteral("1234"));
    QVERIFY(child<QLineEdit>("file_lineEdit")->isReadOnly());
    QCOMPARE(child<QCheckBox>("RTPEna")->text(), QStringLiteral("Enable RTP"));
    QCOMPARE(child<QCheckBox>("ipConfig_checkBox")->text(), QStringLiteral("Same as modulator"));
    QVERIFY(child<QLineEdit>("address_lineEdit")->isEnabled());
    QCOMPARE(child<QTreeView>("treeView")->model(), page->fileModel());
    QCOMPARE(child<QTreeView>("treeView_2")->model(), page->programModel());
    QCOMPARE(child<QTreeView>("treeView_3")->model(), page->pidModel());

    streamingQSlider *slider = page->seekSlider();
    QCOMPARE(slider->parentWidget(), child<QGroupBox>("groupBox"));
    QCOMPARE(slider->geometry(), QRect(QPoint(34, 60), QPoint(815, 79)));
    QCOMPARE(slider->orientation(), Qt::Horizontal);
    QCOMPARE(slider->toolTip(), QStringLiteral("Drag"));
    QVERIFY(!slider->isEnabled());
    QCOMPARE(slider->bubbleText(), QStringLiteral("00:00:00"));

    QCOMPARE(page->currentState(), 0);
    QCOMPARE(page->currentLoopState(), 1);
    QVERIFY(!page->isRtpEnabled());
    QVERIFY(!page->currentEngine());
}

void tst_streamingpanel::timeText_data()
{
    QTest::addColumn<quint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << quint64(0) << "00:00:00";
    QTest::newRow("3725") << quint64(3725) << "01:02:05";
    QTest::newRow("2400") << quint64(2400) << "00:40:00";
    QTest::newRow("99:59:59") << quint64(359999) << "99:59:59";
    QTest::newRow("100 h") << quint64(360000) << "100:00:00";
    QTest::newRow("1000 h + 61 s") << quint64(3600061) << "1000:01:01";
}

void tst_streamingpanel::timeText()
{
    QFETCH(quint64, seconds);
    QFETCH(QString, text);
    QCOMPARE(streamingQSlider::timeText(seconds), text);
}

void tst_streamingpanel::bitrateField_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<qint64>("bitrate");
    QTest::newRow("1x") << "1x"
                        << "1" << qint64(1);
    QTest::newRow("grouped paste") << "12 345 678"
                                   << "12 345 678" << qint64(12345678);
    QTest::newRow("nine digits") << "123456789"
                                 << "12345678" << qint64(12345678);
    QTest::newRow("letters only") << "ab"
                                  << "" << qint64(0);
}

void tst_streamingpanel::bitrateField()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(qint64, bitrate);
    auto *edit = child<QLineEdit>("bitrate_line");
    edit->setText(typed);
    QCOMPARE(edit->text(), shown);
    QCOMPARE(page->currentBitrate(), bitrate);
}

void tst_streamingpanel::portAndAddressFields()
{
    auto *port = child<QLineEdit>("ipPortLine");
    port->setText(QStringLiteral("65535"));
    QCOMPARE(port->text(), QStringLiteral("65535"));
    port->setText(QStringLiteral("65536"));
    QCOMPARE(port->text(), QStringLiteral("6553"));
    port->setText(QStringLiteral("12a"));
    QCOMPARE(port->text(), QStringLiteral("12"));

    auto *address = child<QLineEdit>("address_lineEdit");
    address->setText(QStringLiteral("239.1.2.3"));
    QCOMPARE(address->text(), QStringLiteral("239.1.2.3"));
    // A keystroke that leaves no whole four-part address goes back to the last good one.
    address->setText(QStringLiteral("239.1.2."));
    QCOMPARE(address->text(), QStringLiteral("239.1.2.3"));
    address->setText(QStringLiteral("239.1.2.256"));
    QCOMPARE(address->text(), QStringLiteral("239.1.2.3"));
    address->setText(QStringLiteral("240.0.0.1"));
    QCOMPARE(address->text(), QStringLiteral("240.0.0.1"));

    auto *same = child<QCheckBox>("ipConfig_checkBox");
    same->setChecked(true);
    QVERIFY(!address->isEnabled());
    QVERIFY(!port->isEnabled());
    same->setChecked(false);
    QVERIFY(address->isEnabled());
    QVERIFY(port->isEnabled());
}

void tst_streamingpanel::playWithoutFileDoesNothing()
{
    child<QPushButton>("play_pause_pushButton")->click();
    QCOMPARE(page->currentState(), 0);
    QVERIFY(prompts->boxes.isEmpty());
}

void tst_streamingpanel::bitrateBoundsAtPlay_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<qint64>("bitrate");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("plays");
    QTest::addColumn<qint64>("duration");
    // 470 000 bytes = 3 760 000 bits.
    QTest::newRow("0") << "0" << qint64(100000) << "100 000" << false << qint64(37);
    QTest::newRow("99 999") << "99999" << qint64(100000) << "100 000" << false << qint64(37);
    QTest::newRow("100 000") << "100000" << qint64(100000) << "100 000" << true << qint64(37);
    QTest::newRow("65 000 000") << "65000000" << qint64(65000000) << "65 000 000" << true << qint64(0);
    QTest::newRow("65 000 001") << "65 000 001" << qint64(65000000) << "65 000 000" << false << qint64(0);
    QTest::newRow("3 760 000") << "3760000" << qint64(3760000) << "3 760 000" << true << qint64(1);
}

void tst_streamingpanel::bitrateBoundsAtPlay()
{
    QFETCH(QString, typed);
    QFETCH(qint64, bitrate);
    QFETCH(QString, shown);
    QFETCH(bool, plays);
    QFETCH(qint64, duration);
    load(cbrPath);
    aimAtReceiver();
    child<QLineEdit>("bitrate_line")->setText(typed);
    child<QPushButton>("play_pause_pushButton")->click();

    QCOMPARE(page->currentBitrate(), bitrate);
    QCOMPARE(child<QLineEdit>("bitrate_line")->text(), shown);
    QCOMPARE(page->currentDuration(), duration);
    QCOMPARE(page->seekSlider()->maximum(), int(duration));
    QCOMPARE(page->currentState(), plays ? 2 : 0);
    QCOMPARE(page->currentEngine() != nullptr, plays);
    if (plays) {
        QVERIFY(prompts->boxes.isEmpty());
        QCOMPARE(child<QLabel>("negCurrentTime_label")->text(),
            QLatin1Char('-') + streamingQSlider::timeText(quint64(duration)));
        // The broadcast options are locked while the run lasts.
        for (const char *name : { "ipConfig_checkBox", "bitrate_line", "address_lineEdit", "ipPortLine", "RTPEna" })
            QVERIFY2(!page->findChild<QWidget *>(QString::fromLatin1(name))->isEnabled(), name);
        QVERIFY(page->seekSlider()->isEnabled());
        child<QPushButton>("stop_pushButton")->click();
        QCOMPARE(page->currentState(), 0);
        QVERIFY(!page->currentEngine());
        for (const char *name : { "ipConfig_checkBox", "bitrate_line", "RTPEna" })
            QVERIFY2(page->findChild<QWidget *>(QString::fromLatin1(name))->isEnabled(), name);
        // "Same as modulator" stays checked: the own address and port stay locked.
        QVERIFY(!child<QLineEdit>("address_lineEdit")->isEnabled());
        QVERIFY(!page->seekSlider()->isEnabled());
    } else {
        QCOMPARE(prompts->boxes.size(), 1);
        QCOMPARE(prompts->boxes.first().icon, QMessageBox::Critical);
        QCOMPARE(prompts->boxes.first().title, QStringLiteral("Critical error"));
        QCOMPARE(prompts->boxes.first().text,
            QStringLiteral(
                "Bitrate calcul error. Please check the following condition : \n100 000 < bitrate < 65 000 000"));
    }
}

void tst_streamingpanel::addressCheckAtPlay()
{
    load(cbrPath);
    child<QLineEdit>("address_lineEdit")->setText(QStringLiteral("240.0.0.1"));
    child<QPushButton>("play_pause_pushButton")->click();
    QCOMPARE(page->currentState(), 0);
    QVERIFY(!page->currentEngine());
    QCOMPARE(prompts->boxes.size(), 1);
    QCOMPARE(prompts->boxes.first().title, QStringLiteral("Critical error"));
    QCOMPARE(prompts->boxes.first().text,
        QStringLiteral("IP Streaming Address Error. Please check the following condition : \n224.0.0.0 < IP Address < "
                       "239.255.255.255"));

    // With "Same as modulator" the own address is not looked at: the run goes to the device's.
    prompts->boxes.clear();
    aimAtReceiver();
    child<QPushButton>("play_pause_pushButton")->click();
    QCOMPARE(page->currentState(), 2);
    QVERIFY(prompts->boxes.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(receiver->hasPendingDatagrams(), 3000);
    QCOMPARE(receiver->pendingDatagramSize(), qint64(7 * 188));
    QByteArray datagram(7 * 188, 0);
    receiver->readDatagram(datagram.data(), datagram.size());
    // The file's first packet (the PAT) opens the stream.
    QCOMPARE(datagram.left(4), QByteArray::fromHex("47400010"));
}

void tst_streamingpanel::sameAsModulatorWithoutAddress()
{
    load(cbrPath);
    child<QCheckBox>("ipConfig_checkBox")->setChecked(true);
    child<QPushButton>("play_pause_pushButton")->click();
    QCOMPARE(page->currentState(), 0);
    QCOMPARE(prompts->boxes.size(), 1);
    QCOMPARE(prompts->boxes.first().title, QStringLiteral("Critical error"));
}

void tst_streamingpanel::loadShowsTrees()
{
    load(cbrPath);
    QCOMPARE(prompts->fileRequests.size(), 1);
    QCOMPARE(prompts->fileRequests.first().caption, QStringLiteral("Load transport file"));
    QCOMPARE(prompts->fileRequests.first().filter, QStringLiteral("TS files *.ts (*.ts)"));
    QVERIFY(prompts->boxes.isEmpty());
    QCOMPARE(child<QLineEdit>("file_lineEdit")->text(), cbrPath);
    QCOMPARE(page->currentFileSize(), quint64(470000));
    QCOMPARE(page->currentBitrate(), qint64(3760000));
    QCOMPARE(child<QLineEdit>("bitrate_line")->text(), QStringLiteral("3 760 000"));
    QCOMPARE(page->currentDuration(), qint64(1));
    QCOMPARE(page->seekSlider()->maximum(), 1);

    QCOMPARE(printed(page->fileModel()),
        QStringList({ "File informations", "  470 000 bytes", "  2 500 packets", "Computed bitrate",
            "  Raw bitrate = 3 760 000 bps" }));
    QVERIFY(!page->fileModel()->item(0)->isEditable());
    QVERIFY(child<QTreeView>("treeView")->isExpanded(page->fileModel()->index(1, 0)));

    // Program: PMT 1 + video 1249 + audio 1249 of 2500 packets at 3.76 Mbit/s = 3 758 496 bit/s.
    const QStringList programLines = printed(page->programModel());
    QCOMPARE(programLines.first(), QStringLiteral("Transport Stream ID 0"));
    QCOMPARE(programLines.at(1), QStringLiteral("  Program Stream (No name found) - Program Number : 1 (3.758 Mbps)"));
    QVERIFY(programLines.contains(QStringLiteral("    Program Provider : Not found")));
    QVERIFY(programLines.contains(QStringLiteral("    Access Control : Unscrambled")));
    QVERIFY(programLines.contains(QStringLiteral("    Program PCR PID : 256")));
    QVERIFY(programLines.contains(QStringLiteral("    Program PID : 4096 (1.504 Kbps)")));
    QVERIFY(programLines.contains(QStringLiteral("      Bitrate : 1.878 Mbps")));

    // PIDs ascending; 1249 of 2500 packets = 1 878 496 bit/s, 1 of 2500 = 1504 bit/s.
    const QStringList pidLines = printed(page->pidModel());
    QCOMPARE(pidLines.at(0), QStringLiteral("0 - (1.504 Kbps)"));
    QCOMPARE(pidLines.at(1), QStringLiteral("  PAT"));
    QCOMPARE(pidLines.at(2), QStringLiteral("256 - (1.878 Mbps)"));
    QCOMPARE(pidLines.at(4), QStringLiteral("257 - (1.878 Mbps)"));
    QCOMPARE(pidLines.at(6), QStringLiteral("4096 - (1.504 Kbps)"));
    QCOMPARE(pidLines.at(7), QStringLiteral("  PMT - Program Number : 1"));
    QCOMPARE(pidLines.size(), 8);

    // A bitrate edit that passes the checks rebuilds the per-PID rates at Play.
    aimAtReceiver();
    child<QLineEdit>("bitrate_line")->setText(QStringLiteral("7520000"));
    child<QPushButton>("play_pause_pushButton")->click();
    QCOMPARE(page->currentState(), 2);
    QCOMPARE(printed(page->pidModel()).at(2), QStringLiteral("256 - (3.757 Mbps)"));
    // The file tree keeps the measured figure.
    QCOMPARE(printed(page->fileModel()).at(4), QStringLiteral("  Raw bitrate = 3 760 000 bps"));
}

void tst_streamingpanel::loadWithoutPcr()
{
    load(writeFile(cbrStream(false)));
    QCOMPARE(prompts->boxes.size(), 1);
    QCOMPARE(prompts->boxes.first().icon, QMessageBox::Warning);
    QCOMPARE(prompts->boxes.first().title, QStringLiteral("Warning"));
    QCOMPARE(prompts->boxes.first().text,
        QStringLiteral("No PCR detected, please enter bitrate manualy. Default bitrate value is : 10 Mbps"));
    QCOMPARE(printed(page->fileModel()).at(4), QStringLiteral("  No PCR detected"));
    QCOMPARE(page->currentBitrate(), qint64(10000000));
    QCOMPARE(child<QLineEdit>("bitrate_line")->text(), QStringLiteral("10 000 000"));
    // 3 760 000 bits / 10 000 000 bit/s, integer division.
    QCOMPARE(page->currentDuration(), qint64(0));
    QVERIFY(printed(page->programModel()).contains(QStringLiteral("    Program PCR PID : No PCR")));
    // Audio: 1249 of 2500 at the default 10 Mbit/s = 4 996 000 bit/s.
    QCOMPARE(printed(page->pidModel()).at(4), QStringLiteral("257 - (4.996 Mbps)"));
}

void tst_streamingpanel::loadRefusedKeepsPrevious()
{
    load(cbrPath);
    load(dir.filePath(QStringLiteral("missing.ts")));
    QCOMPARE(prompts->boxes.size(), 1);
    QCOMPARE(prompts->boxes.first().title, QStringLiteral("Critical error"));
    QCOMPARE(prompts->boxes.first().text, QStringLiteral("Unable to open transport stream file"));
    QCOMPARE(page->currentFileName(), cbrPath);
    QCOMPARE(child<QLineEdit>("file_lineEdit")->text(), cbrPath);
    QCOMPARE(printed(page->fileModel()).at(1), QStringLiteral("  470 000 bytes"));
    // The next dialog starts at the loaded file; a cancelled dialog changes nothing.
    child<QPushButton>("file_pushButton")->click();
    QCOMPARE(prompts->fileRequests.last().directory, cbrPath);
    QCOMPARE(page->currentFileName(), cbrPath);
}

void tst_streamingpanel::pageAgreesWithTool()
{
    const QString tool = qEnvironmentVariable("NERIO_BIN_DIR") + QStringLiteral("/nerio-ts");
    if (!QFileInfo(tool).isExecutable())
        QSKIP("nerio-ts is not built");
    QProcess analyze;
    analyze.start(tool, { QStringLiteral("analyze"), cbrPath });
    QVERIFY(analyze.waitForFinished(20000));
    QCOMPARE(analyze.exitCode(), 0);
    const QStringList toolLines = QString::fromUtf8(analyze.readAllStandardOutput()).split(QLatin1Char('\n'));

    load(cbrPath);
    const QStringList pageLines = printed(page->fileModel()) + QStringList { QString() } + printed(page->programModel())
        + QStringList { QString() } + printed(page->pidModel()) + QStringList { QString() };
    QCOMPARE(pageLines, toolLines);
}

void tst_streamingpanel::playPauseDragStop()
{
    load(cbrPath);
    aimAtReceiver();
    child<QLineEdit>("bitrate_line")->setText(QStringLiteral("100000")); // 37 s of stream
    auto *play = child<QPushButton>("play_pause_pushButton");
    streamingQSlider *slider = page->seekSlider();
    QSignalSpy seeks(page, &streamingpanel::moveSliderAllowed);

    play->click();
    QCOMPARE(page->currentState(), 2);
    QVERIFY(page->currentEngine());
    QVERIFY(!page->currentEngine()->isPaused());
    QCOMPARE(slider->maximum(), 37);

    play->click(); // pause
    QCOMPARE(page->currentState(), 1);
    QCOMPARE(play->toolTip(), QStringLiteral("Play"));
    QVERIFY(play->graphicsEffect());
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

    play->click(); // resume
    QCOMPARE(page->currentState(), 2);
    QCOMPARE(play->toolTip(), QStringLiteral("Pause"));
    QVERIFY(!play->graphicsEffect());
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
    QCOMPARE(child<QLabel>("negCurrentTime_label")->text(),
        QLatin1Char('-') + streamingQSlider::timeText(quint64(37 - shown)));

    play->click(); // pause, then stop from paused
    QCOMPARE(page->currentState(), 1);
    child<QPushButton>("stop_pushButton")->click();
    QCOMPARE(page->currentState(), 0);
    QVERIFY(!page->currentEngine());
    QVERIFY(!play->graphicsEffect());
    QCOMPARE(play->toolTip(), QStringLiteral("Play"));
    QCOMPARE(child<QLabel>("posCurrentTime_label")->text(), QStringLiteral("00:00:00"));
    // Stop again: nothing to do.
    child<QPushButton>("stop_pushButton")->click();
    QCOMPARE(page->currentState(), 0);
}

void tst_streamingpanel::endOfFileStopsOnlyAPlayingRun()
{
    load(cbrPath);
    aimAtReceiver();
    child<QLineEdit>("bitrate_line")->setText(QStringLiteral("100000"));
    auto *play = child<QPushButton>("play_pause_pushButton");
    play->click();
    play->click();
    QCOMPARE(page->currentState(), 1);
    // A late end-of-file notice while paused is ignored.
    QVERIFY(QMetaObject::invokeMethod(page, "loopDisable_StopStreaming"));
    QCOMPARE(page->currentState(), 1);
    QVERIFY(page->currentEngine());
    child<QPushButton>("stop_pushButton")->click();

    // At the file's own bitrate the one-second file ends by itself and the page stops.
    child<QLineEdit>("bitrate_line")->setText(QStringLiteral("3760000"));
    play->click();
    QCOMPARE(page->currentState(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(page->currentState(), 0, 8000);
    QVERIFY(!page->currentEngine());

    // With the loop on, the end of the file is passed through.
    child<QPushButton>("loop_pushButton")->click();
    play->click();
    QTest::qWait(2500);
    QCOMPARE(page->currentState(), 2);
    child<QPushButton>("stop_pushButton")->click();
}

void tst_streamingpanel::loopButton()
{
    auto *loop = child<QPushButton>("loop_pushButton");
    loop->click();
    QCOMPARE(page->currentLoopState(), 0);
    QCOMPARE(loop->toolTip(), QStringLiteral("Loop enable"));
    loop->click();
    QCOMPARE(page->currentLoopState(), 1);
    QCOMPARE(loop->toolTip(), QStringLiteral("Loop disable"));
}

void tst_streamingpanel::wheelSeeks()
{
    load(cbrPath);
    aimAtReceiver();
    child<QLineEdit>("bitrate_line")->setText(QStringLiteral("100000")); // 37 s: a notch is 37 / 40 = 0
    child<QPushButton>("play_pause_pushButton")->click();
    streamingQSlider *slider = page->seekSlider();
    slider->setMaximum(400); // a notch of 10
    slider->setValue(395);
    QSignalSpy seeks(page, &streamingpanel::moveSliderAllowed);
    auto wheel = [&](int delta) {
        QWheelEvent event(QPointF(5, 5), slider->mapToGlobal(QPoint(5, 5)), QPoint(), QPoint(0, delta), Qt::NoButton,
            Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(slider, &event);
    };
    wheel(120);
    QCOMPARE(slider->value(), 400);
    wheel(-120);
    QCOMPARE(slider->value(), 390);
    slider->setValue(4);
    wheel(-120);
    QCOMPARE(slider->value(), 0);
    QCOMPARE(seeks.count(), 3);
    QCOMPARE(seeks.at(0).at(0).toInt(), 400);
    QCOMPARE(seeks.at(1).at(0).toInt(), 390);
    QCOMPARE(seeks.at(2).at(0).toInt(), 0);
    child<QPushButton>("stop_pushButton")->click();
}

void tst_streamingpanel::testingOptionsReachThePage()
{
    streamingmisc testing(window);
    connect(&testing, &streamingmisc::streamToolsOptionsChanged, page, &streamingpanel::setNewStreamingTools);
    testing.findChild<QCheckBox *>(QStringLiteral("CC_Correction"))->setChecked(false);
    testing.findChild<QLineEdit *>(QStringLiteral("scramblingGap"))->setText(QStringLiteral("12"));
    testing.findChild<QLineEdit *>(QStringLiteral("PIDnumber"))->setText(QStringLiteral("256"));
    QCOMPARE(page->currentTools().getCCcorrection(), false);
    QCOMPARE(page->currentTools().getScramblingGap(), qint64(12));
    QCOMPARE(page->currentTools().getPIDnumber(), quint16(256));
    // The page keeps its own copy.
    QVERIFY(&page->currentTools() != &testing.options());

    // Received during a run, the record reaches the run without disturbing it.
    load(cbrPath);
    aimAtReceiver();
    child<QPushButton>("play_pause_pushButton")->click();
    testing.findChild<QCheckBox *>(QStringLiteral("ScramblingEna"))->setChecked(true);
    QCOMPARE(page->currentTools().getScramblingEna(), true);
    QCOMPARE(page->currentState(), 2);
    child<QPushButton>("stop_pushButton")->click();
}

void tst_streamingpanel::mainWindowWiresTheTestingPage()
{
    MainWindowImpl main;
    main.testingPage()->findChild<QCheckBox *>(QStringLiteral("Start_Synchro"))->setChecked(false);
    main.testingPage()->findChild<QLineEdit *>(QStringLiteral("successiveScram"))->setText(QStringLiteral("3"));
    QCOMPARE(main.streamingPage()->currentTools().getSTARTcorrection(), false);
    QCOMPARE(main.streamingPage()->currentTools().getSuccessiveScramblingPackets(), qint64(3));
}

QTEST_MAIN(tst_streamingpanel)
#include "tst_streamingpanel.moc"
