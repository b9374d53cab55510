// Frequency and channel dialog: typed frequencies against the channel list, validation colours, the
// "Between Channel" item, and what OK hands to the page.

#include "dialogfreq.h"
#include "panelfixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

class TstDialogFreq : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void typedFrequency_data();
    void typedFrequency();
    void betweenItemComesAndGoes();
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
    edit = child<QLineEdit>(dialog, "freqLineEdit");
    combo = child<QComboBox>(dialog, "channelComboBox");
    status = child<QLabel>(dialog, "checkFreq");
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

void TstDialogFreq::typedFrequency_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("colour");
    QTest::addColumn<int>("x");
    QTest::newRow("666") << "666" << 24 << "Valid Frequency" << "0a0" << 150;
    QTest::newRow("474") << "474" << 0 << "Valid Frequency" << "0a0" << 150;
    QTest::newRow("858") << "858" << 48 << "Valid Frequency" << "0a0" << 150;
    QTest::newRow("670") << "670" << 49 << "Warning : frequency between 2 channels" << "fa0" << 50;
    // Invalid entries keep the typed text and the list where it was.
    QTest::newRow("858.5") << "858.5" << 10 << "Invalid Frequency" << "f00" << 200;
    QTest::newRow("473") << "473" << 10 << "Invalid Frequency" << "f00" << 200;
    QTest::newRow("abc") << "abc" << 10 << "Invalid Frequency" << "f00" << 200;
}

void TstDialogFreq::typedFrequency()
{
    QFETCH(QString, typed);
    QFETCH(int, index);
    QFETCH(QString, text);
    QFETCH(QString, colour);
    QFETCH(int, x);
    combo->setCurrentIndex(10);
    type(typed);
    QCOMPARE(combo->currentIndex(), index);
    QCOMPARE(edit->text(), typed);
    QCOMPARE(status->text(), text);
    QCOMPARE(status->styleSheet(), "#checkFreq {font-weight: bold; color: #" + colour + ";}");
    QCOMPARE(status->x(), x);
}

void TstDialogFreq::betweenItemComesAndGoes()
{
    type("670");
    QCOMPARE(combo->count(), 50);
    QCOMPARE(combo->currentText(), QString("Between Channel 45 and 46"));
    type("673.5");
    QCOMPARE(combo->count(), 50);
    QCOMPARE(combo->currentText(), QString("Between Channel 45 and 46"));
    // Dropping the item must not count as picking channel 69.
    type("666");
    QCOMPARE(combo->count(), 49);
    QCOMPARE(combo->currentIndex(), 24);
    QCOMPARE(edit->text(), QString("666"));
    // Nor, from a "Between" entry, may an invalid one be rewritten with channel 69's centre.
    type("670");
    type("abc");
    QCOMPARE(edit->text() + ' ' + status->text(), QString("abc Invalid Frequency"));
    QCOMPARE(combo->count(), 49);
}

void TstDialogFreq::opensOnPanelFrequency()
{
    panel->setFrequency("670.000", "Between Channel 45 and 46");
    dialog->initFromPanel();
    QCOMPARE(combo->count(), 50);
    QCOMPARE(combo->currentText(), QString("Between Channel 45 and 46"));
    QCOMPARE(edit->text(), QString("670.000"));
    QCOMPARE(status->x(), 80);

    DialogFreq second;
    second.setPanel(panel);
    panel->setFrequency("690.000", "Channel 48");
    second.initFromPanel();
    QCOMPARE(child<QComboBox>(&second, "channelComboBox")->currentIndex(), 27);
    // Picking the channel rewrote the field with its centre.
    QCOMPARE(child<QLineEdit>(&second, "freqLineEdit")->text() + ' ' + child<QLabel>(&second, "checkFreq")->text(),
        QString("690 Valid Frequency"));
}

void TstDialogFreq::okHandsFrequencyToPanel()
{
    dialog->show();
    type("670");
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QCOMPARE(panel->frequencyText(), QString("670.000"));
    QCOMPARE(child<QLabel>(panel, "channelLabel")->text(), QString("> 45 and < 46"));
    QVERIFY(!dialog->isVisible());
    // OK with an invalid entry: the page keeps its frequency.
    dialog->show();
    type("900");
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QCOMPARE(panel->frequencyText(), QString("670.000"));
}

void TstDialogFreq::panelOpensDialog()
{
    panel->show();
    QTest::mouseClick(child<QPushButton>(panel, "VCOButton"), Qt::LeftButton);
    QPointer<DialogFreq> opened;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<DialogFreq *>(w); d && d != dialog && d->isVisible())
            opened = d;
    QVERIFY(opened && opened->isModal());
    QCOMPARE(child<QComboBox>(opened, "channelComboBox")->currentIndex(), 24);
    QTest::mouseClick(child<QPushButton>(opened, "closeButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(opened.isNull(), 2000);
}

QTEST_MAIN(TstDialogFreq)
#include "tst_dialogfreq.moc"
