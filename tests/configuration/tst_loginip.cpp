// The IP login dialog as the page opens it: it broadcasts a discovery, so the test runs in a network
// namespace of its own, which this program creates by running itself again under unshare. There a
// nerio-emulator answers the discovery and takes the telnet login on port 23; the recent addresses
// follow the ones found.

#include "dialogloginip.h"
#include "panelfixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <unistd.h>

const char *const CHILD_ENV = "NERIO_LOGINIP_IN_NAMESPACE";

class TstLoginIp : public QObject
{
    Q_OBJECT
private slots:
    void inNamespace()
    {
        if (geteuid() != 0)
            QSKIP("the IP login dialog broadcasts; its test needs a network namespace, which needs root");
        QProcess probe;
        probe.start("unshare", { "-n", "true" });
        if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
            QSKIP("cannot create a network namespace here");
        // Loopback up with a broadcast route, then this program again, running the test below.
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(CHILD_ENV, "1");
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start("unshare", { "-n", "sh", "-c",
            "ip link set lo up && ip route add 255.255.255.255/32 dev lo src 127.0.0.1 && exec \"$0\"",
            QCoreApplication::applicationFilePath() });
        QVERIFY(child.waitForFinished(60000));
        const QByteArray output = child.readAll();
        QVERIFY2(child.exitCode() == 0 && output.contains("Totals: 3 passed, 0 failed, 0 skipped"), output.constData());
    }
};

// Runs only inside the namespace made above.
class TstLoginIpNamespace : public QObject
{
    Q_OBJECT
private slots:
    void discoveryThenTelnetLogin()
    {
        Emulator emulator({ "--telnet", "23", "--discovery" });
        QVERIFY(emulator.ready);
        // recentIP.txt is read from and written to the working directory.
        QTemporaryDir work;
        QVERIFY(QDir::setCurrent(work.path()) && writeFile("recentIP.txt", "10.0.0.1\n127.0.0.1\n"));
        PromptRecorder prompts;
        ConfigurationPanel panel;
        panel.createCommandHandler(panel.connection());
        panel.commandEngine()->setTimeoutInterval(1000);
        panel.configLoginIP();
        QPointer<DialogLoginIp> dialog = shownDialog<DialogLoginIp>();
        QVERIFY(dialog);
        QComboBox *hosts = child<QComboBox>(dialog, "interfaceComboBox");
        // Only the emulator's answer is found: the dialog's own query comes back too but is no answer. The
        // addresses connected to before follow, newest first, those found already left out.
        QTRY_COMPARE_WITH_TIMEOUT(hosts->itemText(0), QString("127.0.0.1 (02-4E-52-00-00-2A)"), 3000);
        QCOMPARE(hosts->count(), 2);
        QCOMPARE(hosts->itemText(1), QString("10.0.0.1"));
        QVERIFY(clickAndClose(dialog, "okButton"));
        QCOMPARE(panel.ipAddressText() + ' ' + QString::number(panel.connectionKind()), QString("127.0.0.1 0"));

        // The TCP route: telnet on port 23, login, identity, poll; then the session ends without a box.
        clickLogin(panel);
        QTRY_COMPARE_WITH_TIMEOUT(child<QLabel>(&panel, "typeLabel")->text(), QString("Nerio DVB-T modulator"), 5000);
        QVERIFY(panel.isPolling());
        clickLogin(panel);
        QVERIFY(!panel.isPolling());
        QVERIFY(prompts.boxes.isEmpty());
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(CHILD_ENV)) {
        TstLoginIpNamespace inNamespace;
        return QTest::qExec(&inNamespace, argc, argv);
    }
    TstLoginIp tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_loginip.moc"
