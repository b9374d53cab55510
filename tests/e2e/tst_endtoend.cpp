// The product as an operator meets it, against nerio-emulator on the far side of a veth pair: run by
// run-endtoend.sh inside the "app" network namespace, never on its own.
//
// Connect and log in, read identity and parameters, apply a changed parameter set (checked in the
// emulator's own state file), load a CBR transport stream, play it to the modulator's IP input with
// "Same as modulator", and check the Configuration page: IP input locked on 188-byte packets and a raw
// bitrate within 1 % of the file's; then pause, seek, resume and stop.
//
// Environment: E2E_SERIAL (pseudo-terminal) or E2E_TELNET (address), E2E_STATE (emulator state file),
// E2E_WIRELOG (emulator --log file), E2E_TS (the stream), E2E_MUXRATE (its nominal bitrate, bit/s).

#include "configurationpanel.h"
#include "mainwindowimpl.h"
#include "mux.h"
#include "promptrecorder.h"
#include "streamingpanel.h"
#include "streamingqslider.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

namespace
{
const QString LOCKED_188_TIP = QStringLiteral("Locked (188 bytes packets)");
const QString NO_DATA_TIP = QStringLiteral("Loss of signal");

QString env(const char *name)
{
    return qEnvironmentVariable(name);
}

QJsonObject deviceState()
{
    QFile file(env("E2E_STATE"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

// The latest "IP input status" line the emulator wrote on the wire.
QString lastWireStatus()
{
    QFile file(env("E2E_WIRELOG"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString log = QString::fromUtf8(file.readAll());
    const QRegularExpression line(QStringLiteral("IP input status : ([^\\\\\\r\\n]*)"));
    QString last;
    for (auto it = line.globalMatch(log); it.hasNext();)
        last = it.next().captured(1);
    return last;
}

double mbps(const QString &labelText)
{
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^\\s*([0-9]+(\\.[0-9]+)?)")).match(labelText);
    return m.hasMatch() ? m.captured(1).toDouble() : -1.0;
}

quint64 seconds(const QString &hhmmss)
{
    const QStringList parts = hhmmss.split(QLatin1Char(':'));
    return parts.size() == 3 ? parts[0].toULongLong() * 3600 + parts[1].toULongLong() * 60 + parts[2].toULongLong() : 0;
}
} // namespace

class tst_endtoend : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void connectAndLogIn();
    void identityAndParameters();
    void applyChangedParameterSet();
    void playToSameAsModulator();
    void pauseSeekResumeStop();

private:
    template <typename T> T *find(QWidget *in, const char *name)
    {
        T *w = in->findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no child %s", name);
        return w;
    }
    QLabel *ipIndicator() { return find<QLabel>(config, "IPOK"); }

    PromptRecorder *prompts = nullptr;
    MainWindowImpl *window = nullptr;
    ConfigurationPanel *config = nullptr;
    streamingpanel *page = nullptr;
    QString group;
    QString port;
};

void tst_endtoend::initTestCase()
{
    if (env("E2E_SERIAL").isEmpty() && env("E2E_TELNET").isEmpty())
        QSKIP("run through tests/e2e/run-endtoend.sh, which builds the network namespaces");
    QVERIFY(QFile::exists(env("E2E_TS")));
    prompts = new PromptRecorder;
    window = new MainWindowImpl;
    window->startApplication();
    config = window->configurationPanel();
    page = window->streamingPage();
}

void tst_endtoend::cleanupTestCase()
{
    if (config && config->isPolling())
        config->on_loginButton_clicked(); // disconnect
    delete window;
    if (prompts) {
        for (const UiPrompts::Box &box : qAsConst(prompts->boxes))
            qInfo() << "message box:" << box.title << box.text;
    }
    delete prompts;
}

void tst_endtoend::connectAndLogIn()
{
    if (!env("E2E_SERIAL").isEmpty())
        config->setCOMPort(env("E2E_SERIAL"));
    else
        config->setIPAddress(env("E2E_TELNET"));
    auto *login = find<QPushButton>(config, "loginButton");
    QVERIFY(login->isEnabled());
    login->click();
    QTRY_VERIFY_WITH_TIMEOUT(login->toolTip().endsWith(QStringLiteral("Click to disconnect")), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(config->isPolling(), 10000);
    QVERIFY2(prompts->boxes.isEmpty(), qPrintable(prompts->boxes.value(0).text));
}

void tst_endtoend::identityAndParameters()
{
    // The emulator's identity (its defaults) and the parameters it holds now.
    QTRY_COMPARE_WITH_TIMEOUT(find<QLabel>(config, "serialLabel")->text(), QStringLiteral("NR0042"), 10000);
    QCOMPARE(find<QLabel>(config, "typeLabel")->text(), QStringLiteral("Nerio DVB-T modulator"));
    QCOMPARE(config->serialNumberText(), QStringLiteral("NR0042"));
    const QJsonObject state = deviceState();
    QTRY_COMPARE_WITH_TIMEOUT(
        config->multicastAddressText(), state.value(QStringLiteral("ipMulticastAddress")).toString(), 10000);
    QCOMPARE(config->portText(), QString::number(state.value(QStringLiteral("ipPort")).toInt()));
    const Mux *codeRate = config->selectors().at(2);
    QCOMPARE(codeRate->items.value(codeRate->index), state.value(QStringLiteral("codeRate")).toString());
    const Mux *guard = config->selectors().at(3);
    QCOMPARE(guard->items.value(guard->index), state.value(QStringLiteral("guardInterval")).toString());
}

void tst_endtoend::applyChangedParameterSet()
{
    Mux *codeRate = config->selectors().at(2);
    Mux *guard = config->selectors().at(3);
    codeRate->nextStatus();
    guard->nextStatus();
    const QString newCodeRate = codeRate->items.value(codeRate->index);
    const QString newGuard = guard->items.value(guard->index);
    // A group of its own for each run, so the lock seen later can only come from this one.
    group = config->multicastAddressText() == QLatin1String("239.77.1.2") ? QStringLiteral("239.77.1.3")
                                                                          : QStringLiteral("239.77.1.2");
    port = QStringLiteral("5004");
    config->setIPConfig(group, port, false);
    find<QPushButton>(config, "applyConfigButton")->click();

    QTRY_COMPARE_WITH_TIMEOUT(deviceState().value(QStringLiteral("ipMulticastAddress")).toString(), group, 20000);
    const QJsonObject state = deviceState();
    QCOMPARE(state.value(QStringLiteral("codeRate")).toString(), newCodeRate);
    QCOMPARE(state.value(QStringLiteral("guardInterval")).toString(), newGuard);
    QCOMPARE(state.value(QStringLiteral("ipPort")).toInt(), 5004);
    QCOMPARE(state.value(QStringLiteral("ipAddressingMethod")).toString(), QStringLiteral("multicast"));
    // The page reads the device back after applying.
    QTRY_COMPARE_WITH_TIMEOUT(config->multicastAddressText(), group, 10000);
    QCOMPARE(config->portText(), port);
    QVERIFY2(prompts->boxes.isEmpty(), qPrintable(prompts->boxes.value(0).text));
}

void tst_endtoend::playToSameAsModulator()
{
    prompts->fileAnswers << env("E2E_TS");
    find<QPushButton>(page, "file_pushButton")->click();
    QVERIFY2(prompts->boxes.isEmpty(), qPrintable(prompts->boxes.value(0).text));
    const double muxrate = env("E2E_MUXRATE").toDouble();
    const double fileBitrate = double(page->currentBitrate());
    qInfo() << "file bitrate measured by the page:" << page->currentBitrate() << "bit/s, nominal" << muxrate;
    // The PCR measurement against the encoder's nominal rate.
    QVERIFY(qAbs(fileBitrate - muxrate) <= muxrate * 0.005);

    find<QCheckBox>(page, "ipConfig_checkBox")->setChecked(true);
    find<QPushButton>(page, "loop_pushButton")->click(); // a long check must not end with the file
    find<QPushButton>(page, "play_pause_pushButton")->click();
    QCOMPARE(page->currentState(), int(streamingpanel::Playing));

    // Readings arrive once a second; the emulator counts the packets of the last second.
    QLabel *raw = find<QLabel>(config, "rawbitrate");
    QElapsedTimer clock;
    clock.start();
    QStringList readings;
    bool within = false;
    QString lastShown;
    while (!within && clock.elapsed() < 20000) {
        QTest::qWait(200);
        if (raw->text() == lastShown)
            continue;
        lastShown = raw->text();
        readings << lastShown + QLatin1Char('/') + ipIndicator()->toolTip();
        const double shown = mbps(lastShown) * 1e6;
        within = ipIndicator()->toolTip() == LOCKED_188_TIP && qAbs(shown - fileBitrate) <= fileBitrate * 0.01;
    }
    qInfo() << "raw bitrate readings on the Configuration page:" << readings;
    QVERIFY2(within, qPrintable(readings.join(QStringLiteral(" | "))));
    QCOMPARE(lastWireStatus(), QStringLiteral("Locked on 188 bytes packets"));
    QCOMPARE(ipIndicator()->toolTip(), LOCKED_188_TIP);
}

void tst_endtoend::pauseSeekResumeStop()
{
    auto *play = find<QPushButton>(page, "play_pause_pushButton");
    streamingQSlider *slider = page->seekSlider();
    QSignalSpy seeks(page, &streamingpanel::moveSliderAllowed);

    play->click();
    QCOMPARE(page->currentState(), int(streamingpanel::Paused));
    // Nothing reaches the device while paused: a second without data reads "No data".
    QTRY_COMPARE_WITH_TIMEOUT(ipIndicator()->toolTip(), NO_DATA_TIP, 5000);
    QCOMPARE(lastWireStatus(), QStringLiteral("No data"));

    // Seek to about two thirds of the file, still paused.
    const int x = slider->width() * 2 / 3;
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(x, 10));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(x, 10));
    QCOMPARE(page->currentState(), int(streamingpanel::Paused));
    QCOMPARE(seeks.count(), 1);
    const int target = seeks.at(0).at(0).toInt();
    QVERIFY(target > 0 && target <= page->currentDuration());

    play->click();
    QCOMPARE(page->currentState(), int(streamingpanel::Playing));
    QTRY_COMPARE_WITH_TIMEOUT(ipIndicator()->toolTip(), LOCKED_188_TIP, 5000);
    // The run reports positions from the sought place on.
    auto *elapsed = find<QLabel>(page, "posCurrentTime_label");
    QTRY_VERIFY_WITH_TIMEOUT(seconds(elapsed->text()) >= quint64(target), 5000);
    QVERIFY(seconds(elapsed->text()) <= quint64(target) + 5);

    find<QPushButton>(page, "stop_pushButton")->click();
    QCOMPARE(page->currentState(), int(streamingpanel::Stopped));
    QVERIFY(!page->currentEngine());
    QTRY_COMPARE_WITH_TIMEOUT(ipIndicator()->toolTip(), NO_DATA_TIP, 5000);
    QVERIFY2(prompts->boxes.isEmpty(), qPrintable(prompts->boxes.value(0).text));
}

QTEST_MAIN(tst_endtoend)
#include "tst_endtoend.moc"
