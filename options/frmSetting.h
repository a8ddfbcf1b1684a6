#pragma once
// The settings dialog: edits the eleven values of Tavrino.ini and the choices
// of encryption and SMTP authentication, checks the required ones and stores
// them all at once.

#include "IniFile.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class SignInFrame;

class frmSetting : public QDialog
{
    Q_OBJECT

public:
    /// folder is the program folder: it holds the help file, and decides where
    /// Tavrino.ini is (TavrinoIni). The dialog reads the configuration afresh
    /// each time one is made.
    explicit frmSetting(const QString &folder, QWidget *parent = nullptr);

    const QString &appIniFile() const { return m_ini.path(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void onSave();
    void onBrowse();
    void onEdit();
    void updateEmail();

    QString m_folder;
    IniFile m_ini;
    QString m_helpFile;
    QStringList m_stored;                            ///< as read, for values no choice stands for
    QLineEdit *m_txt[TavrinoKey::TextBoxCount] = {}; ///< in the order of TavrinoKeys
    QComboBox *m_cboSecurity[2] = {};                ///< 0 POP3, 1 SMTP
    QCheckBox *m_chkSmtpAuth = nullptr;
    QCheckBox *m_chkStartup = nullptr; ///< start at login
    QLabel *m_lblEmail = nullptr;
    QPushButton *m_cmdBrowse = nullptr;
    QPushButton *m_cmdEdit = nullptr;
    QPushButton *m_cmdButton[3] = {}; ///< 0 save, 1 cancel, 2 about
    QToolButton *m_cmdHelp = nullptr;
    SignInFrame *m_signIn = nullptr;
};
