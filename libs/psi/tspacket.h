#pragma once
// Transport packet constants and field accessors (ISO/IEC 13818-1, 2.4.3.2 and 2.4.3.4).
// Free functions over a raw 188-byte packet so the scan loops touch no heap; callers guarantee
// that the pointer covers PKT_SIZE bytes.

#include <QtGlobal>

namespace tspacket
{

constexpr int PKT_SIZE = 188;
constexpr quint8 SYNC_BYTE = 0x47;
constexpr int PID_COUNT = 8192; // 13-bit PID
constexpr quint16 PID_PAT = 0x0000;
constexpr quint16 PID_NIT = 0x0010;
constexpr quint16 PID_SDT = 0x0011;
constexpr quint16 PID_NULL = 0x1FFF;
constexpr quint64 SYSTEM_CLOCK_HZ = 27000000; // 2.4.2.1: PCR runs at 27 MHz
// The PCR counts base (33 bits) × 300 + extension, so it wraps at 2^33 × 300 ticks (2.4.3.5).
constexpr quint64 PCR_WRAP = (quint64(1) << 33) * 300;

inline quint16 pid(const uchar *p)
{
    return quint16(((p[1] & 0x1F) << 8) | p[2]);
}
inline bool payloadUnitStart(const uchar *p)
{
    return (p[1] & 0x40) != 0;
}
inline int adaptationFieldControl(const uchar *p)
{
    return (p[3] >> 4) & 3;
}
inline int continuityCounter(const uchar *p)
{
    return p[3] & 0x0F;
}

// PCR_flag lives in the adaptation field flags byte; a zero-length adaptation field has no flags.
inline bool hasPcr(const uchar *p)
{
    return (p[3] & 0x20) && p[4] != 0 && (p[5] & 0x10);
}

// discontinuity_indicator: the PCR that follows starts a new time base.
inline bool discontinuity(const uchar *p)
{
    return (p[3] & 0x20) && p[4] != 0 && (p[5] & 0x80);
}

// Only meaningful when hasPcr() is true; the bytes are inside the packet whatever their values.
inline quint64 pcr(const uchar *p)
{
    const quint64 base = (quint64(p[6]) << 25) | (quint64(p[7]) << 17) | (quint64(p[8]) << 9) | (quint64(p[9]) << 1)
        | (quint64(p[10]) >> 7);
    const quint64 ext = (quint64(p[10] & 1) << 8) | p[11];
    return base * 300 + ext;
}

} // namespace tspacket
