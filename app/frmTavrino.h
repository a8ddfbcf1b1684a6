#pragma once

#include <QMainWindow>

/// The main window: memo form, mail checks and the notification icon.
class frmTavrino : public QMainWindow
{
    Q_OBJECT

public:
    explicit frmTavrino(QWidget *parent = nullptr);
};
