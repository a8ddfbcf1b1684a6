#include "TextFile.h"

#include "Cp932.h"

#include <QFile>

#include <algorithm>

namespace {

constexpr char Bom[] = "\xEF\xBB\xBF";

} // namespace

FileEncoding FileEncoding::Of(QByteArrayView data)
{
    FileEncoding e;
    e.m_bom = data.startsWith(QByteArrayView(Bom, 3));
    // In valid UTF-8 any byte above 0x7F belongs to a multi-byte sequence.
    const bool nonAscii =
        std::any_of(data.begin(), data.end(), [](char c) { return quint8(c) >= 0x80; });
    e.m_utf8 = e.m_bom || (nonAscii && data.isValidUtf8());
    return e;
}

FileEncoding FileEncoding::OfFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return Of(file.readAll());
}

QByteArray FileEncoding::prefix() const
{
    return m_bom ? QByteArray(Bom, 3) : QByteArray();
}

QString FileEncoding::decode(QByteArrayView bytes) const
{
    return m_utf8 ? QString::fromUtf8(bytes) : Cp932::Decode(bytes);
}

QByteArray FileEncoding::encode(const QString &text) const
{
    return m_utf8 ? text.toUtf8() : Cp932::Encode(text);
}
