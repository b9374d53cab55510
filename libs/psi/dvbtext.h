#pragma once
// Conversion of DVB service-information text (network, provider and service names) to QString.
// Stateless; any thread.

#include <QByteArray>
#include <QString>

class dvbtext
{
public:
    // Honours the character-table selector of ETSI EN 300 468 Annex A (0x01-0x0B, 0x10 + two bytes,
    // 0x11, 0x13-0x15). Text without a selector is read as ISO 8859-1, whose printable ASCII part
    // matches the default table. Characters below U+0020 (NUL, unknown selectors) are removed.
    static QString decode(const QByteArray &bytes);

private:
    static QString removeControls(const QString &text);
};
