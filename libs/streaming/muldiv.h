#pragma once
// a * b / c with a 128-bit intermediate product, for clock arithmetic whose products outgrow 64 bits on runs
// of days (byte positions times 27 MHz ticks, nanoseconds times 90 kHz). The quotient must fit 64 bits.

#include <QtGlobal>

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

namespace muldiv
{

inline quint64 floorDiv(quint64 a, quint64 b, quint64 c)
{
#if defined(__SIZEOF_INT128__)
    __extension__ typedef unsigned __int128 u128;
    return static_cast<quint64>(static_cast<u128>(a) * b / c);
#else
    quint64 high = 0;
    const quint64 low = _umul128(a, b, &high);
    quint64 remainder = 0;
    return _udiv128(high, low, c, &remainder);
#endif
}

inline quint64 ceilDiv(quint64 a, quint64 b, quint64 c)
{
#if defined(__SIZEOF_INT128__)
    __extension__ typedef unsigned __int128 u128;
    return static_cast<quint64>((static_cast<u128>(a) * b + c - 1) / c);
#else
    quint64 high = 0;
    const quint64 low = _umul128(a, b, &high);
    quint64 remainder = 0;
    const quint64 q = _udiv128(high, low, c, &remainder);
    return remainder ? q + 1 : q;
#endif
}

// The remainder of a * b / c, for callers that need floor(a*b/c) and the fraction left.
inline quint64 remainder(quint64 a, quint64 b, quint64 c)
{
#if defined(__SIZEOF_INT128__)
    __extension__ typedef unsigned __int128 u128;
    return static_cast<quint64>(static_cast<u128>(a) * b % c);
#else
    quint64 high = 0;
    const quint64 low = _umul128(a, b, &high);
    quint64 rest = 0;
    _udiv128(high, low, c, &rest);
    return rest;
#endif
}

} // namespace muldiv
