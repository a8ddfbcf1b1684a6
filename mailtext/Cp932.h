#pragma once
// Code page 932 (Microsoft's Shift_JIS) conversion through lookup tables that
// are built once, on first use, from glibc's iconv "CP932" table.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace Cp932 {

/// Code page 932 form of one code point: a single byte 0x00-0xFF, or a
/// double-byte code as (lead << 8 | trail). A code point the code page cannot
/// carry (any character outside the Basic Multilingual Plane included) gives
/// '?' (0x3F).
quint16 FromUnicode(char32_t codePoint);

/// The character of a single byte or of a double-byte code (lead << 8 | trail).
/// A code the code page does not define gives U+30FB, as Windows does.
char16_t ToUnicode(quint16 code);

/// True when b is a lead byte of a double-byte code.
inline bool IsLeadByte(quint8 b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

/// The tables behind FromUnicode (indexed by BMP code point) and ToUnicode
/// (indexed by code), 65536 entries each, for converters that walk long texts.
const quint16 *FromUnicodeTable();
const char16_t *ToUnicodeTable();

/// Text to code page 932 bytes, one '?' per code point it cannot carry.
QByteArray Encode(const QString &text);

/// Code page 932 bytes to text. A lead byte at the very end gives U+30FB.
QString Decode(QByteArrayView bytes);

} // namespace Cp932
