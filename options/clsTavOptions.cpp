#include "clsTavOptions.h"

#include "Messages.h"

#include <QMessageBox>

// Placeholders until the settings dialog and the about box are built.
int clsTavOptions::ShowAbout()
{
    QMessageBox box(QMessageBox::Information, Msg::Title,
                    Msg::Title + QStringLiteral(" ") + QStringLiteral(TAVRINO_VERSION),
                    QMessageBox::Ok);
    box.exec();
    return 0;
}

int clsTavOptions::ShowSetting()
{
    QMessageBox box(QMessageBox::Information, Msg::Title,
                    QStringLiteral("設定は Tavrino.ini を編集してください。"), QMessageBox::Ok);
    box.exec();
    return 0;
}
