// Configuration files: the `other` section, the configuration name, reading rules, and the two error
// boxes. The byte layout of a full save is checked through the page in tst_configurationpanel.

#include "configxml.h"
#include "panelfixture.h"

class TstConfigXml : public QObject
{
    Q_OBJECT
private slots:
    void otherSectionForUnknownKeys();
    void configurationName_data();
    void configurationName();
    void saveReplacesExistingContent();
    void readingRules();
    void openAndParseErrors();

private:
    QTemporaryDir dir;
};

void TstConfigXml::otherSectionForUnknownKeys()
{
    PromptRecorder prompts;
    const QString path = dir.filePath("other.xml");
    ConfigXML xml(path, true);
    xml.createRoot();
    const QStringList kv { "inner_coder", "1/2", "site", "A&B \"north\" <mast>", "site", "Hill", "operator", "Zed",
        "inner_coder", "7/8" };
    for (int i = 0; i + 1 < kv.size(); i += 2)
        QVERIFY(xml.writeParam("S1", kv[i], kv[i + 1]));
    QCOMPARE(fileBytes(path),
        QByteArray("<modulator_configuration_file conf_name=\"other\">\n"
                   "  <modulator serial_number=\"S1\">\n"
                   "    <config OFDM=\"\" constellation=\"\" carrier_frequency=\"\" guard_interval=\"\" "
                   "inner_coder=\"7/8\" bandwidth=\"\" reduction=\"\" output=\"\" refclockmux=\"\"/>\n"
                   "    <stream_source input_type=\"\" IP_addr_method=\"\" stream_IP=\"\" stream_port=\"\"/>\n"
                   "    <other site=\"Hill\"/>\n"
                   "    <other operator=\"Zed\"/>\n"
                   "  </modulator>\n"
                   "</modulator_configuration_file>\n"));

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
    const QString path = dir.filePath(fileName);
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
    QVERIFY(!fileBytes(path).contains("OLD-1"));
    ConfigXML reread(path, false);
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
    QStringList read;
    for (const char *key : { "OFDM", "constellation", "input_type", "output" })
        read << xml.readParam("A-1", key);
    QCOMPARE(read, QStringList({ "2K", "16QAM", "ASI", "" }));
    QCOMPARE(xml.readParam("a-1", "OFDM"), QString("8K"));
    QVERIFY(!xml.readParam("A-1", "output").isNull());
    QVERIFY(xml.readParam("A-1", "bandwidth").isNull());
    QVERIFY(xml.readParam("B-2", "OFDM").isNull());
    QVERIFY(prompts.boxes.isEmpty());
}

void TstConfigXml::openAndParseErrors()
{
    PromptRecorder prompts;
    ConfigXML missing(dir.filePath("missing-folder/x.xml"), false);
    QVERIFY(!missing.isLoaded());
    const QString garbage = dir.filePath("garbage.xml");
    QVERIFY(writeFile(garbage, "<modulator_configuration_file><modulator serial_number=\"A\">"));
    ConfigXML unparsable(garbage, false);
    QVERIFY(unparsable.readParam("A", "OFDM").isNull());
    // About to be overwritten by a save: the bad content is not worth a box.
    ConfigXML overwritten(garbage, true);
    QCOMPARE(shownBoxes(prompts),
        QStringList({ "warning|XML open error|Unable to open the configuration file",
            "warning|XML open error|Error while trying to set XML content" }));
}

QTEST_MAIN(TstConfigXml)
#include "tst_configxml.moc"
