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

    // Decodes the version held: the services of all its sections in section order.
    void parse();

    // The table_id_extension of an SDT is its transport_stream_id.
    quint16 getTransportStreamId() const { return extension; }
    const QList<sdt_service> &services() const { return serviceList; }

private:
    QList<sdt_service> serviceList;
};
