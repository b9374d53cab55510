// Configuration files under bad conditions: the error boxes, a save that cannot complete keeps the
// previous file whole, and hostile, broken or huge documents end in a refusal, never a hang or a file
// read. The byte layout of a save and its load are checked through the page in
// tst_configurationpanel.

#include "configxml.h"
#include "panelfixture.h"

#include <csignal>
#include <sys/resource.h>

namespace
{
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

private:
    rlimit saved {};
    void (*previousHandler)(int) = nullptr;
};
}

class TstConfigXml : public QObject
{
    Q_OBJECT
private slots:
    void saveThatCannotCompleteKeepsThePreviousFile();
    void refusedDocuments_data();
    void refusedDocuments();

private:
    QTemporaryDir dir;
};

void TstConfigXml::saveThatCannotCompleteKeepsThePreviousFile()
{
    QTemporaryDir here;
    const QString path = here.filePath("kept.xml");
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
    QCOMPARE(QDir(here.path()).entryList(QDir::Files), QStringList { "kept.xml" });
    // Once there is room the same save goes through (no leftover in the way) and keeps what was there.
    QVERIFY(xml.writeParam("NR-7", "stream_IP", "239.1.2.3"));
    QCOMPARE(ConfigXML(path, false).readParam("NR-7", "OFDM"), QStringLiteral("8K"));
    QVERIFY(prompts.boxes.isEmpty());
    // A folder that is not there: the save fails with its box.
    ConfigXML missing(here.filePath("missing-folder/x.xml"), true);
    QVERIFY(!missing.isLoaded() && !missing.writeParam("NR-7", "OFDM", "2K"));
    QCOMPARE(shownBoxes(prompts), QStringList({ "warning|XML open error|Unable to open the configuration file" }));
}

void TstConfigXml::refusedDocuments_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("padding"); // spaces after the document, written in chunks
    // An external entity is refused, not read.
    const QString secret = dir.filePath("secret.txt");
    QVERIFY(writeFile(secret, "TOPSECRET"));
    QTest::newRow("external entity")
        << "<!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + secret.toUtf8()
            + "\">]><modulator_configuration_file><modulator serial_number=\"NR-7\"><config OFDM=\"&x;\"/>"
              "</modulator></modulator_configuration_file>"
        << qint64(0);
    QTest::newRow("deep nesting, unclosed") << QByteArray("<a>").repeated(20000) << qint64(0);
    // Well-formed but 100 MB: refused unread instead of parsed for seconds.
    QTest::newRow("100 MB") << SAVED << qint64(100) * 1000 * 1000;
}

void TstConfigXml::refusedDocuments()
{
    QFETCH(QByteArray, content);
    QFETCH(qint64, padding);
    QTemporaryDir here;
    const QString path = here.filePath("doc.xml");
    QVERIFY(writeFile(path, content));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        const QByteArray spaces(1 << 20, ' ');
        for (qint64 left = padding; left > 0; left -= spaces.size())
            QVERIFY(file.write(spaces.constData(), qMin(left, qint64(spaces.size()))) > 0);
    }
    PromptRecorder prompts;
    QElapsedTimer clock;
    clock.start();
    ConfigXML xml(path, false);
    QVERIFY2(clock.elapsed() < 10000, "a hostile document must not take long to refuse");
    QVERIFY(!xml.isLoaded());
    QVERIFY(xml.readParam("NR-7", "OFDM").isNull());
    QCOMPARE(shownBoxes(prompts), QStringList({ "warning|XML open error|Error while trying to set XML content" }));
    // The file is left as it was until the operator saves.
    QCOMPARE(QFileInfo(path).size(), content.size() + padding);
    QCOMPARE(fileBytes(path).left(content.size()), content);
}

QTEST_MAIN(TstConfigXml)
#include "tst_configxml.moc"
