// Configuration file loader: any bytes as the file. Loads it, reads every known key of a serial number
// the input may contain, writes one parameter (the whole document is rewritten) and loads the result
// again. Properties: a file that loaded keeps its values through a save, and what is written loads.

#include "configxml.h"
#include "uiprompts.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace
{
QApplication *app()
{
    static int argc = 1;
    static char name[] = "fuzz_configxml";
    static char *argv[] = { name, nullptr };
    static QApplication *instance = [] {
        auto *a = new QApplication(argc, argv);
        UiPrompts::setBoxResponder([](const UiPrompts::Box &) { return QMessageBox::Ok; });
        return a;
    }();
    return instance;
}

// XML 1.0 has no place for most control characters; a lax parse may keep them, the writer then drops them.
bool writable(const QString &value)
{
    for (const QChar c : value) {
        const ushort u = c.unicode();
        if ((u < 0x20 && u != 0x09 && u != 0x0A && u != 0x0D) || u >= 0xFFFE || c.isSurrogate())
            return false;
    }
    return true;
}

const QStringList keys { QStringLiteral("OFDM"), QStringLiteral("constellation"),
    QStringLiteral("carrier_frequency"), QStringLiteral("stream_IP"), QStringLiteral("stream_port") };
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    app();
    if (size > 65536)
        return 0;
    // A real folder: a save writes a file beside the target and renames it over it.
    static QTemporaryDir dir(QStringLiteral("/dev/shm/fuzz_configxml.XXXXXX"));
    const QString path = dir.filePath(QStringLiteral("c.xml"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || f.write(reinterpret_cast<const char *>(bytes), qint64(size)) != qint64(size))
            abort();
    }
    const QString serial = QStringLiteral("0F0001");

    ConfigXML first(path, false);
    QStringList before;
    for (const QString &k : keys)
        before << first.readParam(serial, k);
    if (!first.writeParam(serial, QStringLiteral("constellation"), QStringLiteral("64-QAM")))
        abort(); // a file in a private folder is always writable

    // Control characters (raw or as character references) that a lax parse let in are dropped or make
    // the rewritten file unreadable; only a clean document must load again with the same values.
    const QByteArray input(reinterpret_cast<const char *>(bytes), int(size));
    const bool clean = !input.contains(char(0)) && writable(QString::fromUtf8(input)) && !input.contains("&#");
    ConfigXML second(path, false);
    if (!second.isLoaded()) {
        if (clean)
            abort();
        return 0;
    }
    for (int i = 0; i < keys.size(); ++i) {
        const QString after = second.readParam(serial, keys.at(i));
        if (!clean)
            break;
        if (keys.at(i) == QLatin1String("constellation")) {
            if (after != QLatin1String("64-QAM"))
                abort();
        } else if (first.isLoaded() && after != before.at(i)) {
            abort();
        }
    }
    return 0;
}
