#pragma once
// The about box: the program's name and version, the machine's memory, and a
// way to the system information tool.

#include <QDialog>

class frmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit frmAbout(QWidget *parent = nullptr);

    /// Starts the system information tool, or says there is none.
    void StartSysInfo();
};
