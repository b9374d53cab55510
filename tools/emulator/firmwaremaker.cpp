#include "firmwaremaker.h"

#include "firmwareimage.h"

#include <QCommandLineParser>
#include <QFile>
#include <QSaveFile>

#include <cstdio>

namespace
{
int fail(const QString &message)
{
    std::fprintf(stderr, "make-firmware: %s\n", message.toLocal8Bit().constData());
    return 2;
}
}

QByteArray FirmwareMaker::filler(int size)
{
    QByteArray out(size, '\0');
    quint32 x = 0x2545f491u;
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = char(x & 0xff);
    }
    return out;
}

int FirmwareMaker::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes a firmware image for the emulated modulator."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("out"), QStringLiteral("Image file to write."));
    const QCommandLineOption name(
        QStringLiteral("name"), QStringLiteral("Firmware name (at most 20 characters)."), QStringLiteral("NAME"));
    const QCommandLineOption bank(QStringLiteral("bank"),
        QStringLiteral("Bank code, 0 to 5 (others make a refused image)."), QStringLiteral("N"));
    const QCommandLineOption serial(QStringLiteral("serial"),
        QStringLiteral("Serial number it is valid for (at most 6 characters)."), QStringLiteral("SN"));
    const QCommandLineOption payload(
        QStringLiteral("payload"), QStringLiteral("Payload file."), QStringLiteral("FILE"));
    const QCommandLineOption payloadSize(
        QStringLiteral("payload-size"), QStringLiteral("Generated payload of N bytes."), QStringLiteral("N"));
    parser.addOptions({ name, bank, serial, payload, payloadSize });
    QStringList args = arguments;
    args.prepend(QStringLiteral("nerio-emulator make-firmware"));
    if (!parser.parse(args))
        return fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("one output file expected"));
    if (!parser.isSet(name) || !parser.isSet(bank))
        return fail(QStringLiteral("--name and --bank are required"));
    if (parser.isSet(payload) == parser.isSet(payloadSize))
        return fail(QStringLiteral("give either --payload FILE or --payload-size N"));

    FirmwareHeader header;
    header.name = parser.value(name).toLatin1();
    if (header.name.isEmpty() || header.name.size() > FirmwareImage::MaxNameLength)
        return fail(QStringLiteral("the name takes 1 to %1 characters").arg(FirmwareImage::MaxNameLength));
    header.serial = parser.value(serial).toLatin1();
    if (header.serial.size() > FirmwareImage::SerialLength)
        return fail(QStringLiteral("the serial number takes at most %1 characters").arg(FirmwareImage::SerialLength));
    bool ok = false;
    header.bank = parser.value(bank).toInt(&ok);
    if (!ok || header.bank < -128 || header.bank > 127)
        return fail(QStringLiteral("the bank code is a signed 8-bit number"));

    QByteArray body;
    if (parser.isSet(payload)) {
        QFile in(parser.value(payload));
        if (!in.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1").arg(in.fileName()));
        body = in.readAll();
    } else {
        const int size = parser.value(payloadSize).toInt(&ok);
        if (!ok || size < 0 || size > 256 * 1024 * 1024)
            return fail(QStringLiteral("--payload-size takes 0 to 268435456 bytes"));
        body = filler(size);
    }
    header.size = quint32(body.size());
    const QByteArray stored = FirmwareImage::storedHeader(header);
    if (stored.isEmpty())
        return fail(QStringLiteral("cannot build the header"));
    QSaveFile out(parser.positionalArguments().constFirst());
    if (!out.open(QIODevice::WriteOnly) || out.write(stored + body) != stored.size() + body.size() || !out.commit())
        return fail(QStringLiteral("cannot write %1").arg(out.fileName()));
    return 0;
}
