#pragma once
// An in-memory file with a path, for parsers that open a file by name: a memfd reached through
// /proc/self/fd, so a run touches no disk and leaves nothing behind.

#include <QString>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

class FuzzFile
{
public:
    FuzzFile(const uint8_t *data, size_t size)
    {
        fd = memfd_create("fuzz", 0);
        if (fd < 0)
            abort();
        size_t done = 0;
        while (done < size) {
            const ssize_t n = write(fd, data + done, size - done);
            if (n <= 0)
                abort();
            done += size_t(n);
        }
    }
    ~FuzzFile() { close(fd); }
    FuzzFile(const FuzzFile &) = delete;
    FuzzFile &operator=(const FuzzFile &) = delete;

    QString path() const { return QStringLiteral("/proc/self/fd/%1").arg(fd); }

private:
    int fd = -1;
};
