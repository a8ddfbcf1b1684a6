#pragma once
// Base64 and B-encoded ISO-2022-JP encoded-words for mail headers.

#include <QByteArray>
#include <QString>

/// One character of the Base64 alphabet for 0-63; empty text for any other value.
QString Base64Char(int value);

/// Standard Base64 on one unbroken line.
QString Base64Encode(const QByteArray &bytes);

/// "=?ISO-2022-JP?B?" + Base64 of the ISO-2022-JP form of text + "?=".
QString EncodeWord(const QString &text);

/// The whole text as B-encoded ISO-2022-JP words of at most 75 characters,
/// nothing between them: any whitespace between two words would reach a reader
/// that keeps it as text. Each word ends with ESC ( B, so a reader that drops a
/// word's last byte loses nothing of the text.
QString EncodeNameWords(const QString &text);

/// Every run of non-ASCII characters replaced by encoded-words of at most 18
/// characters each, with one space inserted before the first word of a run and
/// after every word.
QString EncodeHeaderText(const QString &text);

/// Decodes the Base64 payload of one encoded-word to text. Characters outside
/// the alphabet are skipped; decoding stops at the first "=".
QString Base64JisDecode(const QString &b64);

/// The header value with every "=?ISO-2022-JP?B?...?=" word (label matched
/// without regard to case) decoded; everything else is left as it is.
QString DecodeHeaderText(const QString &value);

/// A display name as received (the text before the address, line breaks of
/// folding removed) made ready to show: quotes and escapes undone, encoded-words
/// of ISO-2022-JP, UTF-8, Shift_JIS and other known charsets decoded, B or Q,
/// spaces trimmed. An encoded-word of an unknown charset stays as it is.
QString DecodeDisplayName(const QString &phrase);
