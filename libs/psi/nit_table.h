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

    // Decodes the version held: the first network_name_descriptor of the network descriptors, in section order.
    void parse();
    const QString &getNetworkName() const { return networkName; }

private:
    QString networkName;
};
