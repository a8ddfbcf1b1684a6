#include "frmSetting.h"

#include "AppIcons.h"
#include "AppUi.h"
#include "Autostart.h"
#include "HelpWindow.h"
#include "IniFile.h"
#include "Messages.h"
#include "OptionTexts.h"
#include "SignInFrame.h"
#include "basTavOptions.h"
#include "frmAbout.h"
#include "frmEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

namespace {

using namespace TavrinoKey;

struct BoxText
{
    const char *caption;
    const char *tip;
};

// In the order of TavrinoKeys.
const BoxText Boxes[] = {
    {"UserName:", "ユーザー名"},
    {"UserID:", "ユーザID"},
    {"Password:", "パスワード"},
    {"Domain:", "ドメイン名"},
    {"Server:", "POP3サーバ名 or サーバIPアドレス"},
    {"Port:", "POP3サーバのポート番号"},
    {"Server:", "SMTPサーバ名 or サーバIPアドレス"},
    {"Port:", "SMTPサーバのポート番号"},
    {"List:", "メンバーリストファイルを指定"},
    {"Interval:", "メッセージチェックインターバル（単位：秒）"},
    {"Sleep:", "POP3コマンド発行間隔（単位：ミリ秒）"},
};
static_assert(std::size(Boxes) == TextBoxCount);

// The two security choices: their keys and the port boxes they propose for.
constexpr int SecurityKeys[2] = {Pop3Security, SmtpSecurity};
constexpr int PortKeys[2] = {Pop3Port, SmtpPort};

} // namespace

frmSetting::frmSetting(const QString &folder, QWidget *parent)
    : QDialog(parent), m_folder(folder), m_ini(TavrinoIni(folder))
{
    const WaitCursor wait;
    buildControls();
    setWindowTitle(OptMsg::SettingCaptionPrefix + Msg::Title);
    m_stored = ReadTavrinoValues(m_ini);
    for (int i = 0; i < TextBoxCount; ++i)
        m_txt[i]->setText(m_stored.at(i));
    // A value the program would refuse shows as no choice.
    for (int s = 0; s < 2; ++s)
        m_cboSecurity[s]->setCurrentIndex(
            SecurityChoice(SecurityKeys[s], m_stored.at(SecurityKeys[s])));
    const QString auth = m_stored.at(SmtpAuth);
    if (auth == QLatin1String("1")) {
        m_chkSmtpAuth->setChecked(true);
    } else if (!auth.isEmpty() && auth != QLatin1String("0")) {
        m_chkSmtpAuth->setTristate(true);
        m_chkSmtpAuth->setCheckState(Qt::PartiallyChecked);
    }
    m_chkStartup->setChecked(QFile::exists(AutostartEntryPath()));
    updateEmail();
    m_signIn = new SignInFrame(m_ini.path(), m_stored, this);
    static_cast<QGridLayout *>(layout())->addWidget(m_signIn, 4, 0, 1, 2);
    const QList<QWidget *> order =
        QList<QWidget *>{m_txt[Sleep], m_chkStartup} + m_signIn->controls() +
        QList<QWidget *>{m_cmdHelp, m_cmdButton[0], m_cmdButton[1], m_cmdButton[2]};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    m_helpFile = QDir(folder).filePath(QStringLiteral("Tavrino.html"));
    InstallHelpKey(this, m_helpFile);

    for (QLineEdit *box : {m_txt[UserID], m_txt[Domain]})
        connect(box, &QLineEdit::textChanged, this, &frmSetting::updateEmail);
    for (int s = 0; s < 2; ++s) {
        connect(m_cboSecurity[s], &QComboBox::activated, this, [this, s](int choice) {
            QLineEdit *port = m_txt[PortKeys[s]];
            const QString proposed = ProposedPort(SecurityKeys[s], choice, port->text());
            if (proposed != port->text())
                port->setText(proposed);
        });
    }
    // Once clicked, the box is ticked or not; it does not go back to the
    // unknown value.
    connect(m_chkSmtpAuth, &QCheckBox::clicked, this,
            [this] { m_chkSmtpAuth->setTristate(false); });
    connect(m_cmdButton[0], &QPushButton::clicked, this, &frmSetting::onSave);
    connect(m_cmdButton[1], &QPushButton::clicked, this, &QDialog::reject);
    connect(m_cmdButton[2], &QPushButton::clicked, this, [this] {
        frmAbout about(this);
        about.exec();
    });
    connect(m_cmdBrowse, &QPushButton::clicked, this, &frmSetting::onBrowse);
    connect(m_cmdEdit, &QPushButton::clicked, this, &frmSetting::onEdit);
    connect(m_cmdHelp, &QToolButton::clicked, this, [this] { ShowHelpWindow(m_helpFile); });
}

void frmSetting::buildControls()
{
    setFont(AppFont());
    setWindowIcon(TavrinoIcon());
    auto *layout = new QGridLayout(this);
    auto *lblWindow = new QLabel(OptMsg::Window, this);
    lblWindow->setFont(AppFont(11, true));
    NameControl(lblWindow, QStringLiteral("lblWindow"), OptMsg::Window);
    layout->addWidget(lblWindow, 0, 0, 1, 2);

    for (int i = 0; i < TextBoxCount; ++i) {
        m_txt[i] = new QLineEdit(this);
        m_txt[i]->setToolTip(QString::fromUtf8(Boxes[i].tip));
        NameControl(m_txt[i], QStringLiteral("txt") + TavrinoKeys.at(i),
                    QString::fromUtf8(Boxes[i].tip));
        m_txt[i]->installEventFilter(this);
    }
    m_txt[Password]->setEchoMode(QLineEdit::Password);
    // Tab passes the list's path by: it is chosen with the browse button.
    m_txt[List]->setFocusPolicy(Qt::ClickFocus);
    // Ports and timings are short numbers.
    for (int i : {Pop3Port, SmtpPort, Interval, Sleep})
        m_txt[i]->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000000000")));

    auto addRow = [this](QGroupBox *group, QGridLayout *grid, int i) {
        auto *label = new QLabel(QString::fromUtf8(Boxes[i].caption), group);
        NameControl(label, QStringLiteral("lbl") + TavrinoKeys.at(i), label->text());
        label->setBuddy(m_txt[i]);
        const int row = grid->rowCount();
        grid->addWidget(label, row, 0);
        grid->addWidget(m_txt[i], row, 1);
    };
    auto addChoice = [](QGroupBox *group, QGridLayout *grid, int key, const QString &tip) {
        auto *combo = new QComboBox(group);
        for (const QString &text : OptMsg::SecurityChoices)
            combo->addItem(text);
        combo->setToolTip(tip);
        NameControl(combo, QStringLiteral("cbo") + TavrinoKeys.at(key), OptMsg::Security);
        auto *label = new QLabel(OptMsg::Security, group);
        NameControl(label, QStringLiteral("lbl") + TavrinoKeys.at(key), label->text());
        label->setBuddy(combo);
        const int row = grid->rowCount();
        grid->addWidget(label, row, 0);
        grid->addWidget(combo, row, 1, Qt::AlignLeft);
        return combo;
    };
    auto frame = [this, addRow](const QString &name, const QString &caption,
                                const QList<int> &boxes) {
        auto *group = new QGroupBox(caption, this);
        NameControl(group, name, caption);
        auto *grid = new QGridLayout(group);
        for (int i : boxes)
            addRow(group, grid, i);
        grid->setColumnStretch(1, 1);
        return std::pair{group, grid};
    };

    auto [userInfo, userGrid] = frame(QStringLiteral("frameUserInfo"), OptMsg::FrameUserInfo,
                                      {UserName, UserID, Password, Domain});
    auto *lblAddress = new QLabel(OptMsg::Address, userInfo);
    NameControl(lblAddress, QStringLiteral("lblAddress"), OptMsg::Address);
    m_lblEmail = new QLabel(userInfo);
    m_lblEmail->setObjectName(QStringLiteral("lblEmail"));
    m_lblEmail->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const int addressRow = userGrid->rowCount();
    userGrid->addWidget(lblAddress, addressRow, 0);
    userGrid->addWidget(m_lblEmail, addressRow, 1);
    addRow(userInfo, userGrid, Pop3Server);
    addRow(userInfo, userGrid, Pop3Port);
    m_cboSecurity[0] = addChoice(userInfo, userGrid, Pop3Security, OptMsg::Pop3SecurityTip);
    userGrid->setRowStretch(userGrid->rowCount(), 1);
    layout->addWidget(userInfo, 1, 0, 3, 1);

    auto [serverInfo, serverGrid] =
        frame(QStringLiteral("frameServerInfo"), OptMsg::FrameServerInfo, {SmtpServer, SmtpPort});
    m_cboSecurity[1] = addChoice(serverInfo, serverGrid, SmtpSecurity, OptMsg::SmtpSecurityTip);
    m_chkSmtpAuth = new QCheckBox(OptMsg::SmtpAuth, serverInfo);
    m_chkSmtpAuth->setToolTip(OptMsg::SmtpAuthTip);
    NameControl(m_chkSmtpAuth, QStringLiteral("chkSmtpAuth"), OptMsg::SmtpAuth);
    serverGrid->addWidget(m_chkSmtpAuth, serverGrid->rowCount(), 0, 1, 2);
    layout->addWidget(serverInfo, 1, 1);

    auto [listFrame, listGrid] = frame(QStringLiteral("Frame1"), OptMsg::FrameList, {List});
    m_cmdBrowse =
        TextButton(listFrame, QStringLiteral("cmdBrowse"), OptMsg::Browse, OptMsg::BrowseTip);
    m_cmdEdit = TextButton(listFrame, QStringLiteral("cmdEdit"), OptMsg::Edit, OptMsg::EditTip);
    const int listRow = listGrid->rowCount() - 1;
    listGrid->addWidget(m_cmdBrowse, listRow, 2);
    listGrid->addWidget(m_cmdEdit, listRow + 1, 1, 1, 2, Qt::AlignRight);
    layout->addWidget(listFrame, 2, 1);

    auto [timing, timingGrid] =
        frame(QStringLiteral("Frame2"), OptMsg::FrameTiming, {Interval, Sleep});
    m_chkStartup = new QCheckBox(OptMsg::StartAtLogon, timing);
    m_chkStartup->setToolTip(OptMsg::StartAtLogonTip);
    NameControl(m_chkStartup, QStringLiteral("chkStartup"), OptMsg::StartAtLogon);
    timingGrid->addWidget(m_chkStartup, timingGrid->rowCount(), 0, 1, 2);
    layout->addWidget(timing, 3, 1);

    auto *buttons = new QHBoxLayout;
    m_cmdHelp = PictureButton(this, QStringLiteral("cmdHelp"), QString(), OptMsg::HelpName,
                              HelpPicture(), QRect());
    m_cmdHelp->setMinimumSize(32, 32);
    buttons->addWidget(m_cmdHelp);
    buttons->addStretch();
    m_cmdButton[0] = TextButton(this, QStringLiteral("cmdButton0"), OptMsg::Save, OptMsg::SaveTip);
    m_cmdButton[1] =
        TextButton(this, QStringLiteral("cmdButton1"), OptMsg::Cancel, OptMsg::CancelTip);
    m_cmdButton[2] =
        TextButton(this, QStringLiteral("cmdButton2"), OptMsg::About, OptMsg::AboutTip);
    for (QPushButton *button : m_cmdButton)
        buttons->addWidget(button);
    layout->addLayout(buttons, 5, 0, 1, 2); // below the sign-in frame
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // Tab order as the frames read: down the left, then down the right.
    QWidget *order[] = {m_txt[UserName],   m_txt[UserID],    m_txt[Password],  m_txt[Domain],
                        m_txt[Pop3Server], m_txt[Pop3Port],  m_cboSecurity[0], m_txt[SmtpServer],
                        m_txt[SmtpPort],   m_cboSecurity[1], m_chkSmtpAuth,    m_cmdBrowse,
                        m_cmdEdit,         m_txt[Interval],  m_txt[Sleep],     m_chkStartup,
                        m_cmdHelp,         m_cmdButton[0],   m_cmdButton[1],   m_cmdButton[2]};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

bool frmSetting::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        if (watched == m_txt[List]) {
            // The path is chosen with the file dialog, never typed.
            QTimer::singleShot(0, m_cmdBrowse, qOverload<>(&QWidget::setFocus));
        } else if (auto *box = qobject_cast<QLineEdit *>(watched)) {
            // After the click that gave the focus has placed the cursor.
            QTimer::singleShot(0, box, &QLineEdit::selectAll);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmSetting::updateEmail()
{
    m_lblEmail->setText(m_txt[UserID]->text().trimmed() + QLatin1Char('@') +
                        m_txt[Domain]->text().trimmed());
}

void frmSetting::onSave()
{
    QStringList values;
    for (QLineEdit *box : m_txt)
        values.append(box->text());
    // What no choice stands for is kept as read until the user picks one.
    for (int s = 0; s < 2; ++s) {
        const int choice = m_cboSecurity[s]->currentIndex();
        values.append(choice < 0 ? m_stored.at(SecurityKeys[s])
                                 : SecurityValue(SecurityKeys[s], choice));
    }
    values.append(m_chkSmtpAuth->checkState() == Qt::PartiallyChecked ? m_stored.at(SmtpAuth)
                  : m_chkSmtpAuth->isChecked()                        ? QStringLiteral("1")
                                                                      : QStringLiteral("0"));
    const auto [missing, message] = FirstMissingSetting(values);
    if (missing >= 0) {
        ShowBox(this, QMessageBox::Warning, message);
        if (missing == List)
            m_cmdBrowse->setFocus();
        else
            m_txt[missing]->setFocus();
        return;
    }
    // All values in one replacement of the file; on failure the dialog stays
    // open with what was typed.
    if (!WriteSettings(m_ini, values, m_signIn->entries())) {
        ShowBox(this, QMessageBox::Warning, IniWriteErrorText(m_ini.path()));
        return;
    }
    // The entry starts the program of this folder, wherever that is.
    if (!SetAutostart(m_chkStartup->isChecked(),
                      QDir(m_folder).filePath(QStringLiteral("Tavrino")))) {
        ShowBox(this, QMessageBox::Warning, IniWriteErrorText(AutostartEntryPath()));
        return;
    }
    ShowBox(this, QMessageBox::Warning, OptMsg::Restart);
    accept();
}

void frmSetting::onBrowse()
{
    // Where Tavrino.ini is; before the first save a user's own folder may not be there yet.
    const QString start = QFileInfo::exists(m_ini.folder()) ? m_ini.folder() : QDir::homePath();
    QFileDialog dialog(this, QString(), start, OptMsg::ListFilter);
    dialog.setObjectName(QStringLiteral("CommonDialog1"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        m_txt[List]->setText(QDir::toNativeSeparators(dialog.selectedFiles().constFirst()));
}

void frmSetting::onEdit()
{
    // The editor works on the path as it stands, saved or not; a bare name is
    // beside Tavrino.ini.
    frmEdit editor(m_txt[List]->text(), m_ini.folder(), m_helpFile, this);
    editor.exec();
}
