// Application shell: welcome window, main window, frameless dragging and the movable group box.

#include "mainwindowimpl.h"
#include "movablegroupbox.h"
#include "welcomewindow.h"
#include "windowbar.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QtTest>

class tst_Shell : public QObject
{
    Q_OBJECT

private slots:
    void mainWindowIsBuiltHidden();
    void welcomeStartShowsMainWindow();
    void welcomeCloseDoesNotStart();
    void titleBarDragMovesWindow();
    void groupBoxSnapping_data();
    void groupBoxSnapping();
    void groupBoxDragUsesParentCoordinates();
};

void tst_Shell::mainWindowIsBuiltHidden()
{
    MainWindowImpl window;
    QVERIFY(!window.isVisible());
    QCOMPARE(window.windowTitle(), QStringLiteral("Nerio Control - Calvora"));
    QCOMPARE(window.size(), QSize(1100, 650));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));

    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    QVERIFY(tabs);
    QVERIFY(tabs->isMovable());
    QCOMPARE(tabs->count(), 3);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Configuration"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Streaming"));
    QCOMPARE(tabs->tabText(2), QStringLiteral("Testing"));
    QVERIFY(tabs->tabIcon(0).isNull());
    QCOMPARE(tabs->widget(0)->metaObject()->className(), "ConfigurationPanel");
    QCOMPARE(tabs->widget(1)->metaObject()->className(), "streamingpanel");
    QCOMPARE(tabs->widget(2)->metaObject()->className(), "streamingmisc");

    auto *bar = window.findChild<WindowBar *>(QStringLiteral("topFrame"));
    QVERIFY(bar);
    QCOMPARE(bar->size(), QSize(1100, 41));
    QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("minButton"))->toolTip(), QStringLiteral("Minimize"));
    QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("closeButton"))->toolTip(),
        QStringLiteral("Quit application"));
    QCOMPARE(window.findChild<QWidget *>(QStringLiteral("mainFrame"))->geometry(), QRect(0, 0, 1100, 650));
}

void tst_Shell::welcomeStartShowsMainWindow()
{
    MainWindowImpl window;
    welcomewindow welcome(nullptr, QStringLiteral("1.0"));
    connect(&welcome, &welcomewindow::startApplication, &window, &MainWindowImpl::startApplication);
    QSignalSpy startSpy(&welcome, &welcomewindow::startApplication);

    QCOMPARE(welcome.windowTitle(), QStringLiteral("Welcome"));
    QVERIFY(welcome.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(welcome.findChild<QLabel *>(QStringLiteral("versionText"))->text(),
        QStringLiteral("Software version : 1.0"));
    QVERIFY(!welcome.findChild<QPushButton *>(QStringLiteral("pushButton_4"))->isEnabled());
    QVERIFY(!welcome.findChild<QLabel *>(QStringLiteral("calvora"))->pixmap(Qt::ReturnByValue).isNull());
    QVERIFY(!welcome.findChild<QLabel *>(QStringLiteral("Nerioproduct"))->pixmap(Qt::ReturnByValue).isNull());

    welcome.show();
    QVERIFY(QTest::qWaitForWindowExposed(&welcome));
    auto *start = welcome.findChild<QPushButton *>(QStringLiteral("start"));
    QCOMPARE(start->text(), QStringLiteral("Start"));
    // The start button holds the keyboard focus, so Enter starts.
    QCOMPARE(welcome.focusWidget(), start);
    QTest::keyClick(start, Qt::Key_Return);

    QCOMPARE(startSpy.count(), 1);
    QVERIFY(window.isVisible());
    QVERIFY(!welcome.isVisible());
}

void tst_Shell::welcomeCloseDoesNotStart()
{
    welcomewindow welcome(nullptr, QStringLiteral("1.0"));
    QSignalSpy startSpy(&welcome, &welcomewindow::startApplication);
    welcome.show();
    QTest::mouseClick(welcome.findChild<QPushButton *>(QStringLiteral("closeButton")), Qt::LeftButton);
    QVERIFY(!welcome.isVisible());
    QCOMPARE(startSpy.count(), 0);
}

void tst_Shell::titleBarDragMovesWindow()
{
    welcomewindow welcome(nullptr, QStringLiteral("1.0"));
    welcome.move(100, 100);
    welcome.show();
    QVERIFY(QTest::qWaitForWindowExposed(&welcome));
    auto *bar = welcome.findChild<WindowBar *>(QStringLiteral("topFrame"));
    QVERIFY(bar);

    QMouseEvent press(QEvent::MouseButtonPress, QPointF(20.4, 10.6), bar->mapToGlobal(QPoint(20, 11)),
        Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &press);
    QCOMPARE(bar->cursor().shape(), Qt::SizeAllCursor);
    QMouseEvent move(QEvent::MouseMove, QPointF(0, 0), QPointF(520, 311), Qt::NoButton, Qt::LeftButton,
        Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    QCOMPARE(welcome.pos(), QPoint(500, 300));
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(0, 0), QPointF(520, 311), Qt::LeftButton,
        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &release);
    QCOMPARE(bar->cursor().shape(), Qt::ArrowCursor);
}

void tst_Shell::groupBoxSnapping_data()
{
    QTest::addColumn<QPoint>("target");
    QTest::addColumn<QPoint>("expected");

    // Box 200 x 100 inside a 1000 x 500 parent.
    QTest::newRow("left of snap column") << QPoint(133, 50) << QPoint(131, 50);
    QTest::newRow("far left") << QPoint(-40, 50) << QPoint(131, 50);
    QTest::newRow("right of snap column") << QPoint(140, 50) << QPoint(140, 50);
    QTest::newRow("exactly at snap column") << QPoint(136, 50) << QPoint(136, 50);
    QTest::newRow("near top") << QPoint(300, 3) << QPoint(300, 0);
    QTest::newRow("top edge kept") << QPoint(300, 5) << QPoint(300, 5);
    QTest::newRow("past right edge") << QPoint(900, 50) << QPoint(800, 50);
    QTest::newRow("just inside right") << QPoint(796, 50) << QPoint(796, 50);
    QTest::newRow("one past right margin") << QPoint(797, 50) << QPoint(800, 50);
    QTest::newRow("past bottom edge") << QPoint(300, 450) << QPoint(300, 400);
}

void tst_Shell::groupBoxSnapping()
{
    QFETCH(QPoint, target);
    QFETCH(QPoint, expected);
    QCOMPARE(MovableGroupBox::snappedPosition(target, QSize(200, 100), QSize(1000, 500)), expected);
}

void tst_Shell::groupBoxDragUsesParentCoordinates()
{
    QWidget parent;
    parent.resize(1000, 500);
    MovableGroupBox box(&parent);
    box.setGeometry(300, 200, 200, 100);

    QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(0, 0), Qt::LeftButton, Qt::LeftButton,
        Qt::NoModifier);
    QApplication::sendEvent(&box, &press);
    // Mouse moves to (60, 30) in the box = (360, 230) in the parent; minus the press offset.
    QMouseEvent move(QEvent::MouseMove, QPointF(60, 30), QPointF(0, 0), Qt::NoButton, Qt::LeftButton,
        Qt::NoModifier);
    QApplication::sendEvent(&box, &move);
    QCOMPARE(box.pos(), QPoint(350, 220));
}

QTEST_MAIN(tst_Shell)
#include "tst_shell.moc"
