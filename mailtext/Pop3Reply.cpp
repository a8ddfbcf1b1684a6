#include "Pop3Reply.h"

#include <QByteArrayView>

namespace {
QByteArray FirstFourUpper(const QByteArray &reply)
{
    return reply.left(4).toUpper();
}
} // namespace

bool IsPositiveReply(const QByteArray &reply)
{
    return FirstFourUpper(reply).contains("+OK");
}

bool IsNegativeReply(const QByteArray &reply)
{
    return FirstFourUpper(reply).contains("-ERR");
}

Pop3Frame FramePop3Reply(const QByteArray &buffer, bool multiLine)
{
    const qsizetype lineEnd = buffer.indexOf("\r\n");
    if (lineEnd < 0) {
        return buffer.size() > MaxPop3Reply ? Pop3Frame{FrameStatus::Bad, 0} : Pop3Frame{};
    }
    if (!multiLine || !IsPositiveReply(buffer.left(lineEnd)))
        return {FrameStatus::Complete, lineEnd + 2};
    // The terminating line may follow the status line directly (an empty message).
    const qsizetype end = buffer.indexOf("\r\n.\r\n", lineEnd);
    if (end < 0)
        return buffer.size() > MaxPop3Reply ? Pop3Frame{FrameStatus::Bad, 0} : Pop3Frame{};
    return {FrameStatus::Complete, end + 5};
}

int StatMessageCount(const QByteArray &reply)
{
    const QByteArray line =
        reply.left(reply.indexOf("\r\n") < 0 ? reply.size() : reply.indexOf("\r\n"));
    const qsizetype blank = line.indexOf(' ');
    if (blank < 0)
        return -1;
    const QByteArray rest = line.mid(blank + 1).trimmed();
    const qsizetype next = rest.indexOf(' ');
    bool ok = false;
    const int count = (next < 0 ? rest : rest.left(next)).toInt(&ok);
    return ok && count >= 0 ? count : -1;
}
