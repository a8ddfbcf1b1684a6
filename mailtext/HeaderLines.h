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
};

/// Walks a received header block (up to and including the CR of its first
/// CR LF CR LF) line by line, joining continuation lines.
QList<HeaderLine> ScanHeaderLines(const QString &block);

/// The value of a logical line: the text after "<name>:" up to the first CR.
QString HeaderFieldValue(const HeaderLine &line);

/// Splits an address header value into display name and mail address.
void SplitAddress(const QString &value, QString &name, QString &address);

/// Removes spaces (only U+0020) at both ends, as the reader's trims do.
QString TrimSpaces(const QString &text);
