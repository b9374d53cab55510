#pragma once
// `nerio-emulator make-firmware OUT.bin --name NAME --bank N [--serial SN]
//  (--payload FILE | --payload-size N)`: writes a valid firmware image.

#include <QByteArray>
#include <QStringList>

class FirmwareMaker
{
public:
    // arguments: everything after "make-firmware". Returns the process exit code.
    static int run(const QStringList &arguments);
    // Deterministic filler for --payload-size, so two runs make the same image.
    static QByteArray filler(int size);
};
