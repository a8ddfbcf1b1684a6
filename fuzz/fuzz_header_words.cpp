// Encoded-word decoding of arbitrary header values and display names, read as Latin-1 and as
// UTF-8.

#include "Base64Mime.h"
#include "HeaderLines.h"

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

void exercise(const QString &value)
{
    Base64JisDecode(value);
    const QString decoded = DecodeHeaderText(value);
    if (!value.contains(QLatin1String("=?ISO-2022-JP?B?"), Qt::CaseInsensitive))
        check(decoded == value, "a value without encoded-words changed");

    // A name written as words reads back to a name that is written the same
    // way: what the encoder replaces ("?" for what cannot travel) it replaces
    // once, and nothing else is lost or changed on the way.
    QString name = value; // as a desk writes a name: on one line, no spaces at its ends
    name.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString words = EncodeNameWords(TrimSpaces(name));
    check(EncodeNameWords(DecodeDisplayName(words)) == words,
          "a name written as encoded-words does not survive a round trip");

    DecodeDisplayName(value);
    const QString encoded = EncodeHeaderText(value) + words;
    for (QChar c : encoded)
        check(c.unicode() < 0x80 && c.unicode() != 0x1B, "encoded header is not plain ASCII");
    DecodeHeaderText(encoded);
    DecodeDisplayName(encoded);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    exercise(QString::fromLatin1(text, qsizetype(size)));
    exercise(QString::fromUtf8(text, qsizetype(size)));
    return 0;
}
