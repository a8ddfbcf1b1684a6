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
