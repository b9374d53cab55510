// The Testing page: its groups as created, the option record it announces after every change, and the
// digit-only fields with their corrections.

#include "promptrecorder.h"
#include "streamingmisc.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QtTest>

class tst_streamingmisc : public QObject
{
    Q_OBJECT

private:
    template <typename T> T *child(const char *name)
    {
        T *w = page->findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no child %s", name);
        return w;
    }
    bool enabledIn(const char *group, const char *outer)
    {
        return child<QGroupBox>(group)->isEnabledTo(child<QGroupBox>(outer));
    }
    streamingmisc *page = nullptr;
    PromptRecorder *prompts = nullptr;
    // The record travels by reference, which a QSignalSpy cannot hold: count and keep its address.
    int emitted = 0;
    const streamingtools *last = nullptr;

private slots:
    void init()
    {
        prompts = new PromptRecorder;
        page = new streamingmisc;
        emitted = 0;
        connect(page, &streamingmisc::streamToolsOptionsChanged, this, [this](streamingtools &tools) {
            ++emitted;
            last = &tools;
        });
    }
    void cleanup()
    {
        delete page;
        delete prompts;
    }
    void formAsCreated()
    {
        // Both groups are created disabled (a connected session enables them); the injection options wait for
        // their check.
        QVERIFY(!child<QGroupBox>("loopAdaptation")->isEnabled());
        QVERIFY(!child<QGroupBox>("errorInjection")->isEnabled());
        QVERIFY(!enabledIn("scramblingOptions", "errorInjection"));
        // The checks and fields show the run defaults the record starts with.
        const streamingtools &t = page->options();
        const QList<bool> checks { t.getRAWmodeDisable(), t.getCCcorrection(), t.getPCRcorrection(),
            t.getSTARTcorrection(), t.getScramblingEna(), t.getScramblingOnPIDEna() };
        QCOMPARE(checks, (QList<bool> { true, true, true, true, false, false }));
        int i = 0;
        for (const char *name :
            { "RAW_modeDisable", "CC_Correction", "PCR_Correction", "Start_Synchro", "ScramblingEna", "SpecifyPIDEna" })
            QCOMPARE(child<QCheckBox>(name)->isChecked(), checks.at(i++));
        QCOMPARE(t.getScramblingGap(), qint64(1000));
        QCOMPARE(child<QLineEdit>("scramblingGap")->text(), QStringLiteral("1000"));
        QCOMPARE(t.getSuccessiveScramblingPackets(), qint64(1));
        QCOMPARE(child<QLineEdit>("successiveScram")->text(), QStringLiteral("1"));
        QCOMPARE(t.getPIDnumber(), quint16(0));
        QCOMPARE(child<QLineEdit>("PIDnumber")->text(), QStringLiteral("0"));
        QCOMPARE(emitted, 0);
    }
    void loopAdaptationChecks_data()
    {
        QTest::addColumn<QString>("box");
        QTest::newRow("continuity") << "CC_Correction";
        QTest::newRow("pcr") << "PCR_Correction";
        QTest::newRow("start") << "Start_Synchro";
    }
    void loopAdaptationChecks()
    {
        QFETCH(QString, box);
        const streamingtools &t = page->options();
        auto states = [&] { return QList<bool> { t.getCCcorrection(), t.getPCRcorrection(), t.getSTARTcorrection() }; };
        QList<bool> expected { true, true, true };
        expected[box == "CC_Correction" ? 0 : box == "PCR_Correction" ? 1 : 2] = false;
        QCheckBox *check = page->findChild<QCheckBox *>(box);
        QVERIFY(check);
        check->setChecked(false);
        QCOMPARE(emitted, 1);
        QCOMPARE(last, &t); // the signal carries the page's own record, already updated
        QCOMPARE(states(), expected);
        check->setChecked(true);
        QCOMPARE(emitted, 2);
        QCOMPARE(states(), (QList<bool> { true, true, true }));
    }
    void groupsFollowTheirChecks()
    {
        auto *raw = child<QCheckBox>("RAW_modeDisable");
        raw->setChecked(false);
        QCOMPARE(page->options().getRAWmodeDisable(), false);
        QVERIFY(!enabledIn("OptionsLoopAdaptation", "loopAdaptation"));
        raw->setChecked(true);
        QVERIFY(enabledIn("OptionsLoopAdaptation", "loopAdaptation"));
        QCOMPARE(page->options().getRAWmodeDisable(), true);

        auto *enable = child<QCheckBox>("ScramblingEna");
        auto *onPid = child<QCheckBox>("SpecifyPIDEna");
        enable->setChecked(true);
        QCOMPARE(page->options().getScramblingEna(), true);
        QVERIFY(enabledIn("scramblingOptions", "errorInjection"));
        QVERIFY(!enabledIn("SpecifyPIDOptions", "errorInjection"));
        onPid->setChecked(true);
        QCOMPARE(page->options().getScramblingOnPIDEna(), true);
        QVERIFY(enabledIn("SpecifyPIDOptions", "errorInjection"));
        enable->setChecked(false);
        QVERIFY(!enabledIn("scramblingOptions", "errorInjection"));
        QCOMPARE(page->options().getScramblingEna(), false);
        QCOMPARE(page->options().getScramblingOnPIDEna(), true);
        // Injection back on with the PID box still checked: the PID group comes back with it.
        enable->setChecked(true);
        QVERIFY(enabledIn("SpecifyPIDOptions", "errorInjection"));
        onPid->setChecked(false);
        QVERIFY(!enabledIn("SpecifyPIDOptions", "errorInjection"));
        QCOMPARE(emitted, 7);
    }
    void fields_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<bool>("box");
        const qint64 longest = std::numeric_limits<qint64>::max();
        auto row = [](const char *name, const char *field, const QString &typed, const QString &shown, qint64 value,
                       bool box = false) { QTest::newRow(name) << QString(field) << typed << shown << value << box; };
        // Every row starts from "77" in its field.
        row("gap 12a", "scramblingGap", "12a", "12", 12);
        row("gap empty keeps last", "scramblingGap", "", "", 77);
        row("gap int64 max", "scramblingGap", "9223372036854775807", "9223372036854775807", longest);
        row("gap does not fit", "scramblingGap", "99999999999999999999", "99999999999999999999", longest);
        row("gap 51 digits", "scramblingGap", QString(51, '1'), QString(50, '1'), longest);
        row("run 7x", "successiveScram", "7x", "7", 7);
        row("run 0 becomes 1", "successiveScram", "0", "1", 1);
        row("run does not fit", "successiveScram", "99999999999999999999", "1", 1);
        row("pid 9000", "PIDnumber", "9000", "8191", 8191, true);
        row("pid 8192", "PIDnumber", "8192", "8191", 8191, true);
        row("pid 8191", "PIDnumber", "8191", "8191", 8191);
        row("pid 0", "PIDnumber", "0", "0", 0);
        row("pid 5 digits", "PIDnumber", "12345", "1234", 1234);
        row("pid hex", "PIDnumber", "0x1", "0", 0);
    }
    void fields()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(qint64, value);
        QFETCH(bool, box);
        auto *edit = page->findChild<QLineEdit *>(field);
        QVERIFY(edit);
        edit->setText(QStringLiteral("77"));
        emitted = 0;
        edit->setText(typed);
        QCOMPARE(edit->text(), shown);
        const streamingtools &t = page->options();
        QCOMPARE(field == "scramblingGap"    ? t.getScramblingGap()
                : field == "successiveScram" ? t.getSuccessiveScramblingPackets()
                                             : qint64(t.getPIDnumber()),
            value);
        QVERIFY(emitted >= 1);
        QCOMPARE(prompts->boxes.size(), box ? 1 : 0);
        if (box) {
            QCOMPARE(prompts->boxes.first().icon, QMessageBox::Critical);
            QCOMPARE(prompts->boxes.first().title, QStringLiteral("Critical error"));
            QCOMPARE(prompts->boxes.first().text, QStringLiteral("Please enter correct PID value : 0 < PID < 8191"));
        }
    }
};

QTEST_MAIN(tst_streamingmisc)
#include "tst_streamingmisc.moc"
