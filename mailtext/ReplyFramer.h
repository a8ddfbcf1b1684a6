#pragma once
// Whole-reply framing for the line session: bytes go in as they arrive, and
// only complete replies come out. Pure: no socket, no timers.

#include <QByteArray>

/// Bounds of one connection.
struct LineLimits
{
    int replyTimeoutMs = 60000; ///< a reply's first line is due this long after its command
    int quitTimeoutMs = 5000;   ///< the reply to the closing command
    /// A long answer may take longer than replyTimeoutMs only while it keeps
    /// arriving: at least minBytesPerWindow bytes in every rateWindowMs.
    int rateWindowMs = 10000;
    qsizetype minBytesPerWindow = 1024;
    qsizetype maxLine = 8 * 1024;           ///< a status line longer than this is garbage
    qsizetype maxReply = 1024 * 1024;       ///< a whole SMTP reply
    qsizetype maxAnswer = 64 * 1024 * 1024; ///< a multi-line answer kept in memory
    int readDelayMs = 0;                    ///< the configured pause before reading
};

/// How the reply to a command ends.
enum class ReplyForm {
    Pop3Line,      ///< one status line
    Pop3MultiLine, ///< "+OK" line, data, "." line; a negative reply is one line
    Smtp,          ///< lines "nnn-" up to the line "nnn " (or "nnn")
    Pop3Sasl,      ///< one status line, or a "+ " continuation of AUTH
};

/// One whole reply, as it arrived (terminator included).
struct LineReply
{
    QByteArray bytes;
    /// A multi-line answer over maxAnswer: read through, not kept; bytes
    /// holds its status line only.
    bool tooLarge = false;
};

/// A POP3 reply is positive when its first four characters, upper-cased,
/// hold "+OK".
bool IsPositive(const QByteArray &reply);

/// A POP3 AUTH continuation: "+" alone or "+ " and a base64 challenge.
bool IsContinuation(const QByteArray &reply);

class ReplyFramer
{
public:
    enum class Status { Incomplete, Complete, Bad };

    explicit ReplyFramer(const LineLimits &limits) : m_limits(limits) {}

    /// The form of the next reply.
    void expect(ReplyForm form);
    void append(const QByteArray &bytes);
    void append(QByteArrayView bytes);
    bool isEmpty() const { return m_buffer.isEmpty(); }

    /// Takes the whole reply at the front, if there is one. In the POP3
    /// forms a line that is neither "+OK" nor "-ERR" answers nothing and is
    /// dropped. Each call searches on from where the last one stopped, so a
    /// long answer is framed in linear time.
    Status next(LineReply &reply);

    /// The positive status line of a multi-line answer has come; its data
    /// is on its way.
    bool dataStarted() const { return m_statusEnd >= 0 || m_discarding; }

private:
    qsizetype frame();
    qsizetype statusLine();

    LineLimits m_limits;
    ReplyForm m_form = ReplyForm::Pop3Line;
    QByteArray m_buffer;
    qsizetype m_scan = 0;       ///< where the search for the terminator goes on
    qsizetype m_statusEnd = -1; ///< end of a multi-line answer's status line
    bool m_discarding = false;  ///< reading through an answer that is too large
    QByteArray m_discardStatus;
};
