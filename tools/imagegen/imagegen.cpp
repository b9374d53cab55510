// Draws every image the application embeds, under the resource names the windows load.
// Usage: nerio-imagegen <resources folder>

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>

#include <cmath>
#include <functional>

namespace {

QString outDir;
int failures = 0;

void save(const QString &name, int w, int h, const std::function<void(QPainter &, QRectF)> &draw)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        draw(p, QRectF(0, 0, w, h));
    }
    const QString path = outDir + QLatin1Char('/') + name;
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!img.save(path, "PNG")) {
        QTextStream(stderr) << "cannot write " << path << '\n';
        ++failures;
    }
}

// A rounded tile with a caption: the face of the selector buttons.
void tile(QPainter &p, QRectF r, const QColor &base, const QString &caption, int pointSize)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, base.lighter(150));
    g.setColorAt(1, base.darker(130));
    p.setPen(QPen(base.darker(180), 1.5));
    p.setBrush(g);
    p.drawRoundedRect(r.adjusted(1.5, 1.5, -1.5, -1.5), 8, 8);
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setBold(true);
    f.setPointSize(pointSize);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(r, Qt::AlignCenter, caption);
}

void antenna(QPainter &p, QRectF r, const QColor &colour, int level)
{
    const qreal cx = r.width() * 0.30;
    p.setPen(QPen(QColor(60, 60, 60), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(cx, r.height() - 4), QPointF(cx, 14));
    p.drawLine(QPointF(cx - 9, 8), QPointF(cx, 18));
    p.drawLine(QPointF(cx + 9, 8), QPointF(cx, 18));
    p.setBrush(colour);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(cx, 10), 4, 4);
    // Four bars, lit up to the level.
    for (int i = 0; i < 4; ++i) {
        const qreal bh = 8 + i * 8;
        QRectF bar(r.width() * 0.52 + i * 6, r.height() - 4 - bh, 4.5, bh);
        p.setBrush(i < level ? colour : QColor(190, 190, 190));
        p.drawRoundedRect(bar, 1, 1);
    }
}

void led(QPainter &p, QRectF r, const QColor &c)
{
    QRadialGradient g(r.center() - QPointF(r.width() / 6, r.height() / 6), r.width() / 2);
    g.setColorAt(0, c.lighter(180));
    g.setColorAt(1, c.darker(120));
    p.setBrush(g);
    p.setPen(QPen(c.darker(200), 1));
    p.drawEllipse(r.adjusted(1, 1, -1, -1));
}

void roundButton(QPainter &p, QRectF r, const QColor &c)
{
    QRadialGradient g(r.center() - QPointF(0, r.height() / 4), r.width() * 0.7);
    g.setColorAt(0, c.lighter(160));
    g.setColorAt(1, c.darker(140));
    p.setBrush(g);
    p.setPen(QPen(c.darker(200), 1.2));
    p.drawEllipse(r.adjusted(1, 1, -1, -1));
}

void loopArrows(QPainter &p, QRectF r)
{
    QPen pen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QRectF arc = r.adjusted(8, 9, -8, -9);
    p.drawArc(arc, 30 * 16, 150 * 16);
    p.drawArc(arc, 210 * 16, 150 * 16);
    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    const QPointF a(arc.right() - 1, arc.center().y() - 4);
    p.drawPolygon(QPolygonF({ a + QPointF(-5, -3), a + QPointF(5, -3), a + QPointF(0, 4) }));
    const QPointF b(arc.left() + 1, arc.center().y() + 4);
    p.drawPolygon(QPolygonF({ b + QPointF(-5, 3), b + QPointF(5, 3), b + QPointF(0, -4) }));
}

void padlock(QPainter &p, QRectF r, bool closed)
{
    p.setPen(QPen(QColor(90, 90, 90), 2.5));
    p.setBrush(Qt::NoBrush);
    const qreal w = r.width();
    QRectF shackle(w * 0.28, 2, w * 0.44, w * 0.5);
    if (closed) {
        p.drawArc(shackle, 0, 180 * 16);
        p.drawLine(QPointF(shackle.left(), shackle.center().y()), QPointF(shackle.left(), r.height() * 0.5));
    } else {
        shackle.translate(w * 0.18, -1);
        p.drawArc(shackle, 0, 180 * 16);
    }
    p.drawLine(QPointF(shackle.right(), shackle.center().y()), QPointF(shackle.right(), r.height() * 0.5));
    p.setPen(QPen(QColor(150, 110, 20), 1));
    p.setBrush(closed ? QColor(230, 180, 40) : QColor(120, 200, 120));
    p.drawRoundedRect(QRectF(w * 0.15, r.height() * 0.45, w * 0.7, r.height() * 0.5), 2, 2);
}

void treeIcon(QPainter &p, QRectF r, const QColor &c, const QString &glyph)
{
    p.setPen(QPen(c.darker(160), 1));
    p.setBrush(c);
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setBold(true);
    f.setPixelSize(int(r.height() * 0.62));
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(r, Qt::AlignCenter, glyph);
}

// The application icon: a transmitter mast sending, on a blue tile. Drawn on a 256-unit grid and scaled,
// so every size is the same drawing.
void applicationIcon(QPainter &p, QRectF r)
{
    p.scale(r.width() / 256.0, r.height() / 256.0);
    QLinearGradient tileGradient(0, 16, 0, 240);
    tileGradient.setColorAt(0, QColor(70, 130, 205));
    tileGradient.setColorAt(1, QColor(25, 60, 125));
    p.setPen(QPen(QColor(20, 45, 95), 8));
    p.setBrush(tileGradient);
    p.drawRoundedRect(QRectF(12, 12, 232, 232), 48, 48);

    const QPointF top(128, 92);
    QPen white(Qt::white, 18, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(white);
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({ QPointF(86, 214), top, QPointF(170, 214) }));
    white.setWidth(12);
    p.setPen(white);
    p.drawLine(QPointF(106, 160), QPointF(150, 160));
    p.drawLine(QPointF(96, 190), QPointF(160, 190));

    QPen wave(Qt::white, 16, Qt::SolidLine, Qt::RoundCap);
    p.setPen(wave);
    for (const qreal radius : { 40.0, 76.0 }) {
        const QRectF arc(top.x() - radius, top.y() - radius, 2 * radius, 2 * radius);
        p.drawArc(arc, 20 * 16, 50 * 16);
        p.drawArc(arc, 110 * 16, 50 * 16);
    }
    p.setPen(QPen(QColor(150, 30, 20), 4));
    p.setBrush(QColor(235, 70, 50));
    p.drawEllipse(top, 15, 15);
}

void drawAll()
{
    const QColor blue(40, 90, 160), teal(20, 130, 130), purple(110, 70, 150), grey(110, 110, 110);
    const QColor green(40, 170, 60), red(200, 40, 40), orange(230, 140, 20);

    // Selector faces: one image per item index, named after the button's accessible name.
    const QStringList inputs = { QStringLiteral("IP"), QStringLiteral("ASI") };
    for (int i = 0; i < inputs.size(); ++i)
        save(QStringLiteral("configurationPanel/inputButton%1.png").arg(i), 64, 48,
            [&](QPainter &p, QRectF r) { tile(p, r, blue, inputs[i], 13); });
    const QStringList constellations = { QStringLiteral("QPSK"), QStringLiteral("16\nQAM"), QStringLiteral("64\nQAM") };
    for (int i = 0; i < constellations.size(); ++i)
        save(QStringLiteral("configurationPanel/modulationButton%1.png").arg(i), 64, 48,
            [&](QPainter &p, QRectF r) { tile(p, r, purple, constellations[i], 10); });
    const QStringList bandwidths = { QStringLiteral("8\nMHz"), QStringLiteral("7\nMHz"), QStringLiteral("6\nMHz") };
    for (int i = 0; i < bandwidths.size(); ++i)
        save(QStringLiteral("configurationPanel/bandwidthButton%1.png").arg(i), 64, 48,
            [&](QPainter &p, QRectF r) { tile(p, r, grey, bandwidths[i], 10); });
    const QStringList modes = { QStringLiteral("2K"), QStringLiteral("8K") };
    for (int i = 0; i < modes.size(); ++i)
        save(QStringLiteral("configurationPanel/OFDMButton%1.png").arg(i), 64, 48,
            [&](QPainter &p, QRectF r) { tile(p, r, teal, modes[i], 13); });
    const QStringList clocks = { QStringLiteral("INT"), QStringLiteral("EXT") };
    for (int i = 0; i < clocks.size(); ++i)
        save(QStringLiteral("configurationPanel/clockRefButton%1.png").arg(i), 64, 48,
            [&](QPainter &p, QRectF r) { tile(p, r, orange.darker(110), clocks[i], 12); });
    save(QStringLiteral("configurationPanel/autoMux1.png"), 64, 48,
        [&](QPainter &p, QRectF r) { tile(p, r, QColor(150, 150, 150), QStringLiteral("AUTO"), 10); });

    for (int level = 0; level <= 4; ++level) {
        save(QStringLiteral("configurationPanel/antg%1.png").arg(level), 48, 48,
            [&](QPainter &p, QRectF r) { antenna(p, r, green, level); });
        save(QStringLiteral("configurationPanel/antr%1.png").arg(level), 48, 48,
            [&](QPainter &p, QRectF r) { antenna(p, r, red, level); });
    }
    save(QStringLiteral("configurationPanel/green.png"), 20, 20, [&](QPainter &p, QRectF r) { led(p, r, green); });
    save(QStringLiteral("configurationPanel/red.png"), 20, 20, [&](QPainter &p, QRectF r) { led(p, r, red); });

    save(QStringLiteral("configurationPanel/Actions-document-open-icon.png"), 32, 32, [&](QPainter &p, QRectF) {
        p.setPen(QPen(QColor(150, 110, 20), 1.2));
        p.setBrush(QColor(240, 200, 90));
        p.drawRoundedRect(QRectF(3, 8, 26, 19), 2, 2);
        p.setBrush(QColor(250, 220, 120));
        p.drawPolygon(QPolygonF({ QPointF(6, 13), QPointF(31, 13), QPointF(27, 27), QPointF(3, 27) }));
    });

    auto plug = [&](QPainter &p, QRectF r, bool joined) {
        const QColor c = joined ? green : red;
        p.setPen(QPen(QColor(60, 60, 60), 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, r.height() / 2), QPointF(16, r.height() / 2));
        p.drawLine(QPointF(r.width() - 16, r.height() / 2), QPointF(r.width() - 4, r.height() / 2));
        p.setPen(QPen(c.darker(150), 1.5));
        p.setBrush(c);
        const qreal gap = joined ? 0 : 7;
        p.drawRoundedRect(QRectF(15, r.height() / 2 - 8, r.width() / 2 - 15 - gap, 16), 3, 3);
        p.drawRoundedRect(QRectF(r.width() / 2 + gap, r.height() / 2 - 8, r.width() / 2 - 15 - gap, 16), 3, 3);
    };
    save(QStringLiteral("connexionPanel/Actions-network-connect-icon.png"), 48, 48,
        [&](QPainter &p, QRectF r) { plug(p, r, true); });
    save(QStringLiteral("connexionPanel/Actions-network-disconnect-icon.png"), 48, 48,
        [&](QPainter &p, QRectF r) { plug(p, r, false); });

    // Transport controls.
    save(QStringLiteral("play.png"), 40, 40, [&](QPainter &p, QRectF r) {
        roundButton(p, r, green);
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        p.drawPolygon(QPolygonF({ QPointF(15, 11), QPointF(15, 29), QPointF(29, 20) }));
    });
    save(QStringLiteral("pause.png"), 40, 40, [&](QPainter &p, QRectF r) {
        roundButton(p, r, orange);
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        p.drawRect(QRectF(13, 11, 5, 18));
        p.drawRect(QRectF(22, 11, 5, 18));
    });
    save(QStringLiteral("stop.png"), 40, 40, [&](QPainter &p, QRectF r) {
        roundButton(p, r, red);
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        p.drawRect(QRectF(13, 13, 14, 14));
    });
    save(QStringLiteral("loop.png"), 40, 40, [&](QPainter &p, QRectF r) {
        roundButton(p, r, grey);
        loopArrows(p, r);
    });
    save(QStringLiteral("loop-lock.png"), 40, 40, [&](QPainter &p, QRectF r) {
        roundButton(p, r, blue);
        loopArrows(p, r);
    });
    save(QStringLiteral("padlock-open.png"), 24, 24, [&](QPainter &p, QRectF r) { padlock(p, r, false); });
    save(QStringLiteral("padlock-closed.png"), 24, 24, [&](QPainter &p, QRectF r) { padlock(p, r, true); });
    save(QStringLiteral("seeker.png"), 64, 30, [&](QPainter &p, QRectF r) {
        QPainterPath bubble;
        bubble.addRoundedRect(QRectF(1, 1, r.width() - 2, r.height() - 8), 6, 6);
        bubble.moveTo(r.width() / 2 - 5, r.height() - 7);
        bubble.lineTo(r.width() / 2, r.height() - 1);
        bubble.lineTo(r.width() / 2 + 5, r.height() - 7);
        p.setPen(QPen(QColor(80, 80, 80), 1));
        p.setBrush(QColor(255, 255, 225));
        p.drawPath(bubble.simplified());
    });

    // Analysis tree icons.
    save(QStringLiteral("text.png"), 16, 16, [&](QPainter &p, QRectF r) { treeIcon(p, r, grey, QStringLiteral("T")); });
    save(QStringLiteral("data.png"), 16, 16, [&](QPainter &p, QRectF r) { treeIcon(p, r, teal, QStringLiteral("D")); });
    save(QStringLiteral("video.png"), 16, 16, [&](QPainter &p, QRectF r) { treeIcon(p, r, blue, QStringLiteral("V")); });
    save(QStringLiteral("audio.png"), 16, 16, [&](QPainter &p, QRectF r) { treeIcon(p, r, purple, QStringLiteral("A")); });
    save(QStringLiteral("tv.png"), 16, 16, [&](QPainter &p, QRectF) {
        p.setPen(QPen(QColor(40, 40, 40), 1));
        p.setBrush(QColor(70, 70, 70));
        p.drawRoundedRect(QRectF(0.5, 2.5, 15, 11), 2, 2);
        p.setBrush(QColor(120, 180, 240));
        p.drawRect(QRectF(2.5, 4.5, 11, 7));
    });
    save(QStringLiteral("ts.png"), 16, 16, [&](QPainter &p, QRectF r) { treeIcon(p, r, orange, QStringLiteral("S")); });
    save(QStringLiteral("bitrate.png"), 16, 16, [&](QPainter &p, QRectF r) {
        treeIcon(p, r, green.darker(120), QString());
        p.setPen(QPen(Qt::white, 1.5));
        p.drawPolyline(QPolygonF({ QPointF(2, 12), QPointF(6, 7), QPointF(9, 10), QPointF(14, 3) }));
    });

    // The application icon at the usual desktop sizes (installed into the hicolor theme; the window uses them too).
    for (const int size : { 16, 22, 24, 32, 48, 64, 128, 256 })
        save(QStringLiteral("icons/%1x%1/nerio-control.png").arg(size), size, size, applicationIcon);

    // Welcome window: maker logo and a product picture.
    save(QStringLiteral("welcome/calvora.png"), 180, 48, [&](QPainter &p, QRectF r) {
        p.setBrush(blue);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(2, 6, 36, 36));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(12, 16, 16, 16));
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setBold(true);
        f.setPixelSize(26);
        p.setFont(f);
        p.setPen(blue.darker(120));
        p.drawText(r.adjusted(46, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("CALVORA"));
    });
    save(QStringLiteral("welcome/Nerio-product.png"), 420, 240, [&](QPainter &p, QRectF) {
        QLinearGradient body(0, 110, 0, 210);
        body.setColorAt(0, QColor(90, 95, 105));
        body.setColorAt(1, QColor(35, 38, 45));
        p.setPen(QPen(QColor(20, 20, 20), 2));
        p.setBrush(body);
        p.drawRoundedRect(QRectF(20, 110, 380, 100), 10, 10);
        p.setBrush(QColor(20, 30, 40));
        p.drawRoundedRect(QRectF(40, 130, 150, 40), 4, 4);
        p.setPen(QColor(120, 230, 140));
        QFont f(QStringLiteral("DejaVu Sans Mono"));
        f.setPixelSize(14);
        p.setFont(f);
        p.drawText(QRectF(48, 134, 140, 32), Qt::AlignVCenter, QStringLiteral("666.000 MHz"));
        for (int i = 0; i < 4; ++i)
            led(p, QRectF(220 + i * 26, 142, 14, 14), i < 3 ? green : orange);
        p.setPen(QPen(QColor(50, 50, 50), 6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(360, 110), QPointF(360, 30));
        p.setPen(QPen(QColor(200, 60, 60, 160), 3));
        p.setBrush(Qt::NoBrush);
        for (int i = 1; i <= 3; ++i)
            p.drawArc(QRectF(360 - 14 * i, 30 - 14 * i, 28 * i, 28 * i), 20 * 16, 140 * 16);
    });
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: nerio-imagegen <resources folder>\n";
        return 2;
    }
    outDir = QString::fromLocal8Bit(argv[1]);
    drawAll();
    return failures == 0 ? 0 : 1;
}
