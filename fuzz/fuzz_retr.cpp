// The reading of a whole RETR answer, of a UIDL or LIST listing, and the
// framing of replies, on any input.
#include "MemoMail.h"
#include "Pop3Jobs.h"
#include "ReplyFramer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray answer(reinterpret_cast<const char *>(data), qsizetype(size));
    const ReadMail read = ParseRetrAnswer(answer);
    if (read.row.Key.isEmpty() || read.memo.MemoKey != read.row.Key ||
        MemoKeyOf(answer) != read.row.Key)
        abort(); // every message can be found again, by the same key
    const MemoView view = ViewOfMemo(read.memo);
    if (view.time.size() > 11 || view.department.size() > 20 || view.caller.size() > 20)
        abort();
    (void)StatMessageCount(answer);

    // A listing read back gives each field once, in order, as it stood; the
    // same fields written as a listing read back the same.
    QList<QByteArray> fields;
    QByteArray bad;
    const int count = qMax(0, StatMessageCount(answer));
    if (ReadListing(answer, count, &fields, &bad)) {
        QByteArray listing = "+OK\r\n";
        for (qsizetype i = 0; i < fields.size(); ++i) {
            if (fields[i].isEmpty() || fields[i].contains(' '))
                abort();
            listing += QByteArray::number(i + 1) + ' ' + fields[i] + "\r\n";
        }
        QList<QByteArray> again;
        if (!ReadListing(listing + ".\r\n", count, &again, &bad) || again != fields)
            abort();
    }

    // The same bytes framed in each form, fed in pieces whose sizes the
    // input itself chooses; what comes out never exceeds what went in.
    LineLimits limits;
    limits.maxLine = 64;
    limits.maxAnswer = 512;
    limits.maxReply = 512;
    for (ReplyForm form : {ReplyForm::Pop3Line, ReplyForm::Pop3MultiLine, ReplyForm::Smtp}) {
        ReplyFramer framer(limits);
        framer.expect(form);
        qsizetype out = 0;
        for (qsizetype pos = 0; pos < answer.size();) {
            const qsizetype piece = 1 + quint8(answer.at(pos)) % 17;
            framer.append(answer.mid(pos, piece));
            pos += piece;
            LineReply reply;
            ReplyFramer::Status status;
            while ((status = framer.next(reply)) == ReplyFramer::Status::Complete) {
                out += reply.bytes.size();
                if (reply.bytes.isEmpty() || (!reply.tooLarge && reply.bytes.size() > 512 + 64))
                    abort();
                framer.expect(form);
            }
            if (status == ReplyFramer::Status::Bad)
                break;
        }
        if (out > answer.size())
            abort();
    }
    return 0;
}
