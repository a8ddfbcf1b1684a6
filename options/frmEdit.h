#pragma once
// The member list editor: shows the member list file, lets the user insert,
// delete and reorder rows, and writes the whole list back.

#include <QDialog>

class MemberDragList;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

class frmEdit : public QDialog
{
    Q_OBJECT

public:
    /// listFile as the settings dialog holds it; a relative path is taken
    /// from folder.
    frmEdit(const QString &listFile, const QString &folder, const QString &helpFile,
            QWidget *parent = nullptr);

private:
    void buildControls();
    void updateArrows();
    void onMove(int direction);
    void onInsert();
    void onDelete();
    void onSave();
    void warn(const QString &text);

    QString m_appListFile;
    QByteArray m_unread; ///< the part of the file that could not be read, kept on saving

    QLabel *m_lblList = nullptr;
    MemberDragList *m_lstMemberName = nullptr;
    QToolButton *m_cmdArrow[2] = {}; ///< 0 up, 1 down
    QLineEdit *m_txtUserName = nullptr;
    QLineEdit *m_txtAddress = nullptr;
    QPushButton *m_cmdEdit[3] = {};   ///< 0 insert, 2 delete; there is no 1
    QPushButton *m_cmdButton[2] = {}; ///< 0 save, 1 cancel
};
