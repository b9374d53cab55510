// The product as an operator meets it, against nerio-emulator on the far side of a veth pair: run by
// run-endtoend.sh inside the "app" network namespace, never on its own.
//
// Started with --network: connect and log in (over telnet, the modulator chosen in the IP login dialog
// from the discovery answers), read the device's parameters, set group and port in the IP input dialog
// and apply a changed parameter set (checked in the emulator's own state file), load a CBR transport
// stream, play it to the modulator's IP input with "Same as modulator", and check the Configuration page:
// IP input locked on 188-byte packets and a raw bitrate within 1 % of the file's, the Streaming page's
// chart showing the same; then pause, seek, resume and stop.
//
// Environment: E2E_SERIAL (pseudo-terminal) or E2E_TELNET (the address discovery must find), E2E_STATE
// (emulator state file), E2E_TS (the stream).

#include "commandline.h"
#include "configurationpanel.h"
#include "dialogip.h"
#include "dialogloginip.h"
#include "mainwindowimpl.h"
#include "mux.h"
#include "promptrecorder.h"
#include "streamchart.h"
#include "streamingpanel.h"
#include "streamingqslider.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtTest>

namespace
{
const QString LOCKED_188_TIP = QStringLiteral("Locked (188 bytes packets)");
const QString NO_DATA_TIP = QStringLiteral("Loss of signal");

// The visible dialog of that class the page opened.
template <typename D> D *shownDialog()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<D *>(w); d && d->isVisible())
            return d;
    return nullptr;
}

QString stateValue(const char *key)
{
    QFile file(qEnvironmentVariable("E2E_STATE"));
    const QJsonObject state
        = file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    return state.value(QLatin1String(key)).toVariant().toString();
}
} // namespace

class tst_endtoend : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void connectReadAndApply();
    void playPauseSeekResumeStop();

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
};

void tst_endtoend::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("E2E_SERIAL") && qEnvironmentVariableIsEmpty("E2E_TELNET"))
        QSKIP("run through tests/e2e/run-endtoend.sh, which builds the network namespaces");
    prompts = new PromptRecorder;
    window = new MainWindowImpl;
    CommandLine line;
    StartOptions options;
    QString message;
    QStringList arguments { "nerio-control", "--network" };
    if (!qEnvironmentVariableIsEmpty("E2E_SERIAL"))
        arguments << "--serial-port" << qEnvironmentVariable("E2E_SERIAL");
    QVERIFY(line.parser.parse(arguments) && line.read(&options, &message));
    window->applyStartOptions(options);
    window->startApplication();
    config = window->configurationPanel();
    page = window->streamingPage();
}

void tst_endtoend::cleanupTestCase()
{
    if (config && config->isPolling())
        config->on_loginButton_clicked(); // disconnect
    delete window;
    delete prompts;
}

void tst_endtoend::connectReadAndApply()
{
    if (!qEnvironmentVariableIsEmpty("E2E_TELNET")) {
        // The modulator as discovery finds it on the other side of the veth pair.
        find<QPushButton>(config, "loginIPButton")->click();
        DialogLoginIp *login = shownDialog<DialogLoginIp>();
        QVERIFY(login);
        auto *hosts = find<QComboBox>(login, "interfaceComboBox");
        const QString found = qEnvironmentVariable("E2E_TELNET") + " (02-4E-52-00-00-2A)";
        QTRY_COMPARE_WITH_TIMEOUT(hosts->currentText(), found, 5000);
        find<QPushButton>(login, "okButton")->click();
    }
    find<QPushButton>(config, "loginButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(config->isPolling(), 25000);
    // The emulator's identity, and the IP parameters its state file holds now.
    QTRY_COMPARE_WITH_TIMEOUT(find<QLabel>(config, "serialLabel")->text(), QStringLiteral("NR0042"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(config->multicastAddressText(), stateValue("ipMulticastAddress"), 10000);

    // A changed parameter set, applied, lands in the device's state file.
    Mux *codeRate = config->selectors().at(2);
    Mux *guard = config->selectors().at(3);
    codeRate->nextStatus();
    guard->nextStatus();
    const QString chosen = codeRate->items.value(codeRate->index) + ' ' + guard->items.value(guard->index);
    // A group of its own for each run, so the lock seen later can only come from this one.
    const QString group = config->multicastAddressText() == QLatin1String("239.77.1.2") ? QStringLiteral("239.77.1.3")
                                                                                        : QStringLiteral("239.77.1.2");
    find<QPushButton>(config, "IPButton")->click();
    DialogIp *input = shownDialog<DialogIp>();
    QVERIFY(input);
    find<QRadioButton>(input, "multiButton")->click();
    find<QLineEdit>(input, "IPLineEdit")->setText(group);
    find<QLineEdit>(input, "portLineEdit")->setText(QStringLiteral("5004"));
    find<QPushButton>(input, "okButton")->click();
    QCOMPARE(config->multicastAddressText() + ':' + config->portText(), group + QStringLiteral(":5004"));
    find<QPushButton>(config, "applyConfigButton")->click();

    QTRY_COMPARE_WITH_TIMEOUT(stateValue("ipMulticastAddress"), group, 20000);
    QCOMPARE(stateValue("codeRate") + ' ' + stateValue("guardInterval"), chosen);
    QCOMPARE(stateValue("ipPort"), QStringLiteral("5004"));
    QVERIFY2(prompts->boxes.isEmpty(), qPrintable(prompts->boxes.value(0).text));
}

void tst_endtoend::playPauseSeekResumeStop()
{
    prompts->fileAnswers << qEnvironmentVariable("E2E_TS");
    find<QPushButton>(page, "file_pushButton")->click();
    QVERIFY2(prompts->boxes.isEmpty(), qPrintable(prompts->boxes.value(0).text));
    // Measured from the PCRs (checked against the encoder's rate by the nerio-ts tests).
    const double fileBitrate = double(page->currentBitrate());
    qInfo() << "file bitrate measured by the page:" << page->currentBitrate() << "bit/s";

    find<QCheckBox>(page, "ipConfig_checkBox")->setChecked(true);
    find<QPushButton>(page, "loop_pushButton")->click(); // a long check must not end with the file
    auto *play = find<QPushButton>(page, "play_pause_pushButton");
    play->click();
    QCOMPARE(page->currentState(), int(streamingpanel::Playing));

    // Readings arrive once a second; the emulator counts the packets of the last second.
    QLabel *raw = find<QLabel>(config, "rawbitrate"); // "4.000 Mbps (Raw)"
    const auto shownBps = [raw] { return raw->text().section(QLatin1Char('M'), 0, 0).toDouble() * 1e6; };
    QTRY_VERIFY2_WITH_TIMEOUT(
        ipIndicator()->toolTip() == LOCKED_188_TIP && qAbs(shownBps() - fileBitrate) <= fileBitrate * 0.01,
        qPrintable(raw->text() + QStringLiteral(" / ") + ipIndicator()->toolTip()), 20000);
    qInfo() << "raw bitrate on the Configuration page:" << raw->text();
    // The Streaming page's chart has followed from the polls: sent and reported rates near the file's, locked.
    streamchart *chart = page->healthChart();
    const auto lastBps = [](const QLineSeries *series) {
        return series && series->count() ? series->at(series->count() - 1).y() * 1e6 : -1.0;
    };
    const auto lastDeviceBps
        = [&] { return chart->deviceSeries().isEmpty() ? -1 : lastBps(chart->deviceSeries().last()); };
    QTRY_VERIFY2_WITH_TIMEOUT(qAbs(lastDeviceBps() - fileBitrate) <= fileBitrate * 0.01
            && qAbs(lastBps(chart->sentSeries()) - fileBitrate) <= fileBitrate * 0.05
            && chart->lockedSeries()->count() > 0,
        qPrintable(QStringLiteral("%1 %2").arg(lastDeviceBps()).arg(lastBps(chart->sentSeries()))), 5000);

    play->click();
    QCOMPARE(page->currentState(), int(streamingpanel::Paused));
    // Nothing reaches the device while paused: a second without data reads "No data".
    QTRY_COMPARE_WITH_TIMEOUT(ipIndicator()->toolTip(), NO_DATA_TIP, 5000);
    // On the chart too: nothing sent, the input not locked.
    QTRY_VERIFY_WITH_TIMEOUT(lastBps(chart->sentSeries()) == 0 && chart->notLockedSeries()->count() > 0, 5000);

    // Seek to about two thirds of the file, still paused; resumed from there, the device locks again.
    streamingQSlider *slider = page->seekSlider();
    QSignalSpy seeks(page, &streamingpanel::moveSliderAllowed);
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(slider->width() * 2 / 3, 10));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->width() * 2 / 3, 10));
    QCOMPARE(seeks.count(), 1);
    play->click();
    QCOMPARE(page->currentState(), int(streamingpanel::Playing));
    QTRY_COMPARE_WITH_TIMEOUT(ipIndicator()->toolTip(), LOCKED_188_TIP, 5000);

    find<QPushButton>(page, "stop_pushButton")->click();
    QCOMPARE(page->currentState(), int(streamingpanel::Stopped));
    QVERIFY(!page->currentEngine());
    QTRY_COMPARE_WITH_TIMEOUT(ipIndicator()->toolTip(), NO_DATA_TIP, 5000);
    QVERIFY2(prompts->boxes.isEmpty(), qPrintable(prompts->boxes.value(0).text));
}

QTEST_MAIN(tst_endtoend)
#include "tst_endtoend.moc"
