// Application shell: welcome window, main window, frameless dragging, the movable group box's snapping,
// and the embedded images every ":/" path in code and forms needs.

#include "mainwindowimpl.h"
#include "movablegroupbox.h"
#include "welcomewindow.h"
#include "windowbar.h"

#include <QDirIterator>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

class tst_Shell : public QObject
{
    Q_OBJECT

private slots:
    void welcomeStartShowsMainWindow();
    void quitButtonsCloseTheMainWindow();
    void titleBarDragMovesWindow();
    void groupBoxSnapping();
    void everyReferencedImageIsEmbedded();
};

void tst_Shell::welcomeStartShowsMainWindow()
{
    MainWindowImpl window;
    welcomewindow welcome(nullptr, QStringLiteral("1.0"));
    connect(&welcome, &welcomewindow::startApplication, &window, &MainWindowImpl::startApplication);
    welcome.show();
    QVERIFY(QTest::qWaitForWindowExposed(&welcome));
    QVERIFY(!window.isVisible());
    QTest::mouseClick(welcome.findChild<QPushButton *>(QStringLiteral("start")), Qt::LeftButton);
    QVERIFY(window.isVisible());
}

void tst_Shell::quitButtonsCloseTheMainWindow()
{
    // The Configuration page's quit button closes the window, not just the tab stack the page sits in.
    for (const char *button : { "quitButton", "closeButton" }) {
        MainWindowImpl window;
        window.startApplication();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseClick(window.findChild<QPushButton *>(QLatin1String(button)), Qt::LeftButton);
        QVERIFY2(!window.isVisible(), button);
    }
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
    QMouseEvent move(QEvent::MouseMove, QPointF(0, 0), QPointF(520, 311), Qt::NoButton, Qt::LeftButton,
        Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    QCOMPARE(welcome.pos(), QPoint(500, 300));
}

void tst_Shell::groupBoxSnapping()
{
    // Box 200 x 100 inside a 1000 x 500 parent: the left snap column, then the top, right and bottom
    // margins, each from both sides.
    QList<QPoint> snapped;
    for (const QPoint &target : { QPoint(133, 50), QPoint(136, 50), QPoint(300, 3), QPoint(300, 5), QPoint(796, 50),
             QPoint(797, 50), QPoint(300, 450) })
        snapped << MovableGroupBox::snappedPosition(target, QSize(200, 100), QSize(1000, 500));
    QCOMPARE(snapped,
        QList<QPoint>({ QPoint(131, 50), QPoint(136, 50), QPoint(300, 0), QPoint(300, 5), QPoint(796, 50),
            QPoint(800, 50), QPoint(300, 400) }));
}

void tst_Shell::everyReferencedImageIsEmbedded()
{
    QStringList embedded;
    for (QDirIterator it(QStringLiteral(":/"), { QStringLiteral("*.png") }, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();)
        embedded << it.next();
    QVERIFY2(embedded.size() >= 40, qPrintable(QString::number(embedded.size())));

    // Literal ":/..." strings in code and forms; a literal that is not a whole file name is a prefix
    // completed at run time (an index, a level), so at least one image must start with it.
    const QRegularExpression literal(QStringLiteral("\"(:/[A-Za-z0-9_./-]*)\"|<(?:normaloff|iconset|pixmap)>(:/[^<]+)<"));
    int checked = 0;
    for (const QString &folder : { QStringLiteral("src"), QStringLiteral("libs"), QStringLiteral("tools") }) {
        QDirIterator files(QStringLiteral(NERIO_SOURCE_DIR "/") + folder,
            { QStringLiteral("*.cpp"), QStringLiteral("*.h"), QStringLiteral("*.ui") }, QDir::Files,
            QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString file = files.next();
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadOnly));
            for (auto matches = literal.globalMatch(QString::fromUtf8(f.readAll())); matches.hasNext();) {
                const auto m = matches.next();
                const QString path = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
                if (path == QLatin1String(":/") || path.contains(QLatin1String("...")))
                    continue; // the bare prefix, or a placeholder in a comment
                ++checked;
                const bool found = path.endsWith(QLatin1String(".png"))
                    ? QFile::exists(path)
                    : std::any_of(embedded.cbegin(), embedded.cend(), [&](const QString &e) { return e.startsWith(path); });
                QVERIFY2(found, qPrintable(file + QStringLiteral(": ") + path));
            }
        }
    }
    QVERIFY(checked >= 2);
}

QTEST_MAIN(tst_Shell)
#include "tst_shell.moc"
