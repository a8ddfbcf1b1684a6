#pragma once
// Helpers for the tests of sending: the time a sent memo carries in its
// subject record, and the lines of a mail text as they go out.

#include "MemoMail.h"

#include <QRegularExpression>

/// The "mm/dd hh:mm" of the first subject record in text, in a leap year;
/// invalid when there is none.
inline QDateTime SubjectTime(const QByteArray &text)
{
    static const QRegularExpression record(
        QStringLiteral("Subject:..   (\\d\\d)/(\\d\\d) (\\d\\d):(\\d\\d)"));
    const QRegularExpressionMatch m = record.match(QString::fromLatin1(text));
    if (!m.hasMatch())
        return {};
    return QDateTime(QDate(2024, m.captured(1).toInt(), m.captured(2).toInt()),
                     QTime(m.captured(3).toInt(), m.captured(4).toInt()));
}

/// The lines of a built memo mail (MemoBody), without their CR LF.
inline QList<QByteArray> MailLines(const MemoValues &memo)
{
    return memo.MemoBody.toLatin1().replace("\r\n", "\n").split('\n');
}
