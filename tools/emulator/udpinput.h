#pragma once
// The device's IP input: receives the transport stream on the configured multicast group (joined
// on the interface that holds the device's own address) or on its unicast address, and feeds
// the meter. Follows the parameters whenever a setting changes them.

#include "modulatordevice.h"

#include <QObject>
#include <QUdpSocket>

#include <functional>
#include <memory>

class WireLog;

class UdpInput : public QObject
{
    Q_OBJECT
public:
    UdpInput(ModulatorDevice *device, WireLog *log, std::function<qint64()> clock, QObject *parent = nullptr);

    // Rebinds when the input selection, address or port changed.
    void follow();

private:
    void readable();

    ModulatorDevice *device;
    WireLog *log;
    std::function<qint64()> clock;
    std::unique_ptr<QUdpSocket> socket;
    ModulatorDevice::IpListen current;
};
