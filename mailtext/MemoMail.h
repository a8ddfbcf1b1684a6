#pragma once
// The memo mail format: the writer used when sending and the readers used on
// every retrieved message.

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

/// One set of memo values. When sending, MemoBody is the whole outgoing mail
/// text (7-bit); after reading, it is the decoded body text.
struct MemoValues
{
    QString MemoSubject;
    QString MemoFromAddress;
    QString MemoFromName;
    QString MemoTo;
    QString MemoToName;
    QString MemoDate;
    QString MemoMessageId;
    QString MemoHeader;
    QString MemoBody;
    /// After reading: the key by which the memo is found again in a mailbox
    /// list (see MemoKeyOf).
    QString MemoKey;
    /// After reading: when MemoBody holds only the first part of a body too
    /// long to show, the size of the whole RETR answer; otherwise 0.
    qint64 MemoCutFrom = 0;
};

/// What is read of a retrieved mail, whatever its size: a header block longer
/// than MaxHeaderBytes is not read, nor the body after it (the mail is no
/// memo), and a body is decoded up to MaxShownBytes or MaxShownLines,
/// whichever comes first.
constexpr qsizetype MaxHeaderBytes = 256 * 1024;
constexpr qsizetype MaxShownBytes = 64 * 1024;
constexpr int MaxShownLines = 2000;

/// The sender's own settings that go into a memo.
struct MemoSender
{
    QString UserName;
    QString UserID;
    QString Domain;
};

/// Builds the memo mail. kind is '0'..'3' or '*'; recipients are the mail
/// addresses in list order.
MemoValues BuildMemoMail(QChar kind, bool sealed, const QString &department, const QString &caller,
                         const QString &memoText, const QStringList &recipients,
                         const MemoSender &sender,
                         const QDateTime &when = QDateTime::currentDateTime());

/// The subject record: kind, seal flag, three spaces, "MM/dd hh:mm" and the two
/// caller fields padded (or cut) to 20 characters each.
QString MemoSubjectRecord(QChar kind, bool sealed, const QDateTime &when, const QString &department,
                          const QString &caller);

/// One row of a mailbox list.
struct MailBoxRow
{
    QString Subject;
    QString From;
    QString Date;
    QString MessageId;
    QString Key; ///< see MemoKeyOf
};

/// Undoes POP3 dot-stuffing: a line that begins ".." stands for a line
/// beginning ".". The terminating "." line stays as it is.
QByteArray UndoDotStuffing(QByteArrayView retrAnswer);

/// The key of a retrieved message (a whole RETR answer): its Message-ID, "#"
/// and a hex 128-bit digest of everything after the status line with dot-stuffing
/// undone; "#" and the digest alone without a Message-ID. Two messages under
/// one Message-ID get different keys. Reads only the header lines and hashes
/// the rest, so it is cheaper than ParseRetrAnswer, which gives the same key.
QString MemoKeyOf(const QByteArray &retrAnswer);

/// A retrieved message taken apart once, for the memo reader and the list row.
struct ReadMail
{
    MemoValues memo;
    MailBoxRow row;
};

/// Reads a whole RETR answer (status line to terminating "." line, as received).
ReadMail ParseRetrAnswer(const QByteArray &retrAnswer);
/// The same, the memo known by key: its memo key is not computed (a digest of
/// the whole answer).
ReadMail ParseRetrAnswer(const QByteArray &retrAnswer, const QString &key);

/// The memo values of a RETR answer.
inline MemoValues ReadMemoMail(const QByteArray &retrAnswer)
{
    return ParseRetrAnswer(retrAnswer).memo;
}

/// The mailbox list row of a RETR answer.
inline MailBoxRow AddMailBoxRow(const QByteArray &retrAnswer)
{
    return ParseRetrAnswer(retrAnswer).row;
}

/// What the viewer shows of a read memo.
struct MemoView
{
    QChar kind;          ///< column 1, or a null character
    bool sealed = false; ///< column 2 is "1"
    QString time;        ///< columns 6-16, trimmed
    QString department;  ///< columns 17-36, trimmed
    QString caller;      ///< columns 37-56, trimmed
    QString text;        ///< the body without its last three characters, trimmed
};
MemoView ViewOfMemo(const MemoValues &memo);

/// Keys of a mailbox listing in order: the memo key of each message, with
/// "#2", "#3"… after a key already met, so that even identical copies are told
/// apart. A message too large to read has no key.
class ListingKeys
{
public:
    QString next(const QByteArray &answer, bool tooLarge);

private:
    QHash<QString, int> m_seen;
};
