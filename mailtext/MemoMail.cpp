#include "MemoMail.h"

#include "Base64Mime.h"
#include "Cp932.h"
#include "FindText.h"
#include "HeaderLines.h"
#include "JisConvert.h"
#include "Messages.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int FieldWidth = 20;
const QString CrLf = QStringLiteral("\r\n");

/// Code points, not UTF-16 units: a character outside the BMP is one character.
qsizetype CodePointCount(const QString &s)
{
    qsizetype n = 0;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (!(s.at(i).isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate()))
            ++n;
    }
    return n;
}

QString LeftCodePoints(const QString &s, qsizetype count)
{
    qsizetype i = 0;
    for (qsizetype n = 0; n < count && i < s.size(); ++n) {
        if (s.at(i).isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate())
            ++i;
        ++i;
    }
    return s.left(i);
}

QString PadField(const QString &text)
{
    QString field = LeftCodePoints(text, FieldWidth);
    return field + QString(FieldWidth - CodePointCount(field), QLatin1Char(' '));
}

/// Control characters that could forge ISO-2022-JP escapes become "?".
QString MaskShiftCodes(QString text)
{
    for (QChar &c : text) {
        const ushort u = c.unicode();
        if (u == 0x1B || u == 0x0E || u == 0x0F || u == 0x00)
            c = QLatin1Char('?');
    }
    return text;
}

/// A header value never carries a line break: it would start a header of its own.
QString HeaderSafe(const QString &text, const QString &breakReplacement)
{
    QString out = MaskShiftCodes(text);
    out.replace(QLatin1String("\r\n"), breakReplacement);
    out.replace(QLatin1Char('\r'), breakReplacement);
    out.replace(QLatin1Char('\n'), breakReplacement);
    return out;
}

/// Every line break of the memo text goes out as CR LF.
QString NormalizeLineBreaks(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r')) {
            out += CrLf;
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('\n')) {
            out += CrLf;
        } else {
            out += c;
        }
    }
    return out;
}

/// A sender read from a mail goes into replies and onto the wire: CR, LF and
/// NUL, which no address or name may hold, are dropped.
QString WithoutBreaks(QString text)
{
    text.removeIf([](QChar c) {
        return c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar(u'\0');
    });
    return text;
}

/// Where the empty line after the header block starts (its CR LF CR LF), looked
/// for within MaxHeaderBytes only; -1 when the header block has no end there.
qsizetype HeaderBlank(QByteArrayView answer)
{
    return FindText(answer.first(qMin(answer.size(), MaxHeaderBytes + 4)), "\r\n\r\n");
}

/// The Message-ID of a RETR answer from its header lines alone, without
/// decoding the header: the last "Message-ID:" line, its continuation lines
/// joined as the header reader joins them, each cut at its first CR.
QString KeyMessageId(QByteArrayView answer)
{
    const QByteArrayView field("message-id:");
    const qsizetype blank = HeaderBlank(answer);
    // The header block ends at the CR of the empty line, so its last line,
    // never ended by CR LF, is never joined.
    const QByteArrayView block = blank < 0 ? answer : answer.first(blank + 1);
    if (block.size() > MaxHeaderBytes)
        return {}; // not read: no memo
    const auto upToCr = [](QByteArrayView text) {
        const qsizetype cr = text.indexOf('\r');
        return cr < 0 ? text : text.first(cr);
    };
    QByteArray value;
    bool joining = false;
    for (qsizetype pos = 0; pos < block.size();) {
        const qsizetype crlf = FindText(block, "\r\n", pos);
        QByteArrayView line = block.sliced(pos, (crlf < 0 ? block.size() : crlf) - pos);
        if (line.startsWith("..") && pos > 0)
            line = line.sliced(1); // dot-stuffed
        if (joining && crlf >= 0 && !line.contains(':')) {
            value += "  ";
            value += upToCr(line);
        } else {
            joining = line.size() >= field.size() &&
                      line.first(field.size()).compare(field, Qt::CaseInsensitive) == 0;
            if (joining)
                value = upToCr(line.sliced(field.size())).toByteArray();
        }
        if (crlf < 0)
            break;
        pos = crlf + 2;
    }
    return TrimSpaces(Cp932::Decode(value));
}

/// 64-bit MurmurHash2 (MurmurHash64A) of data, continuing from seed.
quint64 Murmur64(QByteArrayView data, quint64 seed)
{
    constexpr quint64 m = 0xc6a4a7935bd1e995ULL;
    constexpr int r = 47;
    const auto *p = reinterpret_cast<const uchar *>(data.data());
    const qsizetype words = data.size() / 8;
    quint64 h = seed ^ (quint64(data.size()) * m);
    for (qsizetype i = 0; i < words; ++i, p += 8) {
        quint64 k;
        std::memcpy(&k, p, 8);
        k *= m;
        k ^= k >> r;
        k *= m;
        h ^= k;
        h *= m;
    }
    if (const qsizetype rest = data.size() & 7) {
        for (qsizetype i = rest - 1; i >= 0; --i)
            h ^= quint64(p[i]) << (8 * i);
        h *= m;
    }
    h ^= h >> r;
    h *= m;
    h ^= h >> r;
    return h;
}

/// A 128-bit digest of the message after its status line, with dot-stuffing
/// undone on the way (as UndoDotStuffing does) rather than in a copy of the
/// message. It only tells apart mails sharing a Message-ID and is never
/// stored, so a fast hash serves: SHA-1 took a fifth of the client's time per
/// RETR. The same on every run, so that keys can be compared across processes.
QByteArray ContentDigest(QByteArrayView answer)
{
    quint64 low = 0x9e3779b97f4a7c15ULL, high = 0xc2b2ae3d27d4eb4fULL;
    const auto add = [&](QByteArrayView piece) {
        low = Murmur64(piece, low);
        high = Murmur64(piece, high);
    };
    const qsizetype statusEnd = FindText(answer, "\r\n");
    qsizetype from = statusEnd < 0 ? 0 : statusEnd + 2;
    // Every "\r\n.." lies at or after the status line's CR LF; its second dot goes.
    for (qsizetype at = FindText(answer, "\r\n.."); at >= 0;
         at = FindText(answer, "\r\n..", at + 4)) {
        add(answer.sliced(from, at + 3 - from));
        from = at + 4;
    }
    add(answer.sliced(from));
    QByteArray digest(16, Qt::Uninitialized);
    std::memcpy(digest.data(), &low, 8);
    std::memcpy(digest.data() + 8, &high, 8);
    return digest;
}

/// The body of a RETR answer whose blank line starts at blank, as text: the
/// bytes after the blank line up to the answer's last but one (the reader's
/// rule), dot-stuffing undone. A body longer than MaxShownBytes or
/// MaxShownLines is cut at a line's end within them; *cutFrom is then the size
/// of the whole answer.
QString BodyText(QByteArrayView answer, qsizetype blank, qint64 *cutFrom)
{
    // From the blank line's CR LF, so that a stuffed first line is seen as one.
    QByteArrayView raw = answer.sliced(blank + 2, answer.size() - blank - 3);
    if (raw.size() - 2 > MaxShownBytes) {
        const qsizetype lineEnd = raw.first(MaxShownBytes + 2).lastIndexOf("\r\n");
        raw = raw.first(lineEnd > 0 ? lineEnd : MaxShownBytes + 2);
        *cutFrom = answer.size();
    }
    // A cut body keeps its last byte: the reader's rule is for the mail's end.
    QString text = JisBytesToText(QByteArrayView(UndoDotStuffing(raw)).sliced(2),
                                  *cutFrom ? FinalByte::Keep : FinalByte::Drop);
    qsizetype at = 0;
    for (int line = 0; line < MaxShownLines && at >= 0; ++line)
        at = text.indexOf(CrLf, at ? at + 2 : 0);
    if (at >= 0 && (*cutFrom > 0 || text.size() > at + 5)) { // more than CR LF "." to end
        text.truncate(at);
        *cutFrom = answer.size();
    }
    return TrimSpaces(text);
}

QString QuoteDisplayName(const QString &name)
{
    QString out;
    for (const QChar c : name) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += c;
    }
    return out;
}

} // namespace

QString MemoSubjectRecord(QChar kind, bool sealed, const QDateTime &when, const QString &department,
                          const QString &caller)
{
    return QString(kind) + (sealed ? QLatin1Char('1') : QLatin1Char(' ')) + QLatin1String("   ") +
           when.toString(QStringLiteral("MM/dd HH:mm")) + PadField(department) + PadField(caller);
}

MemoValues BuildMemoMail(QChar kind, bool sealed, const QString &department, const QString &caller,
                         const QString &memoText, const QStringList &recipients,
                         const MemoSender &sender, const QDateTime &when)
{
    MemoValues memo;
    const QString space = QStringLiteral(" ");
    // Only U+0020 is trimmed: an ideographic space typed into a field stays.
    memo.MemoSubject =
        MemoSubjectRecord(kind, sealed, when, TrimSpaces(HeaderSafe(department, space)),
                          TrimSpaces(HeaderSafe(caller, space)));
    memo.MemoFromAddress =
        HeaderSafe(sender.UserID.trimmed() + QLatin1Char('@') + sender.Domain.trimmed(), QString());
    memo.MemoFromName = TrimSpaces(HeaderSafe(sender.UserName, space));
    QStringList to;
    to.reserve(recipients.size());
    for (const QString &address : recipients)
        to.append(HeaderSafe(address, QString()));
    memo.MemoTo = to.join(QLatin1Char(','));

    QByteArray body;
    if (!TrimSpaces(memoText).isEmpty())
        body = SjisToJis(WidenKana(MaskShiftCodes(NormalizeLineBreaks(memoText))));

    // A name with any character beyond ASCII goes out whole as encoded-words,
    // its spaces inside them, so every reader shows it as typed.
    QString name = memo.MemoFromName;
    CheckNonAscii(name);
    const bool ascii =
        std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c.unicode() < 0x80; });
    const QString phrase = ascii ? QLatin1Char('"') + QuoteDisplayName(name) + QLatin1Char('"')
                                 : EncodeNameWords(name);
    QString header = QLatin1String("Subject:") + memo.MemoSubject + CrLf + QLatin1String("From:") +
                     phrase + QLatin1String(" <") + memo.MemoFromAddress + QLatin1Char('>') + CrLf +
                     QLatin1String("To:") + memo.MemoTo + CrLf;
    CheckNonAscii(header);
    header += body.contains('\x1b')
                  ? QLatin1String("Content-Type: text/plain; charset=iso-2022-jp\r\n")
                  : QLatin1String("Content-Type: text/plain; charset=us-ascii\r\n");
    memo.MemoHeader = FoldHeaderLines(EncodeHeaderText(header)) + CrLf;
    memo.MemoBody = memo.MemoHeader + QString::fromLatin1(body);
    return memo;
}

QString MemoKeyOf(const QByteArray &retrAnswer)
{
    return KeyMessageId(retrAnswer) + QLatin1Char('#') +
           QString::fromLatin1(ContentDigest(retrAnswer).toHex());
}

QByteArray UndoDotStuffing(QByteArrayView retrAnswer)
{
    if (FindText(retrAnswer, "\r\n..") < 0)
        return retrAnswer.toByteArray();
    QByteArray out;
    out.reserve(retrAnswer.size());
    qsizetype pos = 0;
    while (true) {
        const qsizetype at = FindText(retrAnswer, "\r\n..", pos);
        if (at < 0)
            break;
        out.append(retrAnswer.constData() + pos, at + 3 - pos); // keep CR LF and one dot
        pos = at + 4;
    }
    out.append(retrAnswer.constData() + pos, retrAnswer.size() - pos);
    return out;
}

ReadMail ParseRetrAnswer(const QByteArray &retrAnswer)
{
    return ParseRetrAnswer(retrAnswer, MemoKeyOf(retrAnswer));
}

ReadMail ParseRetrAnswer(const QByteArray &retrAnswer, const QString &key)
{
    ReadMail result;
    MemoValues &memo = result.memo;
    MailBoxRow &row = result.row;

    // Only bounded parts of the answer are searched, copied or decoded,
    // whatever its shape: a header block without an end within the bound is
    // not read, and neither is the body after it.
    const QByteArrayView answer(retrAnswer);
    const qsizetype blank = HeaderBlank(answer);
    // The header block runs up to and including the CR of the first CR LF CR LF.
    const qsizetype headerEnd = blank < 0 ? answer.size() : blank + 1;
    QString subject, from, unfoldedFrom, to, date, messageId;
    const QList<HeaderLine> lines =
        headerEnd <= MaxHeaderBytes
            ? ScanHeaderLines(Cp932::Decode(UndoDotStuffing(answer.first(headerEnd))))
            : QList<HeaderLine>(); // read as a mail that is not a memo
    for (const HeaderLine &line : lines) {
        if (line.name == QLatin1String("SUBJECT")) {
            subject = HeaderFieldValue(line);
        } else if (line.name == QLatin1String("FROM")) {
            from = HeaderFieldValue(line);
            unfoldedFrom = HeaderFieldValue(line, Folds::Removed);
        } else if (line.name == QLatin1String("TO")) {
            to = HeaderFieldValue(line);
        } else if (line.name == QLatin1String("DATE")) {
            date = HeaderFieldValue(line);
        } else if (line.name == QLatin1String("MESSAGE-ID")) {
            messageId = HeaderFieldValue(line);
        }
    }

    memo.MemoSubject = DecodeHeaderText(subject);
    // Folding is undone as RFC 5322 says, so the spaces in a name are the ones
    // its writer put there.
    QString phrase;
    SplitAddress(unfoldedFrom, phrase, memo.MemoFromAddress);
    memo.MemoFromAddress = WithoutBreaks(memo.MemoFromAddress);
    memo.MemoFromName = WithoutBreaks(DecodeDisplayName(phrase));
    memo.MemoTo = DecodeHeaderText(to);
    memo.MemoDate = date;
    memo.MemoMessageId = messageId;
    if (blank >= 0 && blank + 4 < answer.size())
        memo.MemoBody = BodyText(answer, blank, &memo.MemoCutFrom);

    row.Subject = TrimSpaces(memo.MemoSubject);
    row.From = WithoutBreaks(TrimSpaces(DecodeHeaderText(from)));
    row.Date = TrimSpaces(date);
    row.MessageId = TrimSpaces(messageId);
    row.Key = key;
    memo.MemoKey = key;
    return result;
}

MemoView ViewOfMemo(const MemoValues &memo)
{
    MemoView view;
    const QString s = TrimSpaces(memo.MemoSubject);
    auto columns = [&s](qsizetype from, qsizetype count) {
        return TrimSpaces(s.mid(from - 1, count));
    };
    if (!s.isEmpty())
        view.kind = s.at(0);
    view.sealed = s.size() >= 2 && s.at(1) == QLatin1Char('1');
    view.time = columns(6, 11);
    view.department = columns(17, 20);
    view.caller = columns(37, 20);
    const QString &body = memo.MemoBody;
    if (memo.MemoCutFrom > 0) // its end is not the mail's: nothing to drop, a note instead
        view.text = body + CrLf + Msg::BodyCut.arg(Msg::GroupThousands(quint64(memo.MemoCutFrom)));
    else
        view.text = TrimSpaces(body.size() > 3 ? body.left(body.size() - 3) : QString());
    return view;
}

QString ListingKeys::next(const QByteArray &answer, bool tooLarge)
{
    if (tooLarge)
        return {};
    const QString key = MemoKeyOf(answer);
    const int seen = ++m_seen[key];
    return seen == 1 ? key : key + QLatin1Char('#') + QString::number(seen);
}
