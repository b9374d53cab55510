// The Testing page: its groups as created, the option record it announces after every change, and the
// digit-only fields with their corrections.

#include "promptrecorder.h"
#include "streamingmisc.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QTextDocument>
#include <QtTest>

class tst_streamingmisc : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void formAsCreated();
    void loopAdaptationChecks_data();
    void loopAdaptationChecks();
    void rawModeGatesOptions();
    void injectionGroupsFollowTheirChecks();
    void gapField_data();
    void gapField();
    void successiveField_data();
    void successiveField();
    void pidField_data();
    void pidField();

private:
    template <typename T> T *child(const char *name)
    {
        T *w = page->findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no child %s", name);
        return w;
    }
    streamingmisc *page = nullptr;
    // The record travels by reference, which a QSignalSpy cannot hold: count and keep its address.
    struct {
        int n = 0;
        const streamingtools *last = nullptr;
        int count() const { return n; }
        void clear() { n = 0; }
    } emitted;
    decltype(emitted) *spy = &emitted;
    PromptRecorder *prompts = nullptr;
};

void tst_streamingmisc::init()
{
    prompts = new PromptRecorder;
    page = new streamingmisc;
    emitted = {};
    connect(page, &streamingmisc::streamToolsOptionsChanged, this, [this](streamingtools &tools) {
        ++emitted.n;
        emitted.last = &tools;
    });
}

void tst_streamingmisc::cleanup()
{
    delete page;
    delete prompts;
}

void tst_streamingmisc::formAsCreated()
{
    QCOMPARE(child<QGroupBox>("loopAdaptation")->title(), QStringLiteral("LOOP ADAPTATION"));
    QVERIFY(!child<QGroupBox>("loopAdaptation")->isEnabled());
    QCOMPARE(child<QGroupBox>("errorInjection")->title(), QStringLiteral("ERRORS INJECTION"));
    QVERIFY(!child<QGroupBox>("errorInjection")->isEnabled());
    QCOMPARE(child<QGroupBox>("OptionsLoopAdaptation")->title(), QStringLiteral("Options"));
    QCOMPARE(child<QGroupBox>("scramblingPackets")->title(), QStringLiteral("Pseudo Random Scrambling Packets"));
    QCOMPARE(child<QGroupBox>("scramblingOptions")->title(), QStringLiteral("Scrambling Packets Options"));
    QVERIFY(!child<QGroupBox>("scramblingOptions")->isEnabled());
    QCOMPARE(child<QGroupBox>("SpecifyPIDOptions")->title(), QStringLiteral("Specify PID Options"));

    const struct {
        const char *name;
        const char *text;
        bool checked;
    } checks[] = {
        { "RAW_modeDisable", "RAW mode disable", true },
        { "CC_Correction", "Continuity counter", true },
        { "PCR_Correction", "PCR, DTS/PTS correction", true },
        { "Start_Synchro", "Start synchronization", true },
        { "ScramblingEna", "Enable", false },
        { "SpecifyPIDEna", "Enable", false },
    };
    for (const auto &c : checks) {
        QCOMPARE(child<QCheckBox>(c.name)->text(), QString::fromLatin1(c.text));
        QCOMPARE(child<QCheckBox>(c.name)->isChecked(), c.checked);
    }
    const QString tip = QStringLiteral(
        "Enter the number of packet you want to broadcast before simulate a lost packet. Please enter a digit.");
    const struct {
        const char *name;
        const char *text;
    } edits[] = { { "scramblingGap", "1000" }, { "successiveScram", "1" }, { "PIDnumber", "0" } };
    for (const auto &e : edits) {
        QCOMPARE(child<QLineEdit>(e.name)->text(), QString::fromLatin1(e.text));
        QVERIFY(Qt::mightBeRichText(child<QLineEdit>(e.name)->toolTip()));
        QVERIFY(child<QLineEdit>(e.name)->toolTip().contains(tip));
    }

    // The record starts with the run defaults.
    const streamingtools &t = page->options();
    QCOMPARE(t.getRAWmodeDisable(), true);
    QCOMPARE(t.getCCcorrection(), true);
    QCOMPARE(t.getPCRcorrection(), true);
    QCOMPARE(t.getSTARTcorrection(), true);
    QCOMPARE(t.getScramblingEna(), false);
    QCOMPARE(t.getScramblingOnPIDEna(), false);
    QCOMPARE(t.getScramblingGap(), qint64(1000));
    QCOMPARE(t.getPIDnumber(), quint16(0));
    QCOMPARE(t.getSuccessiveScramblingPackets(), qint64(1));
    QCOMPARE(spy->count(), 0);
}

void tst_streamingmisc::loopAdaptationChecks_data()
{
    QTest::addColumn<QString>("box");
    QTest::newRow("continuity") << "CC_Correction";
    QTest::newRow("pcr") << "PCR_Correction";
    QTest::newRow("start") << "Start_Synchro";
}

void tst_streamingmisc::loopAdaptationChecks()
{
    QFETCH(QString, box);
    auto read = [&](const streamingtools &t) {
        return box == QLatin1String("CC_Correction") ? t.getCCcorrection()
            : box == QLatin1String("PCR_Correction") ? t.getPCRcorrection()
                                                     : t.getSTARTcorrection();
    };
    QCheckBox *check = page->findChild<QCheckBox *>(box);
    QVERIFY(check);
    check->setChecked(false);
    QCOMPARE(spy->count(), 1);
    // The signal carries the page's own record, already updated.
    QCOMPARE(emitted.last, &page->options());
    QCOMPARE(read(page->options()), false);
    check->setChecked(true);
    QCOMPARE(spy->count(), 2);
    QCOMPARE(read(page->options()), true);
    // The other two stay as they were.
    QCOMPARE(
        page->options().getCCcorrection() && page->options().getPCRcorrection() && page->options().getSTARTcorrection(),
        true);
}

void tst_streamingmisc::rawModeGatesOptions()
{
    auto *raw = child<QCheckBox>("RAW_modeDisable");
    auto *options = child<QGroupBox>("OptionsLoopAdaptation");
    raw->setChecked(false);
    QCOMPARE(page->options().getRAWmodeDisable(), false);
    QVERIFY(!options->isEnabledTo(page->findChild<QGroupBox *>(QStringLiteral("loopAdaptation"))));
    QCOMPARE(spy->count(), 1);
    raw->setChecked(true);
    QVERIFY(options->isEnabledTo(page->findChild<QGroupBox *>(QStringLiteral("loopAdaptation"))));
    QCOMPARE(page->options().getRAWmodeDisable(), true);
    QCOMPARE(spy->count(), 2);
}

void tst_streamingmisc::injectionGroupsFollowTheirChecks()
{
    auto *enable = child<QCheckBox>("ScramblingEna");
    auto *onPid = child<QCheckBox>("SpecifyPIDEna");
    auto *options = child<QGroupBox>("scramblingOptions");
    auto *pidOptions = child<QGroupBox>("SpecifyPIDOptions");
    auto *outer = child<QGroupBox>("errorInjection");

    enable->setChecked(true);
    QCOMPARE(page->options().getScramblingEna(), true);
    QVERIFY(options->isEnabledTo(outer));
    QVERIFY(!pidOptions->isEnabledTo(outer));

    onPid->setChecked(true);
    QCOMPARE(page->options().getScramblingOnPIDEna(), true);
    QVERIFY(pidOptions->isEnabledTo(outer));

    enable->setChecked(false);
    QVERIFY(!options->isEnabledTo(outer));
    QCOMPARE(page->options().getScramblingEna(), false);
    QCOMPARE(page->options().getScramblingOnPIDEna(), true);

    // Injection back on with the PID box still checked: the PID group comes back with it.
    enable->setChecked(true);
    QVERIFY(pidOptions->isEnabledTo(outer));
    onPid->setChecked(false);
    QVERIFY(!pidOptions->isEnabledTo(outer));
    QCOMPARE(spy->count(), 5);
}

void tst_streamingmisc::gapField_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<qint64>("gap");
    QTest::newRow("12a") << "12a"
                         << "12" << qint64(12);
    QTest::newRow("zero") << "0"
                          << "0" << qint64(0);
    QTest::newRow("empty keeps last") << ""
                                      << "" << qint64(1000);
    QTest::newRow("does not fit") << "99999999999999999999"
                                  << "99999999999999999999" << qint64(9223372036854775807LL);
    QTest::newRow("51 digits") << QString(51, QLatin1Char('1')) << QString(50, QLatin1Char('1'))
                               << qint64(9223372036854775807LL);
    QTest::newRow("int64 max") << "9223372036854775807"
                               << "9223372036854775807" << qint64(9223372036854775807LL);
}

void tst_streamingmisc::gapField()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(qint64, gap);
    auto *edit = child<QLineEdit>("scramblingGap");
    edit->setText(typed);
    QCOMPARE(edit->text(), shown);
    QCOMPARE(page->options().getScramblingGap(), gap);
    QVERIFY(spy->count() >= 1);
}

void tst_streamingmisc::successiveField_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<qint64>("count");
    QTest::newRow("5") << "5"
                       << "5" << qint64(5);
    QTest::newRow("0 becomes 1") << "0"
                                 << "1" << qint64(1);
    QTest::newRow("7x") << "7x"
                        << "7" << qint64(7);
    QTest::newRow("does not fit") << "99999999999999999999"
                                  << "1" << qint64(1);
}

void tst_streamingmisc::successiveField()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(qint64, count);
    auto *edit = child<QLineEdit>("successiveScram");
    edit->setText(typed);
    QCOMPARE(edit->text(), shown);
    QCOMPARE(page->options().getSuccessiveScramblingPackets(), count);
}

void tst_streamingmisc::pidField_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("pid");
    QTest::addColumn<bool>("box");
    QTest::newRow("9000") << "9000"
                          << "8191" << 8191 << true;
    QTest::newRow("8191") << "8191"
                          << "8191" << 8191 << false;
    QTest::newRow("8192") << "8192"
                          << "8191" << 8191 << true;
    QTest::newRow("0") << "0"
                       << "0" << 0 << false;
    QTest::newRow("256") << "256"
                         << "256" << 256 << false;
    QTest::newRow("5 digits") << "12345"
                              << "1234" << 1234 << false;
    QTest::newRow("hex") << "0x1"
                         << "0" << 0 << false;
}

void tst_streamingmisc::pidField()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(int, pid);
    QFETCH(bool, box);
    auto *edit = child<QLineEdit>("PIDnumber");
    edit->setText(QStringLiteral("77"));
    spy->clear();
    edit->setText(typed);
    QCOMPARE(edit->text(), shown);
    QCOMPARE(int(page->options().getPIDnumber()), pid);
    QCOMPARE(prompts->boxes.size(), box ? 1 : 0);
    if (box) {
        QCOMPARE(prompts->boxes.first().icon, QMessageBox::Critical);
        QCOMPARE(prompts->boxes.first().title, QStringLiteral("Critical error"));
        QCOMPARE(prompts->boxes.first().text, QStringLiteral("Please enter correct PID value : 0 < PID < 8191"));
    }
    QVERIFY(spy->count() >= 1);
}

QTEST_MAIN(tst_streamingmisc)
#include "tst_streamingmisc.moc"
