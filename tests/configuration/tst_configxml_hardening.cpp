// Configuration files under bad conditions: a save that cannot complete keeps the previous file whole,
// and hostile or broken documents end in a refusal or a plain load, never a hang or a file read.

#include "configxml.h"
#include "promptrecorder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {
QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return f.readAll();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

const QByteArray SAVED = "<modulator_configuration_file conf_name=\"kept\">\n"
                         "  <modulator serial_number=\"NR-7\">\n"
                         "    <config OFDM=\"8K\" constellation=\"64QAM\" carrier_frequency=\"666.000\"/>\n"
                         "  </modulator>\n"
                         "</modulator_configuration_file>\n";

// Files larger than the limit cannot be written (EFBIG); the signal that would kill the process is
// ignored for the scope. Root is not exempt, unlike folder permissions.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit saved {};
    void (*previousHandler)(int) = nullptr;
};
}

class TstConfigXmlHardening : public QObject
{
    Q_OBJECT

private slots:
    void saveThatCannotCompleteKeepsThePreviousFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("kept.xml");
        QVERIFY(writeFile(path, SAVED));
        PromptRecorder prompts;
        ConfigXML xml(path, false);
        QVERIFY(xml.isLoaded());
        {
            // Room for less than the new document: the disk is full half-way through the save.
            FileSizeLimit limit(64);
            QVERIFY(!xml.writeParam("NR-7", "stream_IP", "239.1.2.3"));
        }
        QCOMPARE(fileBytes(path), SAVED);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList { "kept.xml" });
        // Once there is room the same save goes through and keeps what was there.
        QVERIFY(xml.writeParam("NR-7", "stream_IP", "239.1.2.3"));
        ConfigXML again(path, false);
        QCOMPARE(again.readParam("NR-7", "OFDM"), QStringLiteral("8K"));
        QCOMPARE(again.readParam("NR-7", "stream_IP"), QStringLiteral("239.1.2.3"));
        QVERIFY(prompts.boxes.isEmpty());
    }

    void saveIntoAMissingFolderFails()
    {
        QTemporaryDir dir;
        PromptRecorder prompts;
        ConfigXML xml(dir.filePath("gone/x.xml"), true);
        QVERIFY(!xml.writeParam("NR-7", "OFDM", "2K"));
        QCOMPARE(prompts.boxes.size(), 1); // the open failure was reported when the file was opened
    }

    void hostileDocuments_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("loads");
        QTest::newRow("malformed") << QByteArray("<modulator_configuration_file><modulator>") << false;
        QTest::newRow("not xml") << QByteArray("\xff\xfe\x00garbage\x01") << false;
        QByteArray laughs = "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">";
        QByteArray previous = "a";
        for (char e = 'b'; e <= 'k'; ++e) {
            laughs += QByteArray("<!ENTITY ") + e + " \"" + QByteArray("&" + previous + ";").repeated(10) + "\">";
            previous = QByteArray(1, e);
        }
        laughs += "]><modulator_configuration_file conf_name=\"&k;\"/>";
        QTest::newRow("entity expansion") << laughs << false;
        QByteArray deep;
        for (int i = 0; i < 20000; ++i)
            deep += "<a>";
        QTest::newRow("deep nesting, unclosed") << deep << false;
    }

    void hostileDocuments()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, loads);
        QTemporaryDir dir;
        const QString path = dir.filePath("bad.xml");
        QVERIFY(writeFile(path, content));
        PromptRecorder prompts;
        QElapsedTimer clock;
        clock.start();
        ConfigXML xml(path, false);
        QCOMPARE(xml.isLoaded(), loads);
        QVERIFY2(clock.elapsed() < 10000, "a hostile document must not take long to refuse");
        QCOMPARE(prompts.boxes.size(), loads ? 0 : 1);
        QVERIFY(xml.readParam("NR-7", "OFDM").isNull());
        // The file is left as it was until the operator saves.
        QCOMPARE(fileBytes(path), content);
    }

    void externalEntityIsNotRead()
    {
        QTemporaryDir dir;
        const QString secret = dir.filePath("secret.txt");
        QVERIFY(writeFile(secret, "TOPSECRET"));
        const QString path = dir.filePath("ext.xml");
        QVERIFY(writeFile(path,
            "<!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + secret.toUtf8()
                + "\">]><modulator_configuration_file><modulator serial_number=\"NR-7\"><config OFDM=\"&x;\"/>"
                  "</modulator></modulator_configuration_file>"));
        PromptRecorder prompts;
        ConfigXML xml(path, false);
        QVERIFY(!xml.readParam("NR-7", "OFDM").contains("TOPSECRET"));
        QVERIFY(xml.writeParam("NR-7", "constellation", "QPSK"));
        QVERIFY(!fileBytes(path).contains("TOPSECRET"));
    }

    void deepButWellFormedNestingSavesAndLoads()
    {
        // Nesting deeper than any hand-written file, closed properly: loads, saves and loads again.
        QByteArray doc = "<modulator_configuration_file><modulator serial_number=\"NR-7\"><config OFDM=\"2K\"/>";
        for (int i = 0; i < 2000; ++i)
            doc += "<n>";
        for (int i = 0; i < 2000; ++i)
            doc += "</n>";
        doc += "</modulator></modulator_configuration_file>";
        QTemporaryDir dir;
        const QString path = dir.filePath("deep.xml");
        QVERIFY(writeFile(path, doc));
        PromptRecorder prompts;
        ConfigXML xml(path, false);
        QVERIFY(xml.isLoaded());
        QVERIFY(xml.writeParam("NR-7", "constellation", "QPSK"));
        ConfigXML again(path, false);
        QVERIFY(again.isLoaded());
        QCOMPARE(again.readParam("NR-7", "OFDM"), QStringLiteral("2K"));
        QCOMPARE(again.readParam("NR-7", "constellation"), QStringLiteral("QPSK"));
    }

    void duplicateSerialReadsAndWritesTheFirst()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("dup.xml");
        QVERIFY(writeFile(path,
            "<modulator_configuration_file><modulator serial_number=\"NR-7\"><config OFDM=\"8K\"/></modulator>"
            "<modulator serial_number=\"NR-7\"><config OFDM=\"2K\"/></modulator></modulator_configuration_file>"));
        PromptRecorder prompts;
        ConfigXML xml(path, false);
        QCOMPARE(xml.readParam("NR-7", "OFDM"), QStringLiteral("8K"));
        QVERIFY(xml.writeParam("NR-7", "OFDM", "4K"));
        ConfigXML again(path, false);
        QCOMPARE(again.readParam("NR-7", "OFDM"), QStringLiteral("4K"));
        // The second section is kept as it was, not merged or dropped.
        QVERIFY(fileBytes(path).contains("OFDM=\"2K\""));
    }
};

QTEST_MAIN(TstConfigXmlHardening)
#include "tst_configxml_hardening.moc"
