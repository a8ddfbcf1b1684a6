#pragma once
// Header line folding, header block scanning and address splitting.

#include <QList>
#include <QString>

/// Folds every line of a header block (each line ending in CR LF) at spaces so
/// that no physical line exceeds 75 characters, where it can be helped.
QString FoldHeaderLines(const QString &block);

/// One logical header line: its field name in upper case and the line itself
/// (continuation lines joined back with two spaces).
struct HeaderLine
{
    QString name;
    QString line;
    QList<qsizetype> folds; ///< where in line each two spaces standing for a line break start
};

/// Walks a received header block (up to and including the CR of its first
/// CR LF CR LF) line by line, joining continuation lines.
QList<HeaderLine> ScanHeaderLines(const QString &block);

enum class Folds {
    AsSpaces, ///< each line break stays as the two spaces that joined the lines
    Removed,  ///< each line break is gone, the continuation's own space kept
};

/// The value of a logical line: the text after "<name>:" up to the first CR.
QString HeaderFieldValue(const HeaderLine &line, Folds folds = Folds::AsSpaces);

/// Splits an address header value at its address, the last "<...>" outside
/// quotes, since a quoted name may hold "<", ">", "," or '"'. phrase is the
/// text before it, trimmed, quotes and encoded-words still in it. A value
/// without one is all phrase; it is also the address when it is a usable one.
void SplitAddress(const QString &value, QString &phrase, QString &address);

/// True for one plain mail address, local@domain, that a reply can be sent to.
bool IsUsableAddress(const QString &address);

/// Removes spaces (only U+0020) at both ends, as the reader's trims do.
QString TrimSpaces(const QString &text);
