#pragma once
// The firmware image as it goes over the console: a 34-byte header announced with setFlashRequest, then
// the payload in packets of 262 bytes with setFlashPacket, every byte as two lower-case hex digits; and the
// progress figure shown after each packet. Plain value code, any thread.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class FlashExchange
{
public:
    static constexpr int HEADER_SIZE = 34; // encrypted header (32) and its CRC-16 (2), sent as stored
    static constexpr int PACKET_SIZE = 262; // payload bytes per setFlashPacket line
    static constexpr int PROGRESS_STEP = 5; // the display moves in steps of at least 5 %

    // Splits an image into the header text and the packet texts; false (outputs cleared) when the image is
    // shorter than a header.
    static bool split(const QByteArray &image, QString *headerHex, QStringList *packetsHex);
    static QString toHex(const QByteArray &bytes);
    // sent × 100 / total rounded to the nearest whole number; -1 when total is not positive.
    static int percent(qint64 sent, qint64 total);
    // For each packet of an image of imageSize bytes: the percentage to show after it, or -1 to leave the
    // display as it is.
    static QList<int> progressSteps(qint64 imageSize);

    // Progress of one download: starts with the header counted as sent.
    explicit FlashExchange(qint64 imageSize);
    // After a packet of packetBytes went out: the percentage to show, or -1 below the next threshold.
    int packetSent(int packetBytes);
    qint64 bytesSent() const { return sent; }

private:
    qint64 total;
    qint64 sent;
    int threshold = PROGRESS_STEP;
};
