#include "HeaderLines.h"

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
    QList<HeaderLine> lines;
    const qsizetype size = block.size();
    qsizetype pos = 0;
    while (pos < size) {
        // The current line runs up to and including the CR of the next CR LF.
        const qsizetype crlf = block.indexOf(CrLf, pos);
        qsizetype lineEnd = crlf < 0 ? size : crlf + 1; // exclusive
        const qsizetype lineLen = lineEnd - pos;

        HeaderLine header;
        const qsizetype colon = block.indexOf(QLatin1Char(':'), pos);
        if (colon >= 0)
            header.name = block.mid(pos, qMin(colon - pos, lineLen)).toUpper();

        QString logical = block.mid(pos, lineLen);
        qsizetype consumed = lineLen;
        // Join following lines without a colon that are themselves ended by CR LF.
        qsizetype cursor = crlf < 0 ? size : crlf + 2;
        while (crlf >= 0 && cursor < size) {
            const qsizetype nextCrlf = block.indexOf(CrLf, cursor);
            if (nextCrlf < 0)
                break;
            const QStringView next = QStringView(block).mid(cursor, nextCrlf + 1 - cursor);
            if (next.contains(QLatin1Char(':')))
                break;
            const qsizetype cr = logical.indexOf(QLatin1Char('\r'));
            if (cr >= 0)
                logical.truncate(cr);
            logical += QLatin1String("  ");
            logical += next;
            consumed = logical.size(); // the two spaces stand for the CR LF
            cursor = nextCrlf + 2;
        }
        header.line = logical;
        lines.append(header);
        pos += consumed + 1;
    }
    return lines;
}

QString HeaderFieldValue(const HeaderLine &line)
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
    return line.line.mid(start, cr - start);
}

void SplitAddress(const QString &value, QString &name, QString &address)
{
    name.clear();
    address.clear();
    const qsizetype size = value.size();
    qsizetype i = 0;
    auto readAddress = [&](qsizetype from) {
        qsizetype close = value.indexOf(QLatin1Char('>'), from);
        if (close < 0)
            close = size;
        address = value.mid(from, close - from);
    };
    if (size == 0)
        return;
    if (value.at(0) == QLatin1Char('"')) {
        for (i = 1; i < size; ++i) {
            const QChar c = value.at(i);
            if (c == QLatin1Char('\\') && i + 1 < size) {
                name += value.at(++i);
            } else if (c == QLatin1Char('"')) {
                break;
            } else {
                name += c;
            }
        }
        ++i; // past the closing quote
        while (i < size && value.at(i) == QLatin1Char(' '))
            ++i;
        if (i < size && value.at(i) == QLatin1Char('<'))
            readAddress(i + 1);
        return;
    }
    const qsizetype open = value.indexOf(QLatin1Char('<'));
    if (open < 0) {
        name = value;
        return;
    }
    name = value.left(open);
    readAddress(open + 1);
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
