#include "Cp932.h"

#include <array>
#include <cerrno>
#include <iconv.h>

namespace Cp932 {

namespace {

constexpr char16_t kUndefined = 0x30FB; // what Windows gives for an undefined code
constexpr quint16 kQuestion = '?';

struct Mapping
{
    char16_t unicode;
    quint16 code;
};

// Windows' table has these single bytes; glibc leaves them undefined. They must
// survive a decode/encode round trip of received mail text.
constexpr Mapping kWindowsSingleBytes[] = {
    {0x0080, 0x80}, {0xF8F0, 0xA0}, {0xF8F1, 0xFD}, {0xF8F2, 0xFE}, {0xF8F3, 0xFF},
};

// Windows best-fit entries for characters that Linux input methods produce in
// place of the ones code page 932 decodes to. glibc has them all today; they are
// kept as a floor in case a C library lacks one.
constexpr Mapping kBestFit[] = {
    {0x00A5, 0x5C},   {0x203E, 0x7E},   {0x301C, 0x8160}, {0x2212, 0x817C},
    {0x2016, 0x8161}, {0x00A2, 0x8191}, {0x00A3, 0x8192}, {0x00AC, 0x81CA},
};

bool isTrailByte(unsigned b)
{
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

class Tables
{
public:
    Tables()
    {
        m_toUnicode.fill(kUndefined);
        m_fromUnicode.fill(kQuestion);
        buildDecoding();
        buildEncoding();
        for (const Mapping &m : kWindowsSingleBytes) {
            if (m_toUnicode[m.code] == kUndefined)
                m_toUnicode[m.code] = m.unicode;
            if (m_fromUnicode[m.unicode] == kQuestion)
                m_fromUnicode[m.unicode] = m.code;
        }
        for (const Mapping &m : kBestFit) {
            if (m_fromUnicode[m.unicode] == kQuestion)
                m_fromUnicode[m.unicode] = m.code;
        }
    }

    const char16_t *toUnicode() const { return m_toUnicode.data(); }
    const quint16 *fromUnicode() const { return m_fromUnicode.data(); }

private:
    // One converted unit, or nothing when iconv rejects the input or does not
    // consume all of it.
    static bool convertOne(iconv_t cd, const char *in, size_t inLen, char *out, size_t outCap,
                           size_t &outLen)
    {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char *inPtr = const_cast<char *>(in);
        char *outPtr = out;
        size_t inLeft = inLen;
        size_t outLeft = outCap;
        const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        if (rc == static_cast<size_t>(-1) || inLeft != 0)
            return false;
        outLen = outCap - outLeft;
        return true;
    }

    void buildDecoding()
    {
        iconv_t cd = iconv_open("WCHAR_T", "CP932");
        if (cd == reinterpret_cast<iconv_t>(-1)) {
            // Without the C library's table, ASCII is all that can be promised.
            for (unsigned b = 0; b < 0x80; ++b)
                m_toUnicode[b] = char16_t(b);
            return;
        }
        wchar_t wide[4];
        size_t outLen = 0;
        for (unsigned b = 0; b < 0x100; ++b) {
            const char in[1] = {char(b)};
            if (convertOne(cd, in, 1, reinterpret_cast<char *>(wide), sizeof wide, outLen) &&
                outLen == sizeof(wchar_t) && wide[0] <= 0xFFFF)
                m_toUnicode[b] = char16_t(wide[0]);
        }
        for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
            if (!IsLeadByte(quint8(lead)))
                continue;
            for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
                if (!isTrailByte(trail))
                    continue;
                const char in[2] = {char(lead), char(trail)};
                if (convertOne(cd, in, 2, reinterpret_cast<char *>(wide), sizeof wide, outLen) &&
                    outLen == sizeof(wchar_t) && wide[0] <= 0xFFFF)
                    m_toUnicode[lead << 8 | trail] = char16_t(wide[0]);
            }
        }
        iconv_close(cd);
    }

    void buildEncoding()
    {
        iconv_t cd = iconv_open("CP932", "WCHAR_T");
        if (cd == reinterpret_cast<iconv_t>(-1)) {
            for (unsigned u = 0; u < 0x80; ++u)
                m_fromUnicode[u] = quint16(u);
            return;
        }
        char out[8];
        size_t outLen = 0;
        for (unsigned u = 0; u < 0x10000; ++u) {
            if (u >= 0xD800 && u <= 0xDFFF)
                continue;
            const wchar_t in = wchar_t(u);
            if (!convertOne(cd, reinterpret_cast<const char *>(&in), sizeof in, out, sizeof out,
                            outLen))
                continue;
            if (outLen == 1)
                m_fromUnicode[u] = quint8(out[0]);
            else if (outLen == 2)
                m_fromUnicode[u] = quint16(quint8(out[0]) << 8 | quint8(out[1]));
        }
        iconv_close(cd);
    }

    // Indexed by the single byte (0x00-0xFF) or by lead << 8 | trail.
    std::array<char16_t, 0x10000> m_toUnicode;
    // Indexed by the BMP code point.
    std::array<quint16, 0x10000> m_fromUnicode;
};

const Tables &tables()
{
    static const Tables t;
    return t;
}

} // namespace

quint16 FromUnicode(char32_t codePoint)
{
    if (codePoint > 0xFFFF)
        return kQuestion;
    return tables().fromUnicode()[codePoint];
}

char16_t ToUnicode(quint16 code)
{
    return tables().toUnicode()[code];
}

const quint16 *FromUnicodeTable()
{
    return tables().fromUnicode();
}

const char16_t *ToUnicodeTable()
{
    return tables().toUnicode();
}

QByteArray Encode(const QString &text)
{
    const quint16 *table = FromUnicodeTable();
    const qsizetype n = text.size();
    const char16_t *s = reinterpret_cast<const char16_t *>(text.constData());
    QByteArray out(n * 2, Qt::Uninitialized);
    char *p = out.data();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = s[i];
        quint16 code = table[u];
        if (QChar::isSurrogate(u)) {
            // One '?' per code point: a valid pair is a single character.
            if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(s[i + 1]))
                ++i;
            code = kQuestion;
        }
        if (code > 0xFF)
            *p++ = char(code >> 8);
        *p++ = char(code & 0xFF);
    }
    out.resize(p - out.constData());
    return out;
}

QString Decode(QByteArrayView bytes)
{
    const char16_t *table = ToUnicodeTable();
    const qsizetype n = bytes.size();
    const uchar *b = reinterpret_cast<const uchar *>(bytes.constData());
    QString out(n, Qt::Uninitialized);
    char16_t *o = reinterpret_cast<char16_t *>(out.data());
    char16_t *const start = o;
    for (qsizetype i = 0; i < n; ++i) {
        if (!IsLeadByte(b[i])) {
            *o++ = table[b[i]];
        } else if (i + 1 < n && isTrailByte(b[i + 1])) {
            *o++ = table[b[i] << 8 | b[i + 1]];
            ++i;
        } else {
            // A lead byte without a proper trail byte: the next byte (often CR or
            // LF) is left to stand on its own.
            *o++ = kUndefined;
        }
    }
    out.resize(o - start);
    return out;
}

} // namespace Cp932
