#include "ReplyFramer.h"

#include "FindText.h"

namespace {
/// Whether word (upper case) begins at or after the reply's first byte and
/// ends within its first four, in any case.
bool InFirstFour(const QByteArray &buffer, QByteArrayView word)
{
    const qsizetype last = qMin<qsizetype>(4, buffer.size()) - word.size();
    for (qsizetype at = 0; at <= last; ++at) {
        if (QByteArrayView(buffer).sliced(at, word.size()).compare(word, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool IsNegative(const QByteArray &buffer)
{
    return InFirstFour(buffer, "-ERR");
}

/// The size a "+OK 1234 octets" line announces, or 0.
qsizetype AnnouncedSize(const QByteArray &statusLine)
{
    const qsizetype blank = statusLine.indexOf(' ');
    if (blank < 0)
        return 0;
    qsizetype end = blank + 1;
    while (end < statusLine.size() && statusLine.at(end) >= '0' && statusLine.at(end) <= '9')
        ++end;
    bool ok = false;
    const qlonglong n = statusLine.mid(blank + 1, end - blank - 1).toLongLong(&ok);
    return ok && n > 0 ? qsizetype(n) : 0;
}
} // namespace

bool IsPositive(const QByteArray &buffer)
{
    return InFirstFour(buffer, "+OK");
}

bool IsContinuation(const QByteArray &buffer)
{
    return buffer.startsWith("+ ") || buffer.startsWith("+\r\n");
}

void ReplyFramer::expect(ReplyForm form)
{
    m_form = form;
    m_scan = 0;
    m_statusEnd = -1;
    m_discarding = false;
    m_discardStatus.clear();
}

void ReplyFramer::append(const QByteArray &bytes)
{
    m_buffer += bytes;
}

void ReplyFramer::append(QByteArrayView bytes)
{
    m_buffer.append(bytes);
}

ReplyFramer::Status ReplyFramer::next(LineReply &reply)
{
    while (!m_buffer.isEmpty()) {
        const qsizetype length = frame();
        if (length < 0)
            return Status::Bad;
        if (length == 0)
            return Status::Incomplete;
        if (m_form != ReplyForm::Smtp && !m_discarding && !IsPositive(m_buffer) &&
            !IsNegative(m_buffer) && !(m_form == ReplyForm::Pop3Sasl && IsContinuation(m_buffer))) {
            // A line that answers no command of ours.
            m_buffer.remove(0, length);
            m_scan = 0;
            continue;
        }
        reply = LineReply();
        if (m_discarding) {
            reply.bytes = std::exchange(m_discardStatus, QByteArray());
            reply.tooLarge = true;
            m_buffer.remove(0, length);
        } else if (length == m_buffer.size()) {
            reply.bytes = std::exchange(m_buffer, QByteArray());
        } else {
            reply.bytes = m_buffer.left(length);
            m_buffer.remove(0, length);
        }
        expect(m_form);
        return Status::Complete;
    }
    return Status::Incomplete;
}

qsizetype ReplyFramer::statusLine()
{
    const qsizetype end = FindText(m_buffer, "\r\n", m_scan);
    if (end >= 0)
        return end + 2;
    if (m_buffer.size() > m_limits.maxLine)
        return -1;
    m_scan = qMax<qsizetype>(0, m_buffer.size() - 1);
    return 0;
}

qsizetype ReplyFramer::frame()
{
    const qsizetype size = m_buffer.size();
    switch (m_form) {
    case ReplyForm::Pop3Line:
    case ReplyForm::Pop3Sasl:
        return statusLine();
    case ReplyForm::Smtp:
        while (true) {
            const qsizetype lineStart = m_scan;
            const qsizetype end = FindText(m_buffer, "\r\n", lineStart);
            if (end < 0)
                return size - lineStart > m_limits.maxLine || size > m_limits.maxReply ? -1 : 0;
            m_scan = end + 2;
            if (end - lineStart < 4 || m_buffer.at(lineStart + 3) != '-')
                return m_scan;
        }
    case ReplyForm::Pop3MultiLine:
        break;
    }
    if (m_statusEnd < 0 && !m_discarding) {
        const qsizetype end = statusLine();
        if (end <= 0 || !IsPositive(m_buffer))
            return end; // a negative reply is its status line alone
        m_statusEnd = end;
        const qsizetype announced = AnnouncedSize(m_buffer.left(end));
        if (announced > 0 && announced < m_limits.maxAnswer)
            m_buffer.reserve(end + announced + announced / 32 + 16);
        // An empty message: the terminating line follows the status line.
        m_scan = end - 2;
    }
    const qsizetype terminator = FindText(m_buffer, "\r\n.\r\n", m_scan);
    if (terminator >= 0) {
        if (!m_discarding && terminator + 5 > m_limits.maxAnswer) {
            // Whole, but over the bound all the same: treated as read through.
            m_discarding = true;
            m_discardStatus = m_buffer.left(m_statusEnd);
        }
        return terminator + 5;
    }
    if (m_discarding || size > m_limits.maxAnswer) {
        // Too large to keep: read through to the end of the answer, holding
        // only the last bytes, which may begin the terminator.
        if (!m_discarding) {
            m_discarding = true;
            m_discardStatus = m_buffer.left(m_statusEnd);
        }
        m_buffer = m_buffer.right(4);
        m_buffer.squeeze();
        m_scan = 0;
        return 0;
    }
    m_scan = qMax(m_statusEnd - 2, size - 4);
    return 0;
}
