#pragma once
// Shared by the fuzz programs: the input as the text the program would have received.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace clarow::fuzz {

// The bytes as characters off the serial line: 8-bit, one character per byte (NUL included).
inline QString SerialText(const uint8_t *data, size_t size)
{
    return QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size));
}

// The bytes as text read from a file or typed in a box (UTF-8, invalid sequences replaced).
inline QString FileText(const uint8_t *data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

// Stops the fuzzer with a report when a property of the parser does not hold.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            qFatal("property failed: %s (%s:%d)", #condition, __FILE__, __LINE__);                 \
    } while (false)

} // namespace clarow::fuzz
