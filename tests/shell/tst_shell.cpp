// Application shell: welcome window, main window, frameless dragging, the movable group box's snapping,
// the embedded images every ":/" path in code and forms needs, and the command line's routes: the
// options main() reads, and a session opened by each route against nerio-emulator.

#include "commandline.h"
#include "configurationpanel.h"
#include "dialogfreq.h"
#include "mainwindowimpl.h"
#include "movablegroupbox.h"
#include "promptrecorder.h"
#include "welcomewindow.h"
#include "windowbar.h"

#include <QComboBox>
#include <QDirIterator>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStyleOptionComboBox>
#include <QtTest>

namespace
{
bool readOptions(const QStringList &arguments, StartOptions *options, QString *message = nullptr)
{
    CommandLine line;
    QString ignored;
    return line.parser.parse(QStringList { "nerio-control" } + arguments)
        && line.read(options, message ? message : &ignored);
}

// Texts of the Configuration page cut by their widgets: the product identity, the interface buttons, and
// the frequency dialog's "Between" item.
QStringList cutTexts(ConfigurationPanel *panel)
{
    QStringList cut;
    for (const QLabel *label : panel->findChild<QWidget *>("groupBox_2")->findChildren<QLabel *>()) {
        if (label->fontMetrics().horizontalAdvance(label->text()) > label->contentsRect().width())
            cut << label->text();
    }
    for (const char *name : { "loginIPButton", "loginSerialButton" }) {
        const auto *button = panel->findChild<QPushButton *>(name);
        if (button->sizeHint().width() > button->width())
            cut << button->text();
    }
    panel->setFrequency("670.000", "Between Channel 45 and 46");
    panel->configFreq();
    for (QWidget *window : QApplication::topLevelWidgets()) {
        auto *dialog = qobject_cast<DialogFreq *>(window);
        if (!dialog || !dialog->isVisible())
            continue;
        const auto *combo = dialog->findChild<QComboBox *>("channelComboBox");
        QStyleOptionComboBox option;
        option.initFrom(combo);
        const QRect field
            = combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
        if (combo->fontMetrics().horizontalAdvance(combo->currentText()) > field.width())
            cut << combo->currentText();
        dialog->close();
    }
    return cut;
}
} // namespace

class tst_Shell : public QObject
{
    Q_OBJECT

private slots:
    void welcomeStartShowsMainWindow();
    void quitButtonsCloseTheMainWindow();
    void titleBarDragMovesWindow();
    void groupBoxSnapping();
    void everyReferencedImageIsEmbedded();
    void commandLine();
    void sessionByEachRoute();
};

void tst_Shell::welcomeStartShowsMainWindow()
{
    MainWindowImpl window;
    welcomewindow welcome(nullptr, QStringLiteral("1.0"));
    connect(&welcome, &welcomewindow::startApplication, &window, &MainWindowImpl::startApplication);
    welcome.show();
    QVERIFY(QTest::qWaitForWindowExposed(&welcome));
    QVERIFY(!window.isVisible());
    QTest::mouseClick(welcome.findChild<QPushButton *>(QStringLiteral("start")), Qt::LeftButton);
    QVERIFY(window.isVisible());
}

void tst_Shell::quitButtonsCloseTheMainWindow()
{
    // The Configuration page's quit button closes the window, not just the tab stack the page sits in.
    for (const char *button : { "quitButton", "closeButton" }) {
        MainWindowImpl window;
        window.startApplication();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseClick(window.findChild<QPushButton *>(QLatin1String(button)), Qt::LeftButton);
        QVERIFY2(!window.isVisible(), button);
    }
}

void tst_Shell::titleBarDragMovesWindow()
{
    welcomewindow welcome(nullptr, QStringLiteral("1.0"));
    welcome.move(100, 100);
    welcome.show();
    QVERIFY(QTest::qWaitForWindowExposed(&welcome));
    auto *bar = welcome.findChild<WindowBar *>(QStringLiteral("topFrame"));
    QVERIFY(bar);

    QMouseEvent press(QEvent::MouseButtonPress, QPointF(20.4, 10.6), bar->mapToGlobal(QPoint(20, 11)),
        Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &press);
    QMouseEvent move(QEvent::MouseMove, QPointF(0, 0), QPointF(520, 311), Qt::NoButton, Qt::LeftButton,
        Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    QCOMPARE(welcome.pos(), QPoint(500, 300));
}

void tst_Shell::groupBoxSnapping()
{
    // Box 200 x 100 inside a 1000 x 500 parent: the left snap column, then the top, right and bottom
    // margins, each from both sides.
    QList<QPoint> snapped;
    for (const QPoint &target : { QPoint(133, 50), QPoint(136, 50), QPoint(300, 3), QPoint(300, 5), QPoint(796, 50),
             QPoint(797, 50), QPoint(300, 450) })
        snapped << MovableGroupBox::snappedPosition(target, QSize(200, 100), QSize(1000, 500));
    QCOMPARE(snapped,
        QList<QPoint>({ QPoint(131, 50), QPoint(136, 50), QPoint(300, 0), QPoint(300, 5), QPoint(796, 50),
            QPoint(800, 50), QPoint(300, 400) }));
}

void tst_Shell::everyReferencedImageIsEmbedded()
{
    QStringList embedded;
    for (QDirIterator it(QStringLiteral(":/"), { QStringLiteral("*.png") }, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();)
        embedded << it.next();
    QVERIFY2(embedded.size() >= 40, qPrintable(QString::number(embedded.size())));

    // Literal ":/..." strings in code and forms; a literal that is not a whole file name is a prefix
    // completed at run time (an index, a level), so at least one image must start with it.
    const QRegularExpression literal(QStringLiteral("\"(:/[A-Za-z0-9_./-]*)\"|<(?:normaloff|iconset|pixmap)>(:/[^<]+)<"));
    int checked = 0;
    for (const QString &folder : { QStringLiteral("src"), QStringLiteral("libs"), QStringLiteral("tools") }) {
        QDirIterator files(QStringLiteral(NERIO_SOURCE_DIR "/") + folder,
            { QStringLiteral("*.cpp"), QStringLiteral("*.h"), QStringLiteral("*.ui") }, QDir::Files,
            QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString file = files.next();
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadOnly));
            for (auto matches = literal.globalMatch(QString::fromUtf8(f.readAll())); matches.hasNext();) {
                const auto m = matches.next();
                const QString path = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
                if (path == QLatin1String(":/") || path.contains(QLatin1String("...")))
                    continue; // the bare prefix, or a placeholder in a comment
                ++checked;
                const bool found = path.endsWith(QLatin1String(".png"))
                    ? QFile::exists(path)
                    : std::any_of(embedded.cbegin(), embedded.cend(), [&](const QString &e) { return e.startsWith(path); });
                QVERIFY2(found, qPrintable(file + QStringLiteral(": ") + path));
            }
        }
    }
    QVERIFY(checked >= 2);
}

void tst_Shell::commandLine()
{
    // Addresses and ports the telnet route cannot use, and two routes at once, are refused.
    StartOptions options;
    for (const QStringList &refused : { QStringList { "--host", "10.0.0.256" }, { "--host", "10.0.0.7:0" },
             { "--host", "10.0.0.7:65536" }, { "--host", "modulator.example" }, { "--host", "10.0.0.7\n" },
             { "--host", "10.0.0.7:23\n" }, { "--host", "10.0.0.7", "--serial-port", "/dev/ttyUSB0" } })
        QVERIFY2(!readOptions(refused, &options), qPrintable(refused.join(' ')));

    // The network route's buttons: disabled as designed, enabled by --network.
    for (const bool network : { false, true }) {
        MainWindowImpl window;
        QVERIFY(readOptions(network ? QStringList { "--host", "10.0.0.7", "--network" } : QStringList(), &options));
        window.applyStartOptions(options);
        for (const char *button : { "loginIPButton", "IPButton" })
            QCOMPARE(window.findChild<QPushButton *>(button)->isEnabled(), network);
    }
    QCOMPARE(options.host + ':' + QString::number(options.hostPort), QString("10.0.0.7:23"));
}

void tst_Shell::sessionByEachRoute()
{
    // Started with --connect, each route logs in and makes the same first readings and polls. Each runs
    // under another desktop font: 9 pt is what nerio-control gets under Xvfb (scripts/run), 10 pt a common
    // desktop's; the page's texts must show whole in both.
    QTemporaryDir dir;
    const QString home = QDir::currentPath();
    const QFont font = QApplication::font();
    QProcess emulator;
    const auto restore = qScopeGuard([&] {
        QApplication::setFont(font);
        QDir::setCurrent(home);
        emulator.terminate();
        emulator.waitForFinished(5000);
    });
    QVERIFY(QDir::setCurrent(dir.path())); // recentIP.txt
    emulator.start(qEnvironmentVariable("NERIO_BIN_DIR") + "/nerio-emulator",
        { "--serial", "--telnet", "0", "--log", dir.filePath("wire.log") });
    QByteArray out;
    while (!out.contains("ready\n") && emulator.waitForReadyRead(5000))
        out += emulator.readAllStandardOutput();
    const QString serial = QRegularExpression("serial: (\\S+)\n").match(out).captured(1);
    const QString telnet = QRegularExpression("telnet: (\\d+)\n").match(out).captured(1);
    QVERIFY2(!serial.isEmpty() && !telnet.isEmpty(), out.constData());

    const auto linesOf = [&](const QString &link) {
        QFile log(dir.filePath("wire.log"));
        QStringList lines;
        if (log.open(QIODevice::ReadOnly))
            for (const QByteArray &line : log.readAll().split('\n'))
                if (line.contains(" " + link.toLatin1() + " < "))
                    lines << QString::fromLatin1(line.mid(line.indexOf(" < ") + 3));
        return lines;
    };
    QStringList firstLines[2];
    for (int route = 0; route < 2; ++route) {
        QApplication::setFont(QFont("Sans Serif", 9 + route));
        StartOptions options;
        QVERIFY(readOptions(route == 0 ? QStringList { "--serial-port", serial, "--connect" }
                                       : QStringList { "--host", "127.0.0.1:" + telnet, "--connect" },
            &options));
        PromptRecorder prompts;
        MainWindowImpl window;
        window.applyStartOptions(options);
        ConfigurationPanel *panel = window.configurationPanel();
        panel->commandEngine()->setTimeoutInterval(2000);
        QVERIFY(!panel->connection()->isConnected(2));
        window.startApplication();
        const QString link = route == 0 ? "serial" : "telnet";
        QTRY_VERIFY_WITH_TIMEOUT(linesOf(link).filter("getStatus").size() >= 2, 10000);
        firstLines[route] = linesOf(link);
        firstLines[route] = firstLines[route].mid(firstLines[route].indexOf("admin"), 8);
        QCOMPARE(cutTexts(panel), QStringList());
        QTest::mouseClick(window.findChild<QPushButton *>("loginButton"), Qt::LeftButton);
        QVERIFY(!panel->connection()->isConnected(2));
        QVERIFY(prompts.boxes.isEmpty());
    }
    QCOMPARE(firstLines[1], firstLines[0]);
    QCOMPARE(firstLines[0].mid(0, 4), QStringList({ "admin", "korva", "getCoreParameters", "getID" }));
    // Only the telnet route's address is remembered.
    QFile recent("recentIP.txt");
    QVERIFY(recent.open(QIODevice::ReadOnly));
    QCOMPARE(recent.readAll(), QByteArray("127.0.0.1\n"));
}

QTEST_MAIN(tst_Shell)
#include "tst_shell.moc"
