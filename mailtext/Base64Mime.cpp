#include "Base64Mime.h"

#include "Cp932.h"
#include "HeaderLines.h"
#include "JisConvert.h"

#include <QStringDecoder>
#include <algorithm>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kMarker[] = "=?ISO-2022-JP?B?";
constexpr qsizetype kMarkerLength = sizeof kMarker - 1;
constexpr const char *kShiftJisNames[] = {"SHIFT_JIS", "SHIFT-JIS",   "SJIS",
                                          "CP932",     "WINDOWS-31J", "MS932"};

// Position in the alphabet, or -1.
int base64Value(char16_t c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

char16_t asciiUpper(char16_t c)
{
    return (c >= 'a' && c <= 'z') ? char16_t(c - 'a' + 'A') : c;
}

// The marker is ASCII, so only ASCII letters are folded: a full Unicode case
// mapping would let look-alikes such as U+017F match "S".
qsizetype findMarker(const QString &value, qsizetype from)
{
    const char16_t *s = reinterpret_cast<const char16_t *>(value.constData());
    const qsizetype n = value.size();
    for (qsizetype i = from; i + kMarkerLength <= n; ++i) {
        qsizetype k = 0;
        while (k < kMarkerLength && asciiUpper(s[i + k]) == char16_t(kMarker[k]))
            ++k;
        if (k == kMarkerLength)
            return i;
    }
    return -1;
}

/// The bytes of a Q-encoded payload: "_" a space, "=XX" a byte, the rest as it is.
QByteArray QDecode(QStringView payload)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < payload.size(); ++i) {
        const char16_t c = payload[i].unicode();
        bool ok = false;
        if (c == u'=' && i + 2 < payload.size()) {
            const int byte = payload.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                bytes += char(byte);
                i += 2;
            }
        }
        if (!ok)
            bytes += c == u'_' ? ' ' : char(c);
    }
    return bytes;
}

/// The text of an encoded-word's bytes in its charset (any RFC 2231 language
/// dropped); false when the charset is not known.
bool DecodeCharset(QStringView charset, const QByteArray &bytes, QString &text)
{
    const QString name = charset.left(charset.indexOf(u'*')).toString().toUpper();
    if (name == QLatin1String("ISO-2022-JP")) {
        text = JisBytesToText(bytes, FinalByte::Keep);
    } else if (std::any_of(std::begin(kShiftJisNames), std::end(kShiftJisNames),
                           [&name](const char *known) { return name == QLatin1String(known); })) {
        text = Cp932::Decode(bytes);
    } else if (name == QLatin1String("US-ASCII")) {
        text = QString::fromLatin1(bytes);
    } else {
        QStringDecoder decoder(name.toLatin1().constData());
        if (!decoder.isValid())
            return false;
        text = decoder.decode(bytes);
    }
    return true;
}

/// A piece of a header text: a decoded encoded-word, or the text between words.
struct Piece
{
    QString text;
    bool word;
};

QList<Piece> Pieces(QStringView value)
{
    QList<Piece> pieces;
    qsizetype textStart = 0;
    for (qsizetype at = value.indexOf(u"=?"); at >= 0; at = value.indexOf(u"=?", at + 2)) {
        // =?charset?B?payload?= (or Q)
        const qsizetype mark = value.indexOf(u'?', at + 2);
        if (mark <= at + 2 || mark + 2 >= value.size() || value[mark + 2] != u'?' ||
            !QStringView(u"BbQq").contains(value[mark + 1]))
            continue;
        const qsizetype end = value.indexOf(u"?=", mark + 3);
        if (end < 0)
            break;
        const QStringView payload = value.mid(mark + 3, end - mark - 3);
        const bool base64 = value[mark + 1].toUpper() == u'B';
        QString text;
        if (!DecodeCharset(value.mid(at + 2, mark - at - 2),
                           base64 ? QByteArray::fromBase64(payload.toLatin1()) : QDecode(payload),
                           text)) {
            at = end; // a word of an unknown charset stays as text, read once
            continue;
        }
        if (at > textStart)
            pieces.append({value.mid(textStart, at - textStart).toString(), false});
        pieces.append({text, true});
        textStart = end + 2;
        at = end;
    }
    if (textStart < value.size())
        pieces.append({value.mid(textStart).toString(), false});
    return pieces;
}

// The rule for the whitespace between encoded-words: outside quotes it is
// dropped, as RFC 2047 says; inside quotes, where only a desk of the original
// design put encoded-words, the one space of padding it set on either side of
// each word (shared by two words of one split run) is dropped, and the spaces
// typed in the name kept.
QString Joined(const QList<Piece> &pieces, bool quoted)
{
    QString out;
    for (qsizetype k = 0; k < pieces.size(); ++k) {
        QStringView text = pieces[k].text;
        const bool afterWord = k > 0 && pieces[k - 1].word;
        const bool beforeWord = k + 1 < pieces.size() && pieces[k + 1].word;
        if (!pieces[k].word && quoted) {
            if (afterWord && text.startsWith(u' '))
                text = text.mid(1);
            if (beforeWord && text.endsWith(u' '))
                text.chop(1);
        } else if (!pieces[k].word && afterWord && beforeWord &&
                   std::all_of(text.begin(), text.end(),
                               [](QChar c) { return c == u' ' || c == u'\t'; })) {
            continue;
        }
        out += text;
    }
    return out;
}

} // namespace

QString Base64Char(int value)
{
    if (value < 0 || value > 63)
        return QString();
    return QString(QChar(kAlphabet[value]));
}

QString Base64Encode(const QByteArray &bytes)
{
    const qsizetype n = bytes.size();
    const uchar *b = reinterpret_cast<const uchar *>(bytes.constData());
    QString out((n + 2) / 3 * 4, Qt::Uninitialized);
    QChar *o = out.data();
    qsizetype i = 0;
    for (; i + 3 <= n; i += 3) {
        const unsigned v = unsigned(b[i]) << 16 | unsigned(b[i + 1]) << 8 | b[i + 2];
        *o++ = QChar(kAlphabet[v >> 18]);
        *o++ = QChar(kAlphabet[v >> 12 & 63]);
        *o++ = QChar(kAlphabet[v >> 6 & 63]);
        *o++ = QChar(kAlphabet[v & 63]);
    }
    if (n - i == 1) {
        const unsigned v = unsigned(b[i]) << 16;
        *o++ = QChar(kAlphabet[v >> 18]);
        *o++ = QChar(kAlphabet[v >> 12 & 63]);
        *o++ = QChar(u'=');
        *o++ = QChar(u'=');
    } else if (n - i == 2) {
        const unsigned v = unsigned(b[i]) << 16 | unsigned(b[i + 1]) << 8;
        *o++ = QChar(kAlphabet[v >> 18]);
        *o++ = QChar(kAlphabet[v >> 12 & 63]);
        *o++ = QChar(kAlphabet[v >> 6 & 63]);
        *o++ = QChar(u'=');
    }
    return out;
}

QString EncodeWord(const QString &text)
{
    return QLatin1String(kMarker) + Base64Encode(SjisToJis(text)) + QLatin1String("?=");
}

QString EncodeNameWords(const QString &text)
{
    constexpr qsizetype MaxBytes = 42; // 56 Base64 characters, 74 with the delimiters
    const auto bytesOf = [&text](qsizetype from, qsizetype to) {
        QByteArray bytes = SjisToJis(text.mid(from, to - from));
        if (!bytes.endsWith("\x1b(B"))
            bytes += "\x1b(B";
        return bytes;
    };
    const auto word = [](const QByteArray &bytes) -> QString {
        return QLatin1String(kMarker) + Base64Encode(bytes) + QLatin1String("?=");
    };
    QString out;
    QByteArray fitting;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size();) {
        const bool pair =
            text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        const qsizetype next = i + (pair ? 2 : 1);
        const QByteArray bytes = bytesOf(start, next);
        if (bytes.size() > MaxBytes && i > start) {
            out += word(fitting);
            start = i;
            continue;
        }
        fitting = bytes;
        i = next;
    }
    return start < text.size() ? out + word(fitting) : out;
}

QString EncodeHeaderText(const QString &text)
{
    const quint16 *table = Cp932::FromUnicodeTable();
    const qsizetype n = text.size();
    const char16_t *s = reinterpret_cast<const char16_t *>(text.constData());
    QString out;
    out.reserve(n + n / 2 + 16);
    QString run;
    bool inRun = false;
    const auto flush = [&]() {
        out += EncodeWord(run);
        out += u' ';
        run.clear();
    };
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = s[i];
        quint16 code = '?';
        if (!QChar::isSurrogate(u))
            code = table[u];
        else if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(s[i + 1]))
            ++i;
        if (code < 0x80) {
            if (inRun) {
                flush();
                inRun = false;
            }
            // The byte the encoder would send, so the header is plain ASCII and
            // carries no character-set switching codes.
            const bool shifting = code == 0x1B || code == 0x0E || code == 0x0F || code == 0x00;
            out += QChar(shifting ? u'?' : char16_t(code));
            continue;
        }
        if (!inRun) {
            out += u' ';
            inRun = true;
        }
        // Length of the word this run would give with one more two-byte
        // character; 75 or more means the run is full (18 characters).
        const qsizetype runLength = run.size();
        const qsizetype estimate = 4 * ((2 * runLength + 8 + 2) / 3) + 16 + 2;
        if (estimate >= 75)
            flush();
        run += QChar(u);
    }
    if (inRun)
        flush();
    return out;
}

QString Base64JisDecode(const QString &b64)
{
    const qsizetype n = b64.size();
    const char16_t *s = reinterpret_cast<const char16_t *>(b64.constData());
    QByteArray bytes(n * 3 / 4 + 1, Qt::Uninitialized);
    char *p = bytes.data();
    unsigned bits = 0;
    int bitCount = 0;
    for (qsizetype i = 0; i < n && s[i] != u'='; ++i) {
        const int v = base64Value(s[i]);
        if (v < 0)
            continue;
        bits = (bits << 6 | unsigned(v)) & 0xFFFFFF;
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            *p++ = char(bits >> bitCount & 0xFF);
        }
    }
    bytes.resize(p - bytes.constData());
    return JisBytesToText(bytes, FinalByte::Keep);
}

QString DecodeHeaderText(const QString &value)
{
    QString result;
    result.reserve(value.size());
    qsizetype pos = 0;
    for (;;) {
        const qsizetype marker = findMarker(value, pos);
        if (marker < 0)
            break;
        const qsizetype payload = marker + kMarkerLength;
        const qsizetype end = value.indexOf(QLatin1String("?="), payload);
        if (end < 0)
            break; // the rest, marker included, is appended as it is
        result += QStringView(value).mid(pos, marker - pos);
        result += Base64JisDecode(value.mid(payload, end - payload));
        pos = end + 2;
    }
    result += QStringView(value).mid(pos);
    return result;
}

QString DecodeDisplayName(const QString &phrase)
{
    QString out;
    for (qsizetype i = 0; i < phrase.size();) {
        if (phrase.at(i) == QLatin1Char('"')) {
            QString quoted;
            for (++i; i < phrase.size() && phrase.at(i) != QLatin1Char('"'); ++i) {
                if (phrase.at(i) == QLatin1Char('\\') && i + 1 < phrase.size())
                    ++i;
                quoted += phrase.at(i);
            }
            ++i; // past the closing quote
            out += Joined(Pieces(quoted), true);
        } else {
            qsizetype quote = phrase.indexOf(QLatin1Char('"'), i);
            if (quote < 0)
                quote = phrase.size();
            out += Joined(Pieces(QStringView(phrase).mid(i, quote - i)), false);
            i = quote;
        }
    }
    return TrimSpaces(out);
}
