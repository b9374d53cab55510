// Frequency and channel dialog: typed frequencies against the channel list, validation colours, the
// "Between Channel" item, and what OK hands to the page.

#include "configurationpanel.h"
#include "dialogfreq.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

class TstDialogFreq : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void form();
    void typedFrequency_data();
    void typedFrequency();
    void betweenItemComesAndGoes();
    void invalidKeepsList();
    void pickingChannelWritesCentre();
    void opensOnPanelFrequency();
    void okHandsFrequencyToPanel();
    void panelOpensDialog();

private:
    void type(const QString &text);

    ConfigurationPanel *panel = nullptr;
    DialogFreq *dialog = nullptr;
    QLineEdit *edit = nullptr;
    QComboBox *combo = nullptr;
    QLabel *status = nullptr;
};

void TstDialogFreq::init()
{
    panel = new ConfigurationPanel;
    dialog = new DialogFreq;
    dialog->setPanel(panel);
    edit = dialog->findChild<QLineEdit *>("freqLineEdit");
    combo = dialog->findChild<QComboBox *>("channelComboBox");
    status = dialog->findChild<QLabel *>("checkFreq");
    QVERIFY(edit && combo && status);
}

void TstDialogFreq::cleanup()
{
    delete dialog;
    delete panel;
}

void TstDialogFreq::type(const QString &text)
{
    edit->clear();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

void TstDialogFreq::form()
{
    QCOMPARE(combo->count(), 49);
    QCOMPARE(combo->itemText(0), QString("Channel 21"));
    QCOMPARE(combo->itemText(48), QString("Channel 69"));
    QCOMPARE(edit->text(), QString("666"));
    QCOMPARE(edit->toolTip(), QString("From 474MHz to 786MHz"));
    QCOMPARE(dialog->findChild<QLabel *>("WindowTitle")->text(), QString("Frequency  Configuration"));
    QCOMPARE(dialog->findChild<QPushButton *>("okButton")->toolTip(), QString("Apply changes"));
    QCOMPARE(dialog->findChild<QPushButton *>("cancelButton")->toolTip(), QString("Get current configuration"));
    QCOMPARE(dialog->findChild<QPushButton *>("closeButton")->toolTip(), QString("Close"));
    QCOMPARE(dialog->findChild<QPushButton *>("minButton")->toolTip(), QString("Minimize"));
    QVERIFY(dialog->findChild<QFrame *>("topFrame")->inherits("WindowBar"));
    QVERIFY(dialog->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
}

void TstDialogFreq::typedFrequency_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("style");
    QTest::addColumn<int>("x");
    QTest::newRow("666") << "666" << 24 << "Valid Frequency" << "#checkFreq {font-weight: bold; color: #0a0;}" << 150;
    QTest::newRow("474") << "474" << 0 << "Valid Frequency" << "#checkFreq {font-weight: bold; color: #0a0;}" << 150;
    QTest::newRow("858") << "858" << 48 << "Valid Frequency" << "#checkFreq {font-weight: bold; color: #0a0;}" << 150;
    QTest::newRow("670") << "670" << 49 << "Warning : frequency between 2 channels"
                         << "#checkFreq {font-weight: bold; color: #fa0;}" << 50;
}

void TstDialogFreq::typedFrequency()
{
    QFETCH(QString, typed);
    QFETCH(int, index);
    QFETCH(QString, text);
    QFETCH(QString, style);
    QFETCH(int, x);
    combo->setCurrentIndex(10);
    type(typed);
    QCOMPARE(combo->currentIndex(), index);
    QCOMPARE(status->text(), text);
    QCOMPARE(status->styleSheet(), style);
    QCOMPARE(status->x(), x);
}

void TstDialogFreq::betweenItemComesAndGoes()
{
    type("670");
    QCOMPARE(combo->count(), 50);
    QCOMPARE(combo->currentText(), QString("Between Channel 45 and 46"));
    QCOMPARE(edit->text(), QString("670"));
    type("673.5");
    QCOMPARE(combo->count(), 50);
    QCOMPARE(combo->currentText(), QString("Between Channel 45 and 46"));
    // Dropping the item must not count as picking channel 69.
    type("666");
    QCOMPARE(combo->count(), 49);
    QCOMPARE(combo->currentIndex(), 24);
    QCOMPARE(edit->text(), QString("666"));
}

void TstDialogFreq::invalidKeepsList()
{
    combo->setCurrentIndex(30);
    for (const char *bad : { "858.5", "473", "abc" }) {
        type(QString::fromLatin1(bad));
        QCOMPARE(status->text(), QString("Invalid Frequency"));
        QCOMPARE(status->styleSheet(), QString("#checkFreq {font-weight: bold; color: #f00;}"));
        QCOMPARE(status->x(), 200);
        QCOMPARE(combo->currentIndex(), 30);
        QCOMPARE(edit->text(), QString::fromLatin1(bad));
    }
    // From a "Between" entry: dropping that item must not rewrite the field with channel 69's centre.
    type("670");
    type("abc");
    QCOMPARE(edit->text(), QString("abc"));
    QCOMPARE(status->text(), QString("Invalid Frequency"));
    QCOMPARE(combo->count(), 49);
}

void TstDialogFreq::pickingChannelWritesCentre()
{
    combo->setCurrentIndex(5);
    combo->setCurrentIndex(0);
    QCOMPARE(edit->text(), QString("474"));
    QCOMPARE(status->text(), QString("Valid Frequency"));
    combo->setCurrentIndex(48);
    QCOMPARE(edit->text(), QString("858"));
}

void TstDialogFreq::opensOnPanelFrequency()
{
    panel->setFrequency("670.000", "Between Channel 45 and 46");
    dialog->initFromPanel();
    QCOMPARE(combo->count(), 50);
    QCOMPARE(combo->currentIndex(), 49);
    QCOMPARE(combo->currentText(), QString("Between Channel 45 and 46"));
    QCOMPARE(edit->text(), QString("670.000"));
    QCOMPARE(status->x(), 80);

    DialogFreq second;
    second.setPanel(panel);
    panel->setFrequency("690.000", "Channel 48");
    second.initFromPanel();
    QCOMPARE(second.findChild<QComboBox *>("channelComboBox")->currentIndex(), 27);
    // Picking the channel rewrote the field with its centre.
    QCOMPARE(second.findChild<QLineEdit *>("freqLineEdit")->text(), QString("690"));
}

void TstDialogFreq::okHandsFrequencyToPanel()
{
    dialog->show();
    type("670");
    QTest::mouseClick(dialog->findChild<QPushButton *>("okButton"), Qt::LeftButton);
    QCOMPARE(panel->frequencyText(), QString("670.000"));
    QCOMPARE(panel->findChild<QLabel *>("channelLabel")->text(), QString("> 45 and < 46"));
    QVERIFY(!dialog->isVisible());

    // OK with an invalid entry: the page keeps its frequency.
    dialog->show();
    type("900");
    QTest::mouseClick(dialog->findChild<QPushButton *>("okButton"), Qt::LeftButton);
    QCOMPARE(panel->frequencyText(), QString("670.000"));
}

void TstDialogFreq::panelOpensDialog()
{
    panel->show();
    QTest::mouseClick(panel->findChild<QPushButton *>("VCOButton"), Qt::LeftButton);
    DialogFreq *opened = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *d = qobject_cast<DialogFreq *>(w); d && d != dialog && d->isVisible())
            opened = d;
    }
    QVERIFY(opened);
    QVERIFY(opened->isModal());
    QCOMPARE(opened->findChild<QComboBox *>("channelComboBox")->currentIndex(), 24);
    QPointer<DialogFreq> guard(opened);
    QTest::mouseClick(opened->findChild<QPushButton *>("closeButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), 2000);
}

QTEST_MAIN(TstDialogFreq)
#include "tst_dialogfreq.moc"
