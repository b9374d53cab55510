#include "flashexchange.h"

bool FlashExchange::split(const QByteArray &image, QString *headerHex, QStringList *packetsHex)
{
    headerHex->clear();
    packetsHex->clear();
    if (image.size() < HEADER_SIZE)
        return false;
    *headerHex = toHex(image.left(HEADER_SIZE));
    for (int offset = HEADER_SIZE; offset < image.size(); offset += PACKET_SIZE)
        packetsHex->append(toHex(image.mid(offset, PACKET_SIZE)));
    return true;
}

QString FlashExchange::toHex(const QByteArray &bytes)
{
    // QByteArray::toHex writes lower-case digits, which the console expects.
    return QString::fromLatin1(bytes.toHex());
}

int FlashExchange::percent(qint64 sent, qint64 total)
{
    if (total <= 0 || sent < 0)
        return -1;
    // Integer rounding, half up: no floating-point edge at exact halves.
    return int((sent * 200 + total) / (2 * total));
}

QList<int> FlashExchange::progressSteps(qint64 imageSize)
{
    QList<int> steps;
    if (imageSize < HEADER_SIZE)
        return steps;
    FlashExchange progress(imageSize);
    for (qint64 left = imageSize - HEADER_SIZE; left > 0; left -= PACKET_SIZE)
        steps.append(progress.packetSent(int(qMin<qint64>(left, PACKET_SIZE))));
    return steps;
}

FlashExchange::FlashExchange(qint64 imageSize)
    : total(imageSize)
    , sent(qMin<qint64>(imageSize, HEADER_SIZE))
{
}

int FlashExchange::packetSent(int packetBytes)
{
    sent += qMax(0, packetBytes);
    const int value = percent(sent, total);
    if (value < threshold)
        return -1;
    // One step per packet, even when the figure jumped past several thresholds.
    threshold += PROGRESS_STEP;
    return value;
}
