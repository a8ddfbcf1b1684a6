#pragma once
// Files a person may edit by hand: code page 932, as other desks and stored
// files have them, or UTF-8, as a Linux editor writes them. The encoding is
// decided once for the whole file, so that every line reads alike, and kept
// when the file is written back.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class FileEncoding
{
public:
    /// UTF-8 when data starts with the UTF-8 byte order mark, or when it is
    /// valid UTF-8 holding at least one multi-byte sequence; code page 932
    /// otherwise (plain ASCII reads the same either way).
    static FileEncoding Of(QByteArrayView data);

    /// The encoding of the file at path as it is now; code page 932 when the
    /// file is missing or cannot be read, the form new files get.
    static FileEncoding OfFile(const QString &path);

    bool isUtf8() const { return m_utf8; }

    /// data without its byte order mark, which belongs to no line.
    QByteArrayView body(QByteArrayView data) const { return data.sliced(m_bom ? 3 : 0); }

    /// What the file starts with before its first line: the byte order mark
    /// when it had one.
    QByteArray prefix() const;

    QString decode(QByteArrayView bytes) const;
    QByteArray encode(const QString &text) const;

private:
    bool m_utf8 = false;
    bool m_bom = false;
};
