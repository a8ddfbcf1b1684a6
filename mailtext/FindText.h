#pragma once
// A search for the short texts that frame mail, all beginning with CR, a
// byte seen once a line: memchr finds it, memcmp checks the rest. Qt's
// indexOf rolls a hash over every byte for needles of two to five bytes,
// which made it the largest cost of reading a mail.

#include <QByteArrayView>

#include <cstring>

/// Where needle first occurs in text at or after from (0 or more); -1 if nowhere.
inline qsizetype FindText(QByteArrayView text, QByteArrayView needle, qsizetype from = 0)
{
    const qsizetype n = needle.size();
    if (n == 0)
        return from <= text.size() ? from : -1;
    const char *const begin = text.data();
    while (from + n <= text.size()) {
        const auto *hit = static_cast<const char *>(
            std::memchr(begin + from, needle.front(), size_t(text.size() - n + 1 - from)));
        if (!hit)
            return -1;
        if (std::memcmp(hit + 1, needle.data() + 1, size_t(n - 1)) == 0)
            return hit - begin;
        from = hit - begin + 1;
    }
    return -1;
}
