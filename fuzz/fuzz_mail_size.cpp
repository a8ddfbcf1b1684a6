// Whole mails of up to some megabytes, of any shape: a piece of the input
// repeated (header lines without end, one folded header, one endless line…).
// What is kept of a mail stays bounded by what is shown, not by its size; the
// run's memory and time are bounded by the fuzzer's limits (see CMakeLists).

#include "MemoMail.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    // The first two bytes choose how often the rest repeats: up to 4 MiB.
    const QByteArray piece(reinterpret_cast<const char *>(data) + 2, qsizetype(size - 2));
    const qsizetype times = qMin<qsizetype>((data[0] << 8 | data[1]) + 1, (4 << 20) / piece.size());
    const QByteArray answer = "+OK\r\n" + piece.repeated(times) + "\r\n.\r\n";
    const ReadMail read = ParseRetrAnswer(answer);
    const MemoView view = ViewOfMemo(read.memo);
    const qsizetype kept = read.memo.MemoBody.size() + read.memo.MemoSubject.size() +
                           read.memo.MemoFromName.size() + read.memo.MemoTo.size();
    if (read.memo.MemoBody.size() > MaxShownBytes || view.text.size() > MaxShownBytes + 100 ||
        kept > MaxShownBytes + 4 * MaxHeaderBytes) {
        std::fprintf(stderr, "kept %lld characters of a mail of %lld bytes\n", qlonglong(kept),
                     qlonglong(answer.size()));
        std::abort();
    }
    return 0;
}
