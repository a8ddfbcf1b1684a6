#include "frmAbout.h"

#include "AppIcons.h"
#include "AppUi.h"
#include "HelpWindow.h"
#include "Messages.h"
#include "OptionTexts.h"
#include "basTavOptions.h"

#include <QDir>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>

namespace {

QLabel *Label(QWidget *parent, const QString &name, const QString &text)
{
    auto *label = new QLabel(text, parent);
    NameControl(label, name, text);
    return label;
}

QFrame *Line(QWidget *parent, const QString &name)
{
    auto *line = new QFrame(parent);
    line->setObjectName(name);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace

frmAbout::frmAbout(QWidget *parent) : QDialog(parent)
{
    const WaitCursor wait;
    setFont(AppFont());
    setWindowIcon(TavrinoIcon());
    setWindowTitle(Msg::Title + OptMsg::AboutCaptionSuffix);
    InstallHelpKey(this, QDir(OptionsFolder()).filePath(QStringLiteral("Tavrino.html")));

    auto *layout = new QGridLayout(this);
    auto *picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setPixmap(windowIcon().pixmap(48, 48));
    picIcon->setAccessibleName(Msg::Title);
    layout->addWidget(picIcon, 0, 0, 3, 1, Qt::AlignTop);
    auto *lblTitle = Label(this, QStringLiteral("lblTitle"), Msg::Title);
    lblTitle->setFont(AppFont(14, true));
    layout->addWidget(lblTitle, 0, 1, 1, 2);
    layout->addWidget(Label(this, QStringLiteral("lblVersion"),
                            OptMsg::Version + QStringLiteral(TAVRINO_VERSION)),
                      1, 1, 1, 2);
    layout->addWidget(Label(this, QStringLiteral("lblCopyright"), OptMsg::Copyright), 2, 1, 1, 2);
    layout->addWidget(Line(this, QStringLiteral("Line1_0")), 3, 0, 1, 3);
    layout->addWidget(Label(this, QStringLiteral("lblDisclaimer"),
                            OptMsg::MemoryPrefix + Msg::GroupThousands(TotalPhysicalMemoryKB()) +
                                OptMsg::MemorySuffix),
                      4, 0, 1, 3);
    layout->addWidget(Line(this, QStringLiteral("Line1_1")), 5, 0, 1, 3);

    auto *cmdOK = new QPushButton(OptMsg::Ok, this);
    NameControl(cmdOK, QStringLiteral("cmdOK"), OptMsg::Ok);
    cmdOK->setDefault(true);
    auto *cmdSysInfo = new QPushButton(OptMsg::SysInfo, this);
    NameControl(cmdSysInfo, QStringLiteral("cmdSysInfo"), OptMsg::SysInfo);
    cmdSysInfo->setAutoDefault(false);
    layout->addWidget(cmdOK, 6, 2);
    layout->addWidget(cmdSysInfo, 7, 2);
    layout->setColumnStretch(1, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);

    adjustSize();
    if (const QScreen *screen = this->screen()) {
        const QRect area = screen->geometry();
        move(area.left() + (area.width() - width()) / 2,
             area.top() + (area.height() - height()) / 2);
    }
}

void frmAbout::StartSysInfo()
{
    const QString tool = FindSysInfoTool(qEnvironmentVariable("PATH"));
    if (tool.isEmpty() || !QProcess::startDetached(tool, {}))
        ShowBox(this, QMessageBox::NoIcon, OptMsg::NoSysInfo);
}
