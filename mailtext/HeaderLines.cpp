#include "HeaderLines.h"

#include <vector>

namespace {
constexpr int FoldWidth = 75;
const QString CrLf = QStringLiteral("\r\n");
} // namespace

QString FoldHeaderLines(const QString &block)
{
    QString out;
    out.reserve(block.size() + block.size() / 16);
    qsizetype pos = 0;
    while (pos < block.size()) {
        qsizetype end = block.indexOf(CrLf, pos);
        if (end < 0)
            end = block.size(); // callers end every line; fold what is there all the same
        const QStringView line = QStringView(block).mid(pos, end - pos);
        qsizetype wordStart = 0;
        qsizetype space = line.indexOf(QLatin1Char(' '));
        QString current = (space < 0 ? line : line.left(space)).toString();
        while (space >= 0) {
            wordStart = space + 1;
            space = line.indexOf(QLatin1Char(' '), wordStart);
            const QStringView word =
                space < 0 ? line.mid(wordStart) : line.mid(wordStart, space - wordStart);
            if (current.size() + word.size() + 1 > FoldWidth) {
                out += current;
                out += CrLf;
                out += QLatin1Char(' ');
                current = word.toString();
            } else {
                current += QLatin1Char(' ');
                current += word;
            }
        }
        out += current;
        out += CrLf;
        pos = end + 2;
    }
    return out;
}

QList<HeaderLine> ScanHeaderLines(const QString &block)
{
    const QStringView text(block);
    const qsizetype size = text.size();

    // Every physical line ended by CR LF, found once: joining continuation
    // lines then never scans the block again, however long the header grows.
    struct Physical
    {
        qsizetype start;
        qsizetype firstCr; // the CR of its CR LF unless a bare CR comes first
        qsizetype crlf;
        bool colon;
    };
    std::vector<Physical> physical;
    for (qsizetype i = 0, start = 0, firstCr = -1, colon = -1; i < size; ++i) {
        const char16_t c = text[i].unicode();
        if (c == u':' && colon < start) {
            colon = i;
        } else if (c == u'\r') {
            if (firstCr < start)
                firstCr = i;
            if (i + 1 < size && text[i + 1] == u'\n') {
                physical.push_back({start, firstCr, i, colon >= start});
                start = i + 2;
                ++i;
            }
        }
    }

    QList<HeaderLine> lines;
    size_t next = 0;      // the first physical line whose CR LF is at or after pos
    qsizetype colon = -2; // the first colon at or after pos, -1 for none
    qsizetype cr = -2;    // the first CR at or after pos
    qsizetype pos = 0;
    while (pos < size) {
        // A joined line cut at a bare CR counts fewer characters than it
        // spanned, so the next line may start inside it: each search resumes
        // where the last one stopped instead of scanning ahead again.
        while (next < physical.size() && physical[next].crlf < pos)
            ++next;
        if (colon != -1 && colon < pos)
            colon = text.indexOf(QLatin1Char(':'), pos);
        const bool ended = next < physical.size();
        // The current line runs up to and including the CR of the next CR LF.
        const qsizetype lineLen = (ended ? physical[next].crlf + 1 : size) - pos;

        HeaderLine header;
        if (colon >= 0)
            header.name = text.mid(pos, qMin(colon - pos, lineLen)).toString().toUpper();

        // Following lines without a colon, themselves ended by CR LF, are
        // joined: each but the last up to its first CR, the last with its CR.
        size_t last = ended ? next : physical.size();
        while (last + 1 < physical.size() && !physical[last + 1].colon)
            ++last;
        qsizetype consumed = lineLen;
        if (ended && last > next) {
            if (cr < pos)
                cr = text.indexOf(QLatin1Char('\r'), pos);
            header.line = text.mid(pos, cr - pos).toString();
            for (size_t j = next + 1; j <= last; ++j) {
                const Physical &line = physical[j];
                header.folds.append(header.line.size());
                header.line += QLatin1String("  ");
                header.line +=
                    text.mid(line.start, (j == last ? line.crlf + 1 : line.firstCr) - line.start);
            }
            consumed = header.line.size(); // the two spaces stand for the CR LF
        } else {
            header.line = text.mid(pos, lineLen).toString();
        }
        lines.append(header);
        pos += consumed + 1;
    }
    return lines;
}

QString HeaderFieldValue(const HeaderLine &line, Folds folds)
{
    if (line.name.isEmpty())
        return {};
    const qsizetype at = line.line.indexOf(line.name + QLatin1Char(':'), 0, Qt::CaseInsensitive);
    if (at < 0)
        return {};
    const qsizetype start = at + line.name.size() + 1;
    qsizetype cr = line.line.indexOf(QLatin1Char('\r'), start);
    if (cr < 0)
        cr = line.line.size();
    if (folds == Folds::AsSpaces)
        return line.line.mid(start, cr - start);
    QString value;
    qsizetype from = start;
    for (const qsizetype fold : line.folds) {
        if (fold < from || fold >= cr)
            continue;
        value += QStringView(line.line).mid(from, fold - from);
        from = fold + 2;
    }
    return value + QStringView(line.line).mid(from, cr - from);
}

void SplitAddress(const QString &value, QString &phrase, QString &address)
{
    qsizetype open = -1, pairOpen = -1, pairClose = -1;
    bool quoted = false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (quoted && c == QLatin1Char('\\'))
            ++i;
        else if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted && c == QLatin1Char('<'))
            open = i;
        else if (!quoted && c == QLatin1Char('>') && open >= 0)
            pairOpen = open, pairClose = i, open = -1;
    }
    if (pairOpen < 0) {
        phrase = TrimSpaces(value);
        address = IsUsableAddress(phrase) ? phrase : QString();
        return;
    }
    phrase = TrimSpaces(value.left(pairOpen));
    address = TrimSpaces(value.mid(pairOpen + 1, pairClose - pairOpen - 1));
}

bool IsUsableAddress(const QString &address)
{
    const qsizetype at = address.indexOf(QLatin1Char('@'));
    if (at <= 0 || at == address.size() - 1 || address.indexOf(QLatin1Char('@'), at + 1) >= 0)
        return false;
    // One address only: no list, no route, nothing a command line could be built from.
    const QLatin1String specials("<>()[],;:\\\"");
    for (const QChar c : address) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7F || specials.contains(c))
            return false;
    }
    return true;
}

QString TrimSpaces(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return begin == 0 && end == text.size() ? text : text.mid(begin, end - begin);
}
