// Decoder robustness, the encoder's output guarantees and round trips on arbitrary input.

#include "Cp932.h"
#include "JisConvert.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

// 7-bit, escapes only ESC $ B and ESC ( B, no shift or NUL bytes, ends in ASCII.
void checkJisOutput(const QByteArray &jis)
{
    bool kanji = false;
    const qsizetype n = jis.size();
    for (qsizetype i = 0; i < n; ++i) {
        const uchar b = uchar(jis[i]);
        check(b < 0x80, "8-bit byte in ISO-2022-JP output");
        check(b != 0x00 && b != 0x0E && b != 0x0F, "NUL, SO or SI in ISO-2022-JP output");
        if (b != 0x1B)
            continue;
        check(i + 2 < n, "truncated escape sequence");
        const bool toKanji = jis[i + 1] == '$' && jis[i + 2] == 'B';
        const bool toAscii = jis[i + 1] == '(' && jis[i + 2] == 'B';
        check(toKanji || toAscii, "foreign escape sequence");
        check(toKanji != kanji, "redundant escape sequence");
        kanji = toKanji;
        i += 2;
    }
    check(!kanji, "output does not end in ASCII mode");
}

// What the encoder writes reads back to a text that it writes the same way:
// the encoder's replacements ("?", ".", widened kana, U+00A5 as "\\") happen
// once, and nothing is lost or changed on the way back.
void roundTrip(const QString &text)
{
    const QByteArray jis = SjisToJis(text);
    checkJisOutput(jis);
    check(SjisToJis(JisBytesToText(jis, FinalByte::Keep)) == jis,
          "ISO-2022-JP written from a text does not survive a round trip");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Raw data, not a copy, so that any read past the end is caught.
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));

    const QString dropped = JisBytesToText(bytes, FinalByte::Drop);
    const QString kept = JisBytesToText(bytes, FinalByte::Keep);
    check(dropped.size() <= bytes.size(), "more characters than bytes");
    check(kept.startsWith(dropped) && kept.size() - dropped.size() <= 1,
          "the final-byte modes differ beyond the last character");
    check(JisToText(bytes) == dropped, "JisToText differs from the body rule");

    roundTrip(dropped);
    checkJisOutput(SjisToJis(kept));
    checkJisOutput(SjisToJis(Cp932::Decode(bytes)));

    // The same data as UTF-16 text: lone surrogates, control codes, anything.
    const QString text(reinterpret_cast<const QChar *>(data), qsizetype(size / 2));
    roundTrip(text);
    checkJisOutput(SjisToJis(WidenKana(text)));
    QString checked = text;
    CheckNonAscii(checked);
    check(checked.size() == text.size(), "CheckNonAscii changed the length");
    QString jisText = QString::fromLatin1(SjisToJis(checked));
    check(!CheckNonAscii(jisText), "ISO-2022-JP output counted as non-ASCII");
    check(Cp932::Encode(text).size() <= 2 * text.size(), "code page 932 form too long");
    return 0;
}
