#pragma once
// What the memo form holds when the send button is pressed.

#include "MemberList.h"

#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>

struct MemoDraft
{
    QChar kind = QLatin1Char('*'); ///< '0'..'3', or '*' when no kind is ticked
    bool sealed = false;
    QString department;
    QString caller;
    QString text;
    QStringList recipients; ///< addresses, in list order
};

/// The kind code of the ticked option button (0..3), '*' for none.
QChar MemoKind(int checkedOption);

/// The addresses of the selected rows in list order, as they stand in the
/// file. A selected row without an address (a separator chosen by select-all)
/// adds nothing.
QStringList MemoRecipients(const QList<MemberRow> &rows, const QList<int> &selectedRows);
