// The reading of a whole RETR answer, and its framing, on any input.
#include "MemoMail.h"
#include "Pop3Reply.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray answer(reinterpret_cast<const char *>(data), qsizetype(size));
    const ReadMail read = ParseRetrAnswer(answer);
    if (read.row.Key.isEmpty() || read.memo.MemoKey != read.row.Key ||
        MemoKeyOf(answer) != read.row.Key)
        abort(); // every message can be found again, also by its key alone
    const MemoView view = ViewOfMemo(read.memo);
    if (view.time.size() > 11 || view.department.size() > 20 || view.caller.size() > 20)
        abort();
    for (bool multiLine : {false, true}) {
        const Pop3Frame frame = FramePop3Reply(answer, multiLine);
        if (frame.status == FrameStatus::Complete &&
            (frame.length <= 0 || frame.length > answer.size()))
            abort();
    }
    (void)StatMessageCount(answer);
    return 0;
}
