// The Configuration page's IP input, serial login and IP login dialogs, opened through the panel's own
// buttons' slots: shared frame, field marks, what OK stores and what the panel refuses. The IP login
// dialog broadcasts a discovery, so its test runs in a network namespace of its own, which this
// program creates by running itself again under unshare; there a nerio-emulator answers the discovery
// and takes the telnet login on port 23.

#include "dialogip.h"
#include "dialogloginip.h"
#include "dialogloginserial.h"
#include "panelfixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSerialPortInfo>

#include <unistd.h>

namespace
{
const char *const CHILD_ENV = "NERIO_LOGIN_NS_CHILD";

// The visible dialog of that class, checked for the page's shared frame: frameless, translucent
// corners, fixed designed size.
template <typename D> QPointer<D> openDialog(const QSize &designed)
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *d = qobject_cast<D *>(w);
        if (d && d->isVisible() && (d->windowFlags() & Qt::FramelessWindowHint)
            && d->testAttribute(Qt::WA_TranslucentBackground) && d->minimumSize() == designed
            && d->maximumSize() == designed)
            return d;
    }
    return nullptr;
}

QStringList comboItems(QComboBox *combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

// "<text>|<colour>" of a validation label, or its whole style sheet if that is not the bold mark.
QString mark(QWidget *dialog, const char *name)
{
    QLabel *label = child<QLabel>(dialog, name);
    const QString colour = label->styleSheet().section('#', 2).left(3);
    const QString style = QString("#%1 {font-weight: bold; color: #%2;}").arg(QLatin1String(name), colour);
    return label->text() + '|' + (label->styleSheet() == style ? colour : label->styleSheet());
}
}

class TstLoginDialogs : public QObject
{
    Q_OBJECT
private slots:
    void ipDialogMarksAndOk_data();
    void ipDialogMarksAndOk();
    void ipDialogUnicast();
    void serialDialog();
    void loginIpInNamespace();
};

void TstLoginDialogs::ipDialogMarksAndOk_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("marks");
    QTest::addColumn<QString>("refusal");
    const QString valid = "Valid Address|0a0 Valid Port|0a0";
    QTest::newRow("group, port") << "239.1.2.3" << "1234" << valid << "";
    QTest::newRow("lowest group, lowest port") << "224.0.0.0" << "1024" << valid << "";
    QTest::newRow("highest group, highest port") << "239.255.255.255" << "65535" << valid << "";
    QTest::newRow("unicast address") << "192.168.1.10" << "1234" << "Invalid Address|f00 Valid Port|0a0" << "IP address";
    QTest::newRow("above the groups") << "240.0.0.1" << "65536" << "Invalid Address|f00 Invalid Port|f00" << "IP address";
    QTest::newRow("three parts") << "239.1.2" << "5000" << "Invalid Address|f00 Valid Port|0a0" << "IP address";
    QTest::newRow("port 1023") << "239.1.2.3" << "1023" << "Valid Address|0a0 Invalid Port|f00" << "port";
    QTest::newRow("port 99999") << "239.1.2.3" << "99999" << "Valid Address|0a0 Invalid Port|f00" << "port";
}

void TstLoginDialogs::ipDialogMarksAndOk()
{
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, marks);
    QFETCH(QString, refusal);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.setIPConfigFromDevice("multicast", "10.0.0.5", "239.0.0.1", "5000");
    panel.configIP();
    QPointer<DialogIp> dialog = openDialog<DialogIp>(QSize(380, 260));
    QVERIFY(dialog);
    QCOMPARE(dialog->windowModality(), Qt::ApplicationModal);
    for (QLineEdit *edit : { child<QLineEdit>(dialog, "IPLineEdit"), child<QLineEdit>(dialog, "portLineEdit") }) {
        edit->setText(edit->objectName() == "IPLineEdit" ? address : port);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    QCOMPARE(mark(dialog, "checkIP") + ' ' + mark(dialog, "checkPort"), marks);
    QCOMPARE(QList<int>({ child<QLabel>(dialog, "checkIP")->x(), child<QLabel>(dialog, "checkPort")->x() }),
        QList<int>({ 175, 175 }));

    // OK hands both to the page, which stores them or refuses with its box.
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
    const bool stored = refusal.isEmpty();
    QCOMPARE(shownBoxes(prompts),
        stored ? QStringList() : QStringList({ "warning|IP Status|Invalid " + refusal + ". Changes were not applied." }));
    QCOMPARE(panel.multicastAddressText() + ':' + panel.portText(), stored ? address + ':' + port : "239.0.0.1:5000");
    QCOMPARE(child<QLabel>(&panel, "IPLabel")->text() + ' ' + child<QLabel>(&panel, "IPLabel2")->text(),
        stored ? address + " port : " + port : "239.0.0.1 port : 5000");
}

void TstLoginDialogs::ipDialogUnicast()
{
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.setIPConfigFromDevice("multicast", "10.0.0.5", "239.0.0.1", "5000");
    panel.configIP();
    QPointer<DialogIp> dialog = openDialog<DialogIp>(QSize(380, 260));
    QVERIFY(dialog);
    QLineEdit *address = child<QLineEdit>(dialog, "IPLineEdit");
    QVERIFY(child<QRadioButton>(dialog, "multiButton")->isChecked() && address->isEnabled());
    QCOMPARE(address->text(), QString("239.0.0.1"));
    QCOMPARE(mark(dialog, "checkIP") + ' ' + mark(dialog, "checkPort"), QString("Valid Address|0a0 Valid Port|0a0"));

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

    // Reopened: unicast shown; back to multicast unlocks the field; Cancel keeps unicast.
    panel.configIP();
    dialog = openDialog<DialogIp>(QSize(380, 260));
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
    QPointer<DialogLoginSerial> dialog = openDialog<DialogLoginSerial>(QSize(380, 300));
    QVERIFY(dialog);
    QVERIFY(!child<QPushButton>(dialog, "cryptoButton")->isEnabled());
    QStringList expected;
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts())
        expected << port.portName();
    QComboBox *ports = child<QComboBox>(dialog, "interfaceComboBox");
    QCOMPARE(comboItems(ports), expected << "/dev/pts/77");
    QCOMPARE(child<QLineEdit>(dialog, "loginLineEdit")->text() + ' ' + child<QLineEdit>(dialog, "passwordLineEdit")->text(),
        QString("admin korva"));

    // A typed port with a description keeps the name before the colon.
    ports->setEditText("ttyUSB0: FTDI adapter");
    child<QLineEdit>(dialog, "loginLineEdit")->setText("operator");
    child<QLineEdit>(dialog, "passwordLineEdit")->setText("s3cret");
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(QStringList({ panel.comPortName(), QString::number(panel.connectionKind()), panel.loginName(),
                 panel.passwordText(), child<QPushButton>(&panel, "loginButton")->toolTip() }),
        QStringList({ "ttyUSB0", "1", "operator", "s3cret", "Click to connect to ttyUSB0" }));

    // The preset port, then reopened with it selected.
    panel.configSerialIP();
    dialog = openDialog<DialogLoginSerial>(QSize(380, 300));
    QVERIFY(dialog);
    QCOMPARE(child<QLineEdit>(dialog, "loginLineEdit")->text(), QString("operator"));
    child<QComboBox>(dialog, "interfaceComboBox")->setCurrentIndex(expected.size() - 1);
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(panel.comPortName(), QString("/dev/pts/77"));
    panel.configSerialIP();
    dialog = openDialog<DialogLoginSerial>(QSize(380, 300));
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

    // Loopback up with a broadcast route, then this program again, running the namespace test.
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
    QVERIFY(output.contains("Totals: 3 passed, 0 failed, 0 skipped"));
}

// Runs only inside the namespace the test above creates.
class TstLoginIpNamespace : public QObject
{
    Q_OBJECT
private slots:
    void discoveryThenTelnetLogin();
};

void TstLoginIpNamespace::discoveryThenTelnetLogin()
{
    Emulator emulator({ "--telnet", "23", "--discovery" }, false);
    QVERIFY(emulator.ready);
    PromptRecorder prompts;
    ConfigurationPanel panel;
    panel.createCommandHandler(panel.connection());
    panel.commandEngine()->setTimeoutInterval(1000);
    // The button stays disabled as designed; its slot still opens the dialog. OK before any answer
    // stores "Auto", which the connect refuses.
    QVERIFY(!child<QPushButton>(&panel, "loginIPButton")->isEnabled());
    panel.configLoginIP();
    QPointer<DialogLoginIp> dialog = openDialog<DialogLoginIp>(QSize(380, 300));
    QVERIFY(dialog);
    QCOMPARE(comboItems(child<QComboBox>(dialog, "interfaceComboBox")), QStringList({ "Auto discovery, please wait" }));
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(panel.ipAddressText(), QString("Auto"));
    QPushButton *login = child<QPushButton>(&panel, "loginButton");
    QTest::mouseClick(login, Qt::LeftButton);
    QCOMPARE(shownBoxes(prompts), QStringList({ "warning|IP error|Invalid format for IP address" }));
    prompts.boxes.clear();

    panel.configLoginIP();
    dialog = openDialog<DialogLoginIp>(QSize(380, 300));
    QVERIFY(dialog);
    QVERIFY(!child<QPushButton>(dialog, "cryptoButton")->isEnabled());
    QComboBox *hosts = child<QComboBox>(dialog, "interfaceComboBox");
    QCOMPARE(child<QLineEdit>(dialog, "loginLineEdit")->text() + ' ' + child<QLineEdit>(dialog, "passwordLineEdit")->text(),
        QString("admin korva"));
    // Only the emulator's answer is listed: the dialog's own query comes back too but is no answer.
    QTRY_COMPARE_WITH_TIMEOUT(comboItems(hosts), QStringList({ "127.0.0.1 (02-4E-52-00-00-2A)" }), 3000);
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(panel.ipAddressText() + ' ' + QString::number(panel.connectionKind()), QString("127.0.0.1 0"));
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
