#include "JisConvert.h"

#include "Cp932.h"

#include <QSet>

#include <array>

namespace {

constexpr char kEsc = 0x1B;
constexpr char16_t kUndefined = 0x30FB;

constexpr char16_t kHalfFirst = 0xFF61;
constexpr char16_t kHalfLast = 0xFF9F;
constexpr char16_t kHalfVoiced = 0xFF9E;
constexpr char16_t kHalfSemiVoiced = 0xFF9F;

// Full-width forms of U+FF61-U+FF9F, in order.
constexpr char16_t kWide[kHalfLast - kHalfFirst + 1] = {
    u'。', u'「', u'」', u'、', u'・', u'ヲ', u'ァ', u'ィ', u'ゥ', u'ェ', u'ォ', u'ャ', u'ュ',
    u'ョ', u'ッ', u'ー', u'ア', u'イ', u'ウ', u'エ', u'オ', u'カ', u'キ', u'ク', u'ケ', u'コ',
    u'サ', u'シ', u'ス', u'セ', u'ソ', u'タ', u'チ', u'ツ', u'テ', u'ト', u'ナ', u'ニ', u'ヌ',
    u'ネ', u'ノ', u'ハ', u'ヒ', u'フ', u'ヘ', u'ホ', u'マ', u'ミ', u'ム', u'メ', u'モ', u'ヤ',
    u'ユ', u'ヨ', u'ラ', u'リ', u'ル', u'レ', u'ロ', u'ワ', u'ン', u'゛', u'゜',
};

bool isHalfKana(char16_t c)
{
    return c >= kHalfFirst && c <= kHalfLast;
}

char16_t widen(char16_t halfKana)
{
    return kWide[halfKana - kHalfFirst];
}

// The precomposed kana for a half-width kana and a following mark, or 0 when
// there is none. The voiced kana follows its plain kana in the katakana block,
// the semi-voiced one comes after that.
char16_t combine(char16_t kana, char16_t mark)
{
    const bool kaToTo = kana >= u'ｶ' && kana <= u'ﾄ';
    const bool haToHo = kana >= u'ﾊ' && kana <= u'ﾎ';
    if (mark == kHalfVoiced) {
        if (kaToTo || haToHo)
            return char16_t(widen(kana) + 1);
        if (kana == u'ｳ')
            return u'ヴ';
    } else if (mark == kHalfSemiVoiced && haToHo) {
        return char16_t(widen(kana) + 2);
    }
    return 0;
}

// Code page 932 form of the character at s[i]; a surrogate pair is one
// character without a form, and i is moved onto its second half.
quint16 formAt(const quint16 *table, const char16_t *s, qsizetype n, qsizetype &i)
{
    const char16_t u = s[i];
    if (!QChar::isSurrogate(u))
        return table[u];
    if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(s[i + 1]))
        ++i;
    return '?';
}

// The code page 932 code a byte pair read in kanji mode is taken for. Bytes
// outside 0x21-0x7E can push lead or trail past a byte.
void kanjiPairToSjis(unsigned d, unsigned c, unsigned &lead, unsigned &trail)
{
    trail = c + ((d & 1) ? 0x1F : 0x7D);
    if (trail >= 0x7F)
        ++trail;
    // Truncation toward zero matters for bytes below 0x21: 0x1E-0x20 still
    // make a pair, lower control bytes pass on their own.
    lead = unsigned((int(d) - 0x21) / 2 + 0x81);
    if (lead > 0x9F)
        lead += 0x40;
}

constexpr unsigned kJisFirst = 0x21;
constexpr unsigned kJisCells = 94; // 0x21-0x7E

// The character of every kanji-mode pair of bytes 0x21-0x7E, as the code page
// 932 table gives it through kanjiPairToSjis (such a pair always makes a lead
// byte 0x81-0x9F or 0xE0-0xEF). 94 x 94 entries stay in the first-level cache
// while a long text is decoded, where the whole code page table would not.
const char16_t *kanjiPairTable()
{
    static const auto pairs = [] {
        const char16_t *table = Cp932::ToUnicodeTable();
        std::array<char16_t, kJisCells * kJisCells> t{};
        for (unsigned d = 0; d < kJisCells; ++d) {
            for (unsigned c = 0; c < kJisCells; ++c) {
                unsigned lead = 0;
                unsigned trail = 0;
                kanjiPairToSjis(d + kJisFirst, c + kJisFirst, lead, trail);
                t[d * kJisCells + c] = table[lead << 8 | trail];
            }
        }
        return t;
    }();
    return pairs.data();
}

constexpr quint16 kIbmFirst = 0xFA40;
constexpr quint16 kIbmLast = 0xFC4B;

// Code page 932 carries every character of its IBM extension rows (lead bytes
// 0xFA-0xFC, which have no JIS row) a second time: in the NEC-selected rows
// 0xED-0xEE, in row 13 or in row 2. Indexed by code - kIbmFirst, the first of
// those duplicates that has the same character, or 0.
const quint16 *ibmDuplicates()
{
    static const auto duplicates = [] {
        const char16_t *table = Cp932::ToUnicodeTable();
        // Searched in this order; the first match wins.
        constexpr std::array<std::array<quint16, 2>, 3> rows{
            {{0xED40, 0xEEFC}, {0x8740, 0x879C}, {0x8140, 0x81FC}}};
        std::array<quint16, kIbmLast - kIbmFirst + 1> t{};
        for (quint16 code = kIbmFirst; code <= kIbmLast; ++code) {
            const char16_t u = table[code];
            if (u == kUndefined)
                continue;
            for (const auto &[first, last] : rows) {
                quint16 twin = first;
                while (twin <= last && table[twin] != u)
                    ++twin;
                if (twin <= last) {
                    t[code - kIbmFirst] = twin;
                    break;
                }
            }
        }
        return t;
    }();
    return duplicates.data();
}

// Marks a surrogate in the encoder's table; 0xFF is no JIS byte.
constexpr quint16 kSurrogateForm = 0xFFFF;

// Control codes that could switch a reader's character set are never passed
// on from user text.
bool isShifting(quint16 code)
{
    return code == 0x1B || code == 0x0E || code == 0x0F || code == 0x00;
}

// What the encoder writes for each UTF-16 unit: below 0x80 the one ASCII byte,
// otherwise the JIS X 0208 pair as j1 << 8 | j2 (j1 is 0x21-0x7E); surrogates
// are marked, as a pair makes one character. Folds the code page 932 table,
// the Shift_JIS -> JIS transform and the replacements into one look-up.
class JisForms
{
public:
    JisForms()
    {
        const quint16 *table = Cp932::FromUnicodeTable();
        for (unsigned u = 0; u < 0x10000; ++u)
            m_forms[u] = QChar::isSurrogate(char16_t(u)) ? kSurrogateForm : formOf(table[u]);
    }
    const quint16 *data() const { return m_forms.data(); }

private:
    static quint16 formOf(quint16 code)
    {
        if (code < 0x80)
            return isShifting(code) ? '?' : code;
        if (code <= 0xFF)
            return '.'; // no JIS X 0208 form, and the output stays 7-bit
        if (code >= kIbmFirst && code <= kIbmLast && ibmDuplicates()[code - kIbmFirst])
            code = ibmDuplicates()[code - kIbmFirst];
        quint8 j1 = quint8(code >> 8);
        quint8 j2 = quint8(code);
        SjisPairToJis(j1, j2);
        // The user-defined rows have no JIS row; two zero bytes must never go
        // out, so the character is unrepresentable.
        return j1 == 0 ? '?' : quint16(j1 << 8 | j2);
    }

    std::array<quint16, 0x10000> m_forms;
};

const quint16 *jisFormTable()
{
    static const JisForms forms;
    return forms.data();
}

} // namespace

QString WidenKana(const QString &text)
{
    const qsizetype n = text.size();
    const char16_t *s = reinterpret_cast<const char16_t *>(text.constData());
    QString out(n, Qt::Uninitialized);
    char16_t *o = reinterpret_cast<char16_t *>(out.data());
    char16_t *const start = o;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = s[i];
        if (!isHalfKana(c)) {
            *o++ = c;
            continue;
        }
        if (i + 1 < n && (s[i + 1] == kHalfVoiced || s[i + 1] == kHalfSemiVoiced)) {
            if (const char16_t combined = combine(c, s[i + 1])) {
                *o++ = combined;
                ++i;
                continue;
            }
        }
        // A pair that does not combine is the same as both halves widened alone.
        *o++ = widen(c);
    }
    out.resize(o - start);
    return out;
}

bool CheckNonAscii(QString &text)
{
    const quint16 *table = Cp932::FromUnicodeTable();
    const qsizetype n = text.size();
    const char16_t *s = reinterpret_cast<const char16_t *>(text.constData());
    char16_t *w = nullptr; // taken on the first change, so plain text is never detached
    bool seen = false;
    for (qsizetype i = 0; i < n; ++i) {
        const quint16 code = formAt(table, s, n, i);
        if (code < 0x80)
            continue;
        if (code > 0xFF) {
            seen = true;
            continue;
        }
        const bool halfKana = isHalfKana(s[i]);
        const char16_t replacement = halfKana ? widen(s[i]) : u'.';
        seen = seen || halfKana;
        if (!w) {
            w = reinterpret_cast<char16_t *>(text.data());
            s = w;
        }
        w[i] = replacement;
    }
    return seen;
}

void SjisPairToJis(quint8 &s1, quint8 &s2)
{
    int r = 0;
    if (s1 >= 0x81 && s1 <= 0x9F) {
        r = s1 - 0x81;
    } else if (s1 >= 0xE0 && s1 <= 0xEF) {
        r = s1 - 0xC1;
    } else {
        s1 = s2 = 0;
        return;
    }
    int c = 0;
    if (s2 >= 0x40 && s2 <= 0x7E) {
        c = s2 - 0x3F;
    } else if (s2 >= 0x80 && s2 <= 0xFC) {
        c = s2 - 0x40;
    } else {
        s1 = s2 = 0;
        return;
    }
    int j = 2 * r + 1;
    if (c > 94) {
        c -= 94;
        ++j;
    }
    s1 = quint8(j + 0x20);
    s2 = quint8(c + 0x20);
}

QByteArray SjisToJis(const QString &text)
{
    const quint16 *forms = jisFormTable();
    const qsizetype n = text.size();
    const char16_t *s = reinterpret_cast<const char16_t *>(text.constData());
    // Worst case per UTF-16 unit: an escape sequence and two bytes, or an
    // escape sequence and one byte; plus the closing escape sequence.
    QByteArray out(n * 5 + 3, Qt::Uninitialized);
    char *p = out.data();
    bool twoByte = false;
    for (qsizetype i = 0; i < n; ++i) {
        quint16 form = forms[s[i]];
        if (form == kSurrogateForm) {
            // A surrogate pair is one character without a form.
            if (QChar::isHighSurrogate(s[i]) && i + 1 < n && QChar::isLowSurrogate(s[i + 1]))
                ++i;
            form = '?';
        }
        if (form < 0x80) {
            if (twoByte) {
                *p++ = kEsc;
                *p++ = '(';
                *p++ = 'B';
                twoByte = false;
            }
            *p++ = char(form);
            continue;
        }
        if (!twoByte) {
            *p++ = kEsc;
            *p++ = '$';
            *p++ = 'B';
            twoByte = true;
        }
        *p++ = char(form >> 8);
        *p++ = char(form);
    }
    if (twoByte) {
        *p++ = kEsc;
        *p++ = '(';
        *p++ = 'B';
    }
    out.resize(p - out.constData());
    return out;
}

QString UnsendableCharacters(const QString &text)
{
    const quint16 *forms = jisFormTable();
    const qsizetype n = text.size();
    const char16_t *s = reinterpret_cast<const char16_t *>(text.constData());
    QString out;
    QSet<char32_t> named;
    for (qsizetype i = 0; i < n; ++i) {
        const qsizetype start = i;
        // A '?' or a shifting control code from the user is ASCII, not a loss.
        if (formAt(forms, s, n, i) != '?' || s[start] < 0x80)
            continue;
        const char32_t c = i > start ? QChar::surrogateToUcs4(s[start], s[i]) : s[start];
        const qsizetype before = named.size();
        named.insert(c);
        if (named.size() != before)
            out.append(QStringView(s + start, i - start + 1));
    }
    return out;
}

QString JisBytesToText(QByteArrayView bytes, FinalByte finalByte)
{
    const char16_t *table = Cp932::ToUnicodeTable();
    const char16_t *pairs = kanjiPairTable();
    const qsizetype n = bytes.size();
    const uchar *b = reinterpret_cast<const uchar *>(bytes.constData());
    // Every step writes at most one character and consumes at least one byte.
    QString out(n, Qt::Uninitialized);
    char16_t *o = reinterpret_cast<char16_t *>(out.data());
    char16_t *const start = o;
    bool kanji = false;
    qsizetype i = 0;
    while (i + 1 < n) {
        const unsigned d = b[i];
        const unsigned c = b[i + 1];
        if (kanji && d - kJisFirst < kJisCells && c - kJisFirst < kJisCells) {
            // The common case of a two-byte run, by the small table.
            *o++ = pairs[(d - kJisFirst) * kJisCells + (c - kJisFirst)];
            i += 2;
            continue;
        }
        if (d == 0x1B && i + 2 < n) {
            const unsigned f = b[i + 2];
            if (c == '$' && f == 'B') {
                kanji = true;
                i += 3;
                continue;
            }
            if (c == '(' && (f == 'B' || f == 'J')) {
                kanji = false;
                i += 3;
                continue;
            }
        }
        unsigned lead = d;
        unsigned trail = c;
        if (kanji)
            kanjiPairToSjis(d, c, lead, trail);
        if (lead <= 0x7F) {
            *o++ = table[d];
            ++i;
        } else if (lead >= 0xA0 && lead <= 0xDF) {
            *o++ = table[lead];
            ++i;
        } else {
            // Bytes outside 0x21-0x7E in kanji mode can push the arithmetic past
            // a byte; such a pair is simply undefined.
            *o++ = (lead <= 0xFF && trail <= 0xFF) ? table[lead << 8 | trail] : kUndefined;
            i += 2;
        }
    }
    if (i == n - 1) {
        const unsigned last = b[i];
        const bool halfKana = last >= 0xA0 && last <= 0xDF;
        if (halfKana || (finalByte == FinalByte::Keep && last < 0x80))
            *o++ = table[last];
    }
    out.resize(o - start);
    return out;
}

QString JisToText(QByteArrayView mailBytes)
{
    return JisBytesToText(mailBytes, FinalByte::Drop);
}
