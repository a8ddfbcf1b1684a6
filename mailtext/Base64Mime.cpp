#include "Base64Mime.h"

#include "Cp932.h"
#include "JisConvert.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kMarker[] = "=?ISO-2022-JP?B?";
constexpr qsizetype kMarkerLength = sizeof kMarker - 1;

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
