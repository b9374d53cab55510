// Configuration files: byte layout of a saved file, reading rules, and the two error boxes.

#include "configxml.h"
#include "promptrecorder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

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

// The thirteen keys of a panel save, in the panel's order.
void writePanelKeys(ConfigXML &xml, const QString &serial)
{
    const QList<QPair<QString, QString>> keys {
        { "OFDM", "8K" }, { "constellation", "64QAM" }, { "output", "ON" }, { "carrier_frequency", "666.000" },
        { "guard_interval", "1/4" }, { "inner_coder", "5/6" }, { "bandwidth", "8MHz" }, { "reduction", "12" },
        { "refclockmux", "internal" }, { "input_type", "IP" }, { "IP_addr_method", "multicast" },
        { "stream_IP", "239.1.2.3" }, { "stream_port", "1234" }
    };
    for (const auto &kv : keys)
        QVERIFY(xml.writeParam(serial, kv.first, kv.second));
}
}

class TstConfigXml : public QObject
{
    Q_OBJECT
private slots:
    void savedFileLayout();
    void otherSectionForUnknownKeys();
    void configurationName_data();
    void configurationName();
    void saveReplacesExistingContent();
    void readingRules();
    void openAndParseErrors();

private:
    QTemporaryDir dir;
};

void TstConfigXml::savedFileLayout()
{
    PromptRecorder prompts;
    const QString path = dir.filePath("my.config.xml");
    ConfigXML xml(path, true);
    xml.createRoot();
    writePanelKeys(xml, "NR-0042");

    const QByteArray expected
        = "<modulator_configuration_file conf_name=\"my.config\">\n"
          "  <modulator serial_number=\"NR-0042\">\n"
          "    <config OFDM=\"8K\" constellation=\"64QAM\" carrier_frequency=\"666.000\" guard_interval=\"1/4\" "
          "inner_coder=\"5/6\" bandwidth=\"8MHz\" reduction=\"12\" output=\"ON\" refclockmux=\"internal\"/>\n"
          "    <stream_source input_type=\"IP\" IP_addr_method=\"multicast\" stream_IP=\"239.1.2.3\" "
          "stream_port=\"1234\"/>\n"
          "  </modulator>\n"
          "</modulator_configuration_file>\n";
    QCOMPARE(fileBytes(path), expected);
    QVERIFY(prompts.boxes.isEmpty());
}

void TstConfigXml::otherSectionForUnknownKeys()
{
    PromptRecorder prompts;
    const QString path = dir.filePath("other.xml");
    ConfigXML xml(path, true);
    xml.createRoot();
    QVERIFY(xml.writeParam("S1", "inner_coder", "1/2"));
    QVERIFY(xml.writeParam("S1", "site", "A&B \"north\" <mast>"));
    QVERIFY(xml.writeParam("S1", "site", "Hill"));
    QVERIFY(xml.writeParam("S1", "operator", "Zed"));
    QVERIFY(xml.writeParam("S1", "inner_coder", "7/8"));

    const QByteArray expected
        = "<modulator_configuration_file conf_name=\"other\">\n"
          "  <modulator serial_number=\"S1\">\n"
          "    <config OFDM=\"\" constellation=\"\" carrier_frequency=\"\" guard_interval=\"\" inner_coder=\"7/8\" "
          "bandwidth=\"\" reduction=\"\" output=\"\" refclockmux=\"\"/>\n"
          "    <stream_source input_type=\"\" IP_addr_method=\"\" stream_IP=\"\" stream_port=\"\"/>\n"
          "    <other site=\"Hill\"/>\n"
          "    <other operator=\"Zed\"/>\n"
          "  </modulator>\n"
          "</modulator_configuration_file>\n";
    QCOMPARE(fileBytes(path), expected);

    // Escapes survive the round trip through a fresh object.
    QVERIFY(xml.writeParam("S1", "site", "A&B \"north\" <mast>"));
    QVERIFY(fileBytes(path).contains("    <other site=\"A&amp;B &quot;north&quot; &lt;mast&gt;\"/>\n"));
    ConfigXML reread(path, false);
    QCOMPARE(reread.readParam("S1", "site"), QString("A&B \"north\" <mast>"));
    QCOMPARE(reread.readParam("S1", "operator"), QString("Zed"));
    QVERIFY(prompts.boxes.isEmpty());
}

void TstConfigXml::configurationName_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("expected");
    QTest::newRow("double extension") << "my.config.xml" << "my.config";
    QTest::newRow("no extension") << "plainname" << "plainname";
    QTest::newRow("upper case kept") << "site.XML" << "site.XML";
}

void TstConfigXml::configurationName()
{
    QFETCH(QString, fileName);
    QFETCH(QString, expected);
    PromptRecorder prompts;
    QDir(dir.path()).mkpath("sub");
    const QString path = dir.filePath("sub/" + fileName);
    ConfigXML xml(path, true);
    QCOMPARE(xml.configurationName(), expected);
    xml.createRoot();
    QVERIFY(xml.writeParam("X", "OFDM", "2K"));
    QVERIFY(fileBytes(path).startsWith("<modulator_configuration_file conf_name=\"" + expected.toUtf8() + "\">\n"));
}

void TstConfigXml::saveReplacesExistingContent()
{
    PromptRecorder prompts;
    const QString path = dir.filePath("replace.xml");
    QVERIFY(writeFile(path,
        "<modulator_configuration_file conf_name=\"old\">\n"
        "  <modulator serial_number=\"OLD-1\">\n    <config OFDM=\"2K\"/>\n  </modulator>\n"
        "</modulator_configuration_file>\n"));
    ConfigXML xml(path, true);
    QCOMPARE(xml.readParam("OLD-1", "OFDM"), QString("2K"));
    xml.createRoot();
    QVERIFY(xml.writeParam("NEW-2", "OFDM", "8K"));
    const QByteArray bytes = fileBytes(path);
    QVERIFY(!bytes.contains("OLD-1"));
    ConfigXML reread(path, false);
    QVERIFY(reread.readParam("OLD-1", "OFDM").isNull());
    QCOMPARE(reread.readParam("NEW-2", "OFDM"), QString("8K"));
    QVERIFY(prompts.boxes.isEmpty());
}

void TstConfigXml::readingRules()
{
    PromptRecorder prompts;
    const QString path = dir.filePath("edited.xml");
    // Edited by hand: attributes reordered, OFDM moved into stream_source, another tag name for the
    // modulator element, an empty value, and a second modulator.
    QVERIFY(writeFile(path,
        "<modulator_configuration_file conf_name=\"edited\">\n"
        "  <unit serial_number=\"A-1\">\n"
        "    <config refclockmux=\"external\" constellation=\"16QAM\" output=\"\"/>\n"
        "    <stream_source OFDM=\"2K\" input_type=\"ASI\"/>\n"
        "    <config OFDM=\"8K\"/>\n"
        "  </unit>\n"
        "  <modulator serial_number=\"a-1\">\n    <config OFDM=\"8K\"/>\n  </modulator>\n"
        "</modulator_configuration_file>\n"));
    ConfigXML xml(path, false);
    QVERIFY(xml.isLoaded());
    QCOMPARE(xml.readParam("A-1", "OFDM"), QString("2K"));
    QCOMPARE(xml.readParam("A-1", "constellation"), QString("16QAM"));
    QCOMPARE(xml.readParam("A-1", "input_type"), QString("ASI"));
    QCOMPARE(xml.readParam("a-1", "OFDM"), QString("8K"));
    const QString empty = xml.readParam("A-1", "output");
    QVERIFY(!empty.isNull());
    QCOMPARE(empty, QString(""));
    QVERIFY(xml.readParam("A-1", "bandwidth").isNull());
    QVERIFY(xml.readParam("B-2", "OFDM").isNull());
    QVERIFY(prompts.boxes.isEmpty());
}

void TstConfigXml::openAndParseErrors()
{
    {
        PromptRecorder prompts;
        ConfigXML xml(dir.filePath("missing-folder/x.xml"), false);
        QCOMPARE(prompts.boxes.size(), 1);
        QCOMPARE(prompts.boxes[0].icon, QMessageBox::Warning);
        QCOMPARE(prompts.boxes[0].title, QString("XML open error"));
        QCOMPARE(prompts.boxes[0].text, QString("Unable to open the configuration file"));
        QVERIFY(!xml.isLoaded());
        QVERIFY(xml.readParam("A", "OFDM").isNull());
        // Writing fails, the value stays in memory.
        xml.createRoot();
        QVERIFY(!xml.writeParam("A", "OFDM", "2K"));
        QCOMPARE(xml.readParam("A", "OFDM"), QString("2K"));
    }
    const QString garbage = dir.filePath("garbage.xml");
    QVERIFY(writeFile(garbage, "<modulator_configuration_file><modulator serial_number=\"A\">"));
    {
        PromptRecorder prompts;
        ConfigXML xml(garbage, false);
        QCOMPARE(prompts.boxes.size(), 1);
        QCOMPARE(prompts.boxes[0].title, QString("XML open error"));
        QCOMPARE(prompts.boxes[0].text, QString("Error while trying to set XML content"));
        QVERIFY(xml.readParam("A", "OFDM").isNull());
    }
    {
        // About to be overwritten by a save: the bad content is not worth a box.
        PromptRecorder prompts;
        ConfigXML xml(garbage, true);
        QVERIFY(prompts.boxes.isEmpty());
    }
}

QTEST_MAIN(TstConfigXml)
#include "tst_configxml.moc"
