#pragma once
// Japanese character-set conversion: half-width katakana widening and
// Shift_JIS (code page 932) <-> ISO-2022-JP.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

/// Half-width katakana (U+FF61-U+FF9F) widened to full width; a kana followed
/// by a voiced or semi-voiced mark is combined into the precomposed kana.
QString WidenKana(const QString &text);

/// Rewrites text in place: half-width katakana widened one for one (no
/// combining), other single bytes 0x80-0xFF of code page 932 replaced by ".".
/// Returns true when a widened or double-byte character was seen.
bool CheckNonAscii(QString &text);

/// The Shift_JIS -> JIS X 0208 row/cell transform. Both bytes are replaced by
/// the two JIS bytes, or by two zero bytes when the code is outside the
/// transform's ranges.
void SjisPairToJis(quint8 &s1, quint8 &s2);

/// Text to ISO-2022-JP bytes (ESC $ B ... ESC ( B around each two-byte run).
/// A character of the IBM extension rows goes out as its duplicate in the
/// NEC-selected rows, row 13 or row 2. The output is always 7-bit and always
/// ends in ASCII mode.
QByteArray SjisToJis(const QString &text);

/// The distinct characters (whole code points) that SjisToJis would send as
/// "?", in order of first appearance. A "?" in the text itself is not one.
QString UnsendableCharacters(const QString &text);

/// What the decoder does with one single byte left over at the end of its input.
enum class FinalByte {
    Drop, ///< the memo body's rule: only 0xA0-0xDF are kept
    Keep, ///< header words: an ASCII byte or a half-width kana byte is kept
};

/// ISO-2022-JP (or raw Shift_JIS) bytes to text.
QString JisBytesToText(QByteArrayView bytes, FinalByte finalByte = FinalByte::Drop);

/// Received mail bytes to text; the same as JisBytesToText with the body's rule.
QString JisToText(QByteArrayView mailBytes);
