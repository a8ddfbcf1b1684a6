#include "clsTavReply.h"

#include "Messages.h"

#include <QMessageBox>

// Placeholder until the reply window is built.
int clsTavReply::ShowReply(const QString &address, const QString &name, const QString &)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("返信 - ") + Msg::Title,
                    name + QStringLiteral(" <") + address + QStringLiteral(">"), QMessageBox::Ok);
    box.exec();
    return 0;
}
