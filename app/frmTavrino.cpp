#include "frmTavrino.h"

#include "Messages.h"

frmTavrino::frmTavrino(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(Msg::Title);
    resize(4635 / 15, 5895 / 15);
}
