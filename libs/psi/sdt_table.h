#pragma once
// Service description table, actual transport stream (ETSI EN 300 468, 5.2.3). Scan thread only.

#include "table.h"

#include <QList>
#include <QString>

struct sdt_service {
    quint16 service_id = 0;
    quint8 free_CA_mode = 0; // 0 or 1
    QString provider_name;
    QString service_name;
};

class sdt_table : public table
{
    Q_OBJECT
public:
    explicit sdt_table(QObject *parent);

    // 3 for a service_description_section of the actual transport stream (table_id 0x42), else 0.
    int parse();

    quint16 getTransportStreamId() const { return transportStreamId; }
    const QList<sdt_service> &services() const { return serviceList; }

private:
    quint16 transportStreamId = 0;
    QList<sdt_service> serviceList;
};
