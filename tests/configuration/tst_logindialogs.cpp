// The Configuration page's IP input, serial login and IP login dialogs, opened through the panel's own
// buttons' slots: shared frame, field marks, what OK stores and what the panel refuses. The IP login
// dialog broadcasts a discovery, so its tests run in a network namespace of their own, which this
// program creates by running itself again under unshare; there a nerio-emulator answers the discovery
// and takes the telnet login on port 23.

#include "configurationpanel.h"
#include "dialogip.h"
#include "dialogloginip.h"
#include "dialogloginserial.h"
#include "promptrecorder.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPortInfo>
#include <QtTest>

#include <unistd.h>

namespace
{
const char *const CHILD_ENV = "NERIO_LOGIN_NS_CHILD";

template <typename D> D *openDialog()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *d = qobject_cast<D *>(w); d && d->isVisible())
            return d;
    }
    return nullptr;
}

template <typename T> T *child(QWidget *parent, const char *name)
{
    T *w = parent->findChild<T *>(QLatin1String(name));
    if (!w)
        qFatal("missing widget %s", name);
    return w;
}

QStringList comboItems(QComboBox *combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

void enterText(QLineEdit *edit, const QString &text)
{
    edit->setText(text);
    QTest::keyClick(edit, Qt::Key_Return);
}

// A dialog of the page: frameless, translucent corners, fixed designed size, application-modal.
void checkFrame(QDialog *dialog, const QSize &designed)
{
    QVERIFY(dialog->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(dialog->testAttribute(Qt::WA_TranslucentBackground));
    QCOMPARE(dialog->minimumSize(), designed);
    QCOMPARE(dialog->maximumSize(), designed);
    QCOMPARE(child<QFrame>(dialog, "mainFrame")->styleSheet(),
        QString("#mainFrame { background-color : #f0f0f0; border : 2px solid #717171; border-radius : 10px;}"));
    QCOMPARE(child<QPushButton>(dialog, "closeButton")->toolTip(), QString("Close"));
    QCOMPARE(child<QPushButton>(dialog, "okButton")->toolTip(), QString("Apply changes"));
    QCOMPARE(child<QPushButton>(dialog, "cancelButton")->toolTip(), QString("Get current configuration"));
}
}

class TstLoginDialogs : public QObject
{
    Q_OBJECT
private slots:
    void ipDialogMarks_data();
    void ipDialogMarks();
    void ipDialogOk_data();
    void ipDialogOk();
    void ipDialogUnicast();
    void serialDialog();
    void loginIpInNamespace();
};

void TstLoginDialogs::ipDialogMarks_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("addressValid");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("portValid");

    QTest::newRow("group, port") << "239.1.2.3" << true << "1234" << true;
    QTest::newRow("lowest group, lowest port") << "224.0.0.0" << true << "1024" << true;
    QTest::newRow("highest group, highest port") << "239.255.255.255" << true << "65535" << true;
    QTest::newRow("unicast address, port 1023") << "192.168.1.10" << false << "1023" << false;
    QTest::newRow("above the groups, one past the ports") << "240.0.0.1" << false << "65536" << false;
    QTest::newRow("three parts, five digits") << "239.1.2" << false << "99999" << false;
}

void TstLoginDialogs::ipDialogMarks()
{
    QFETCH(QString, address);
    QFETCH(bool, addressValid);
    QFETCH(QString, port);
    QFETCH(bool, portValid);
    ConfigurationPanel panel;
    panel.configIP();
    QPointer<DialogIp> dialog = openDialog<DialogIp>();
    QVERIFY(dialog);
    checkFrame(dialog, QSize(380, 260));
    QCOMPARE(dialog->windowModality(), Qt::ApplicationModal);
    QCOMPARE(child<QLabel>(dialog, "WindowTitle")->text(), QString("IP Configuration"));

    enterText(child<QLineEdit>(dialog, "IPLineEdit"), address);
    enterText(child<QLineEdit>(dialog, "portLineEdit"), port);
    QLabel *checkIP = child<QLabel>(dialog, "checkIP");
    QLabel *checkPort = child<QLabel>(dialog, "checkPort");
    QCOMPARE(checkIP->text(), QString(addressValid ? "Valid Address" : "Invalid Address"));
    QCOMPARE(checkIP->styleSheet(),
        QString(addressValid ? "#checkIP {font-weight: bold; color: #0a0;}"
                             : "#checkIP {font-weight: bold; color: #f00;}"));
    QCOMPARE(checkPort->text(), QString(portValid ? "Valid Port" : "Invalid Port"));
    QCOMPARE(checkPort->styleSheet(),
        QString(portValid ? "#checkPort {font-weight: bold; color: #0a0;}"
                          : "#checkPort {font-weight: bold; color: #f00;}"));
    QCOMPARE(checkIP->x(), 175);
    QCOMPARE(checkPort->x(), 175);
    dialog->close();
    QTRY_VERIFY(dialog.isNull());
}

void TstLoginDialogs::ipDialogOk_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("refusal");

    QTest::newRow("valid") << "239.1.2.3"
                           << "1234"
                           << "";
    QTest::newRow("unicast address") << "192.168.1.10"
                                     << "1234"
                                     << "Invalid IP address. Changes were not applied.";
    QTest::newRow("port 99999") << "239.1.2.3"
                                << "99999"
                                << "Invalid port. Changes were not applied.";
}

void TstLoginDialogs::ipDialogOk()
{
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, refusal);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.setIPConfigFromDevice("multicast", "10.0.0.5", "239.0.0.1", "5000");
    panel.configIP();
    QPointer<DialogIp> dialog = openDialog<DialogIp>();
    QVERIFY(dialog);
    child<QLineEdit>(dialog, "IPLineEdit")->setText(address);
    child<QLineEdit>(dialog, "portLineEdit")->setText(port);
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());

    if (refusal.isEmpty()) {
        QVERIFY(prompts.boxes.isEmpty());
        QCOMPARE(panel.multicastAddressText(), address);
        QCOMPARE(panel.portText(), port);
        QCOMPARE(child<QLabel>(&panel, "IPLabel")->text(), address);
        QCOMPARE(child<QLabel>(&panel, "IPLabel2")->text(), "port : " + port);
        return;
    }
    QCOMPARE(prompts.boxes.size(), 1);
    QCOMPARE(prompts.boxes[0].icon, QMessageBox::Warning);
    QCOMPARE(prompts.boxes[0].title, QString("IP Status"));
    QCOMPARE(prompts.boxes[0].text, refusal);
    QCOMPARE(panel.multicastAddressText(), QString("239.0.0.1"));
    QCOMPARE(panel.portText(), QString("5000"));
    QCOMPARE(child<QLabel>(&panel, "IPLabel")->text(), QString("239.0.0.1"));
}

void TstLoginDialogs::ipDialogUnicast()
{
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.setIPConfigFromDevice("multicast", "10.0.0.5", "239.0.0.1", "5000");
    panel.configIP();
    QPointer<DialogIp> dialog = openDialog<DialogIp>();
    QVERIFY(dialog);
    QLineEdit *address = child<QLineEdit>(dialog, "IPLineEdit");
    QVERIFY(child<QRadioButton>(dialog, "multiButton")->isChecked());
    QVERIFY(address->isEnabled());
    QCOMPARE(address->text(), QString("239.0.0.1"));
    QCOMPARE(child<QLabel>(dialog, "checkIP")->text(), QString("Valid Address"));
    QCOMPARE(child<QLabel>(dialog, "checkPort")->text(), QString("Valid Port"));

    // Unicast puts the stored group back and locks the field.
    address->setText("239.9.9.9");
    QTest::mouseClick(child<QRadioButton>(dialog, "uniButton"), Qt::LeftButton);
    QCOMPARE(address->text(), QString("239.0.0.1"));
    QVERIFY(!address->isEnabled());
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
    QVERIFY(prompts.boxes.isEmpty());
    QVERIFY(panel.isUnicast());
    QCOMPARE(child<QLabel>(&panel, "IPLabel")->text(), QString("10.0.0.5"));

    // Reopened: unicast shown; back to multicast unlocks the field.
    panel.configIP();
    dialog = openDialog<DialogIp>();
    QVERIFY(dialog);
    QVERIFY(child<QRadioButton>(dialog, "uniButton")->isChecked());
    QVERIFY(!child<QLineEdit>(dialog, "IPLineEdit")->isEnabled());
    QTest::mouseClick(child<QRadioButton>(dialog, "multiButton"), Qt::LeftButton);
    QVERIFY(child<QLineEdit>(dialog, "IPLineEdit")->isEnabled());
    QTest::mouseClick(child<QPushButton>(dialog, "cancelButton"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
    QVERIFY(panel.isUnicast());
}

void TstLoginDialogs::serialDialog()
{
    ConfigurationPanel panel;
    panel.addPresetSerialPort("/dev/pts/77");
    panel.configSerialIP();
    QPointer<DialogLoginSerial> dialog = openDialog<DialogLoginSerial>();
    QVERIFY(dialog);
    checkFrame(dialog, QSize(380, 300));
    QCOMPARE(child<QLabel>(dialog, "WindowTitle")->text(), QString("Serial Configuration"));
    QVERIFY(!child<QPushButton>(dialog, "cryptoButton")->isEnabled());
    QStringList expected;
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        expected << port.portName();
    expected << "/dev/pts/77";
    QComboBox *ports = child<QComboBox>(dialog, "interfaceComboBox");
    QCOMPARE(comboItems(ports), expected);
    QCOMPARE(child<QLineEdit>(dialog, "loginLineEdit")->text(), QString("admin"));
    QCOMPARE(child<QLineEdit>(dialog, "passwordLineEdit")->text(), QString("korva"));

    // A typed port with a description keeps the name before the colon.
    ports->setEditText("ttyUSB0: FTDI adapter");
    child<QLineEdit>(dialog, "loginLineEdit")->setText("operator");
    child<QLineEdit>(dialog, "passwordLineEdit")->setText("s3cret");
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(panel.comPortName(), QString("ttyUSB0"));
    QCOMPARE(panel.connectionKind(), 1);
    QCOMPARE(panel.loginName(), QString("operator"));
    QCOMPARE(panel.passwordText(), QString("s3cret"));
    QCOMPARE(child<QPushButton>(&panel, "loginButton")->toolTip(), QString("Click to connect to ttyUSB0"));

    // The preset port, then reopened with it selected.
    panel.configSerialIP();
    dialog = openDialog<DialogLoginSerial>();
    QVERIFY(dialog);
    QCOMPARE(child<QLineEdit>(dialog, "loginLineEdit")->text(), QString("operator"));
    child<QComboBox>(dialog, "interfaceComboBox")->setCurrentIndex(expected.size() - 1);
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(panel.comPortName(), QString("/dev/pts/77"));
    panel.configSerialIP();
    dialog = openDialog<DialogLoginSerial>();
    QVERIFY(dialog);
    QCOMPARE(child<QComboBox>(dialog, "interfaceComboBox")->currentText(), QString("/dev/pts/77"));
    QTest::mouseClick(child<QPushButton>(dialog, "closeButton"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
}

void TstLoginDialogs::loginIpInNamespace()
{
    if (geteuid() != 0)
        QSKIP("the IP login dialog broadcasts; its test needs a network namespace, which needs root");
    QProcess probe;
    probe.start("unshare", { "-n", "true" });
    if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
        QSKIP(qPrintable("cannot create a network namespace: " + QString::fromLocal8Bit(probe.readAllStandardError())));

    // Loopback up with a broadcast route, then this program again, running the namespace tests.
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(CHILD_ENV, "1");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start("unshare",
        { "-n", "sh", "-c", "ip link set lo up && ip route add 255.255.255.255/32 dev lo src 127.0.0.1 && exec \"$0\"",
            QCoreApplication::applicationFilePath() });
    QVERIFY(child.waitForFinished(60000));
    const QByteArray output = child.readAll();
    if (child.exitCode() != 0)
        qWarning().noquote() << output;
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QVERIFY(output.contains("Totals: 4 passed, 0 failed"));
}

// Runs only inside the namespace the test above creates.
class TstLoginIpNamespace : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void discoveryThenTelnetLogin();
    void okBeforeDiscoveryIsRefusedAtConnect();

private:
    QProcess emulator;
};

void TstLoginIpNamespace::initTestCase()
{
    emulator.setProgram(qEnvironmentVariable("NERIO_BIN_DIR") + "/nerio-emulator");
    emulator.setArguments({ "--telnet", "23", "--discovery" });
    emulator.start();
    QVERIFY(emulator.waitForStarted(5000));
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000 && !out.contains("ready\n") && emulator.state() == QProcess::Running) {
        emulator.waitForReadyRead(200);
        out += emulator.readAllStandardOutput();
    }
    QVERIFY2(out.contains("telnet: 23\n") && out.contains("ready\n"), out.constData());
}

void TstLoginIpNamespace::cleanupTestCase()
{
    emulator.terminate();
    if (!emulator.waitForFinished(3000)) {
        emulator.kill();
        emulator.waitForFinished(3000);
    }
}

void TstLoginIpNamespace::discoveryThenTelnetLogin()
{
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.createCommandHandler(panel.connection());
    panel.commandEngine()->setTimeoutInterval(1000);
    // The button stays disabled as designed; its slot still opens the dialog.
    QVERIFY(!child<QPushButton>(&panel, "loginIPButton")->isEnabled());
    panel.configLoginIP();
    QPointer<DialogLoginIp> dialog = openDialog<DialogLoginIp>();
    QVERIFY(dialog);
    checkFrame(dialog, QSize(380, 300));
    QVERIFY(!child<QPushButton>(dialog, "cryptoButton")->isEnabled());
    QComboBox *hosts = child<QComboBox>(dialog, "interfaceComboBox");
    QCOMPARE(comboItems(hosts), QStringList({ "Auto discovery, please wait" }));
    QCOMPARE(child<QLineEdit>(dialog, "loginLineEdit")->text(), QString("admin"));
    QCOMPARE(child<QLineEdit>(dialog, "passwordLineEdit")->text(), QString("korva"));

    // Only the emulator's answer is listed: the dialog's own query comes back too but is no answer.
    QTRY_COMPARE_WITH_TIMEOUT(comboItems(hosts), QStringList({ "127.0.0.1 (02-4E-52-00-00-2A)" }), 3000);
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(panel.ipAddressText(), QString("127.0.0.1"));
    QCOMPARE(panel.connectionKind(), 0);
    QPushButton *login = child<QPushButton>(&panel, "loginButton");
    QCOMPARE(login->toolTip(), QString("Click to connect to host (127.0.0.1)"));

    // The TCP route: telnet on port 23, login, identity.
    QTest::mouseClick(login, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(&panel, "typeLabel")->text(), QString("Nerio DVB-T modulator"), 5000);
    QCOMPARE(login->toolTip(), QString("Connected to host (127.0.0.1)\nClick to disconnect"));
    QVERIFY(panel.isPolling());
    QTest::mouseClick(login, Qt::LeftButton);
    QVERIFY(!panel.isPolling());
    QVERIFY(prompts.boxes.isEmpty());
}

void TstLoginIpNamespace::okBeforeDiscoveryIsRefusedAtConnect()
{
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.createCommandHandler(panel.connection());
    panel.configLoginIP();
    QPointer<DialogLoginIp> dialog = openDialog<DialogLoginIp>();
    QVERIFY(dialog);
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(panel.ipAddressText(), QString("Auto"));
    QTest::mouseClick(child<QPushButton>(&panel, "loginButton"), Qt::LeftButton);
    QCOMPARE(prompts.boxes.size(), 1);
    QCOMPARE(prompts.boxes[0].title, QString("IP error"));
    QCOMPARE(prompts.boxes[0].text, QString("Invalid format for IP address"));
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(CHILD_ENV)) {
        TstLoginIpNamespace inNamespace;
        return QTest::qExec(&inNamespace, argc, argv);
    }
    TstLoginDialogs tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_logindialogs.moc"
