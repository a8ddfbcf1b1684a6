#include "Messages.h"

QString Msg::KindSentence(QChar kind)
{
    switch (kind.unicode()) {
    case '0':
        return QLatin1Char(' ') + Kind0;
    case '1':
        return QLatin1Char(' ') + Kind1;
    case '2':
        return QLatin1Char(' ') + Kind2;
    case '3':
        return QLatin1Char(' ') + Kind3;
    default:
        return {};
    }
}

QString Msg::GroupThousands(quint64 number)
{
    QString digits = QString::number(number);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, QLatin1Char(','));
    return digits;
}
