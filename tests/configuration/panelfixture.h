#pragma once
// Shared set-up of the Configuration page tests: widget lookup, message boxes as text, small files, and
// nerio-emulator on a pseudo-terminal with its wire log, to which a panel connects and logs in.

#include "configurationpanel.h"
#include "promptrecorder.h"

#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

template <typename T> T *child(const QObject *parent, const char *name)
{
    T *w = parent->findChild<T *>(QLatin1String(name));
    if (!w)
        qFatal("missing widget %s", name);
    return w;
}

// Every box asked so far as "<icon>|<title>|<text>", so one comparison checks count, kind and wording.
inline QStringList shownBoxes(const PromptRecorder &prompts)
{
    static const char *const icons[] = { "none", "information", "warning", "critical", "question" };
    QStringList out;
    for (const UiPrompts::Box &box : prompts.boxes)
        out << QString("%1|%2|%3").arg(QLatin1String(icons[qBound(0, int(box.icon), 4)]), box.title, box.text);
    return out;
}

inline QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// The visible dialog of that class the page opened.
template <typename D> QPointer<D> shownDialog()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<D *>(w); d && d->isVisible())
            return d;
    return nullptr;
}

bool clickAndClose(QWidget *dialog, const char *button)
{
    QPointer<QWidget> guard(dialog);
    QTest::mouseClick(child<QPushButton>(dialog, button), Qt::LeftButton);
    return QTest::qWaitFor([&] { return guard.isNull(); }, 2000);
}

// One nerio-emulator, on a pseudo-terminal logging its wire to a file of its own; stopped when the
// object goes.
class Emulator
{
public:
    explicit Emulator(const QStringList &extra = {})
    {
        process.setProgram(qEnvironmentVariable("NERIO_BIN_DIR") + "/nerio-emulator");
        process.setArguments(QStringList { "--serial", "--log", dir.filePath("wire.log") } + extra);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        QByteArray out;
        QElapsedTimer timer;
        timer.start();
        while (process.waitForStarted(5000) && timer.elapsed() < 10000 && !out.contains("ready\n")) {
            process.waitForReadyRead(200);
            out += process.readAllStandardOutput();
        }
        path = QRegularExpression("serial: (\\S+)\n").match(QString::fromLocal8Bit(out)).captured(1);
        ready = out.contains("ready\n") && !path.isEmpty();
    }
    // Whatever has not ended three seconds after the request is killed by QProcess itself.
    ~Emulator()
    {
        process.terminate();
        process.waitForFinished(3000);
    }

    // Lines the emulator received from the given one on, from its log ("<time> <link> < <line>"); with
    // times, each line is prefixed by its ISO time stamp and a space.
    QStringList received(int from = 0, bool withTimes = false) const
    {
        QStringList out;
        for (const QByteArray &raw : fileBytes(dir.filePath("wire.log")).split('\n')) {
            const QString text = QString::fromLatin1(raw);
            const int marker = text.indexOf(QLatin1String(" < "));
            if (marker >= 0)
                out << (withTimes ? text.section(' ', 0, 0) + ' ' : QString()) + text.mid(marker + 3);
        }
        return out.mid(from);
    }

    QTemporaryDir dir;
    QProcess process;
    QString path;
    bool ready = false;
};

// Points the panel at the port and clicks connect; true once the first poll has read the identity, false
// as soon as the link is closed again (refused login) or after five seconds.
inline bool connectPanel(ConfigurationPanel &panel, const QString &port, int commandTimeoutMs = 1000)
{
    panel.createCommandHandler(panel.connection());
    panel.commandEngine()->setTimeoutInterval(commandTimeoutMs);
    panel.setCOMPort(port);
    QTest::mouseClick(child<QPushButton>(&panel, "loginButton"), Qt::LeftButton);
    const auto serial = [&] { return panel.serialNumberText() == QLatin1String("NR0042"); };
    return QTest::qWaitFor([&] { return serial() || !panel.connection()->isConnected(2); }, 5000) && serial();
}

inline void clickLogin(ConfigurationPanel &panel)
{
    QTest::mouseClick(child<QPushButton>(&panel, "loginButton"), Qt::LeftButton);
}
