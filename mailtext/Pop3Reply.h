#pragma once
// Framing of POP3 replies: a reply is acted on only when it is complete.

#include <QByteArray>

enum class FrameStatus { Incomplete, Complete, Bad };

struct Pop3Frame
{
    FrameStatus status = FrameStatus::Incomplete;
    qsizetype length = 0; ///< bytes of the complete reply, terminator included
};

/// Largest reply kept in the buffer; a server sending more is treated as broken.
inline constexpr qsizetype MaxPop3Reply = 64 * 1024 * 1024;

/// A status line ends at CR LF. A positive multi-line reply (RETR) ends with
/// its terminating "." line; a negative one is a status line alone.
Pop3Frame FramePop3Reply(const QByteArray &buffer, bool multiLine);

/// True when the first four characters of the reply, upper-cased, hold "+OK".
bool IsPositiveReply(const QByteArray &reply);
/// True when the first four characters of the reply, upper-cased, hold "-ERR".
bool IsNegativeReply(const QByteArray &reply);

/// The message count of a STAT reply ("+OK count size"), or -1 when it has none.
int StatMessageCount(const QByteArray &reply);
