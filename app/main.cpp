#include "frmTavrino.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    frmTavrino window;
    window.show();
    return app.exec();
}
