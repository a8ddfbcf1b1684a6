#include "MemoDraft.h"

#include <algorithm>

QChar MemoKind(int checkedOption)
{
    if (checkedOption >= 0 && checkedOption <= 3)
        return QLatin1Char(char('0' + checkedOption));
    return QLatin1Char('*');
}

QStringList MemoRecipients(const QList<MemberRow> &rows, const QList<int> &selectedRows)
{
    QList<int> order = selectedRows;
    std::sort(order.begin(), order.end());
    order.erase(std::unique(order.begin(), order.end()), order.end());
    QStringList recipients;
    for (int row : order) {
        if (row >= 0 && row < rows.size() && !rows.at(row).address.trimmed().isEmpty())
            recipients.append(rows.at(row).address);
    }
    return recipients;
}
