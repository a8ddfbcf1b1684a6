// Header block scanning, field values (folds kept or removed) and address splitting on any input.
#include "HeaderLines.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString block =
        QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size));
    qsizetype total = 0;
    for (const HeaderLine &line : ScanHeaderLines(block)) {
        total += line.line.size();
        const QString value = HeaderFieldValue(line);
        if (HeaderFieldValue(line, Folds::Removed).size() > value.size())
            abort(); // unfolding only takes away
        QString phrase, address;
        SplitAddress(value, phrase, address);
        if (phrase.size() > value.size() || address.size() > value.size())
            abort(); // splitting never invents characters
    }
    // A logical line spans exactly the characters it consumed.
    if (total > block.size())
        abort();
    QString name, address;
    SplitAddress(QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)), name,
                 address);
    return 0;
}
