// Every image path that code and forms load exists among the embedded resources.

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

class tst_Resources : public QObject
{
    Q_OBJECT

private slots:
    void everyReferencedImageIsEmbedded();
};

void tst_Resources::everyReferencedImageIsEmbedded()
{
    QStringList embedded;
    QDirIterator it(QStringLiteral(":/"), QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(QLatin1String(".png")))
            embedded << path;
    }
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
            const QString text = QString::fromUtf8(f.readAll());
            auto matches = literal.globalMatch(text);
            while (matches.hasNext()) {
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

QTEST_GUILESS_MAIN(tst_Resources)
#include "tst_resources.moc"
