#pragma once
// What the kernel says of one received datagram in recvmsg's control messages: its arrival time
// (SO_TIMESTAMPNS) and the socket's count of datagrams dropped for want of buffer (SO_RXQ_OVFL). POSIX only.

#include <QtGlobal>

#include <cstring>
#include <ctime>
#include <sys/socket.h>

struct datagramarrival {
    qint64 arrivalNs = -1; // realtime clock; -1 when the kernel gave no time
    bool hasDrops = false;
    quint32 drops = 0;

    static datagramarrival of(msghdr &message)
    {
        datagramarrival a;
        for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != SOL_SOCKET)
                continue;
            if (c->cmsg_type == SO_RXQ_OVFL) {
                std::memcpy(&a.drops, CMSG_DATA(c), sizeof a.drops);
                a.hasDrops = true;
            } else if (c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec ts;
                std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
                a.arrivalNs = qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
            }
        }
        return a;
    }
};
