#pragma once
// Network information table, actual network (ETSI EN 300 468, 5.2.1): only its network name is
// used. Scan thread only.

#include "table.h"

#include <QString>

class nit_table : public table
{
    Q_OBJECT
public:
    explicit nit_table(QObject *parent);

    // 3 for a network_information_section of the actual network (table_id 0x40), else 0.
    int parse();
    const QString &getNetworkName() const { return networkName; }

private:
    QString networkName;
};
