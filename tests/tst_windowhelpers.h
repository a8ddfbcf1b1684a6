#pragma once
// Helpers for the window tests: controls, desks, message boxes, fake components.

#include "Components.h"
#include "Cp932.h"
#include "MailCheck.h"
#include "frmTavrino.h"

#include <QSignalSpy>
#include <QtWidgets>

#include <memory>

using namespace Qt::StringLiterals;

template <class T> T *Child(const QWidget *w, const QString &name)
{
    T *found = w->findChild<T *>(name);
    if (!found)
        qFatal("no control %s", qPrintable(name));
    return found;
}

/// The text a control shows: a field, a text box, a frame's title or a label.
inline QString Text(const QWidget *w, const QString &name)
{
    const QWidget *c = Child<QWidget>(w, name);
    for (const char *property : {"plainText", "title"})
        if (const QVariant value = c->property(property); value.isValid())
            return value.toString();
    return c->property("text").toString();
}

/// What a viewer shows, field by field, joined by "|".
inline QString Shown(const QWidget *viewer)
{
    QStringList parts;
    for (const char *name : {"txtSummary", "txtDepartment", "txtCaller", "txtMessage", "lblSender",
                             "lblSenderID", "sbrMsgPanel1", "sbrMsgPanel2"})
        parts.append(Text(viewer, QString::fromLatin1(name)));
    return parts.join(u'|');
}

/// Fills the main window's memo form; kind -1 chooses no option.
inline void FillMemo(QWidget *w, const QList<int> &rows, int kind, bool sealed, const QString &org,
                     const QString &caller, const QString &text)
{
    for (int row : rows)
        Child<QListWidget>(w, "lstMemberName")->item(row)->setSelected(true);
    Child<QLineEdit>(w, "txtDepartment")->setText(org);
    Child<QLineEdit>(w, "txtCaller")->setText(caller);
    Child<QPlainTextEdit>(w, "txtMessage")->setPlainText(text);
    if (kind >= 0)
        Child<QRadioButton>(w, u"optMessage%1"_s.arg(kind))->setChecked(true);
    Child<QCheckBox>(w, "chkCover")->setChecked(sealed);
}

inline bool WriteFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

/// A file's bytes; empty if it cannot be read.
inline QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

/// A desk of user1 (password "pass") at example.jp: a folder with members sato, a separator,
/// suzuki (address in blanks), tanaka, and settings; once opened, its check and window.
struct Desk
{
    QTemporaryDir folder;
    Settings settings;
    std::unique_ptr<MailCheck> check;
    std::unique_ptr<frmTavrino> window;

    explicit Desk(quint16 pop3Port, quint16 smtpPort = 0)
    {
        WriteFile(folder.filePath(u"members.lst"_s),
                  Cp932::Encode(u"佐藤;sato@example.jp\r\n---;\r\n鈴木; suzuki@example.jp \r\n"
                                u"田中;tanaka@example.jp\r\n"_s));
        WriteFile(folder.filePath(u"Tavrino.ini"_s),
                  Cp932::Encode(u"[Tavrino]\r\nUserName=総務部\r\nUserID=user1\r\nPassword=pass\r\n"
                                u"Domain=example.jp\r\nPop3Server=127.0.0.1\r\nPop3Port=%1\r\n"
                                u"SmtpServer=127.0.0.1\r\nSmtpPort=%2\r\nList=members.lst\r\n"
                                u"Interval=300\r\nSleep=0\r\n"_s.arg(pop3Port)
                                    .arg(smtpPort)));
        settings = Settings::Read(folder.path());
    }

    /// A new mail check and main window for the settings; Load's answer.
    bool open(ComponentHost *components)
    {
        window.reset();
        check = std::make_unique<MailCheck>(settings.pop3(), settings.Interval);
        window = std::make_unique<frmTavrino>(settings, check.get(), components);
        return window->Load();
    }

    /// Checks at once: 1 if the check went well, 0 if it failed, -1 if it did not end.
    int checkNow()
    {
        QSignalSpy ended(check.get(), &MailCheck::checkEnded);
        for (int i = 0; i < 10 && !check->isChecking(); ++i)
            check->tmrCheckMail_Timer();
        return ended.wait(15000) ? ended.first().first().toBool() : -1;
    }
};

/// A program folder of its own, holding copies of the real components.
inline bool CopyComponents(const QString &folder)
{
    for (const char *file :
         {"libTavReply.so", "libTavOptions.so", "libtavui.so", "libmailtext.so", "Tavrino.html"})
        if (!QFile::copy(qEnvironmentVariable("TAV_PROGRAM_DIR") + '/' + file,
                         folder + '/' + QLatin1String(file)))
            return false;
    return true;
}

/// Records every message box, modal or not, once as "icon title: text" and
/// (while dismiss is set, and until allows) presses its OK.
class BoxCatcher : public QObject
{
public:
    QStringList boxes;
    bool dismiss;
    std::function<bool()> until;

    explicit BoxCatcher(bool dismiss = true) : dismiss(dismiss) { startTimer(10); }

    static QList<QMessageBox *> openBoxes()
    {
        QList<QMessageBox *> open;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
                open.append(box);
        return open;
    }

protected:
    void timerEvent(QTimerEvent *) override
    {
        const QByteArray seen = "caughtBy" + QByteArray::number(quintptr(this));
        for (QMessageBox *box : openBoxes()) {
            if (!box->property(seen).isValid()) {
                box->setProperty(seen, true);
                const char *icon = QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(box->icon());
                boxes << u"%1 %2: %3"_s.arg(QString::fromLatin1(icon).toLower(), box->windowTitle(),
                                            box->text());
            }
            QAbstractButton *ok = box->button(QMessageBox::Ok);
            if (ok && dismiss && (!until || until()))
                ok->click();
        }
    }
};

/// A warning box of the program as BoxCatcher records it.
inline QString Warning(const QString &text)
{
    return u"warning Tavrino: "_s + text;
}

/// Components that record calls; unavailable, they fail as a missing plugin does.
class FakeComponents : public ComponentHost, public ITavOptions, public ITavReply
{
public:
    bool available = true;
    bool failReply = false;
    int settingCalls = 0;
    QStringList replies; ///< "address|name|text" per call

    ITavOptions *options(QString *error) override { return get(error) ? this : nullptr; }
    ITavReply *reply(QString *error) override { return get(error) ? this : nullptr; }
    int ShowAbout() override { return 0; }
    std::function<void()> duringSetting;
    int ShowSetting() override
    {
        if (duringSetting)
            duringSetting();
        return ++settingCalls;
    }
    int ShowReply(const QString &address, const QString &name, const QString &text) override
    {
        replies << address + u'|' + name + u'|' + text;
        return failReply;
    }
    QString LastError() const override { return u"window refused"_s; }

private:
    bool get(QString *e) { return (*e = available ? QString() : u"plugin missing"_s).isEmpty(); }
};

/// The controls of a shown window whose text does not show whole (labels, frame captions,
/// also under a control, buttons), and labels named otherwise than by their text.
inline QStringList Clipped(QWidget *window)
{
    QStringList clipped;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        const QFontMetrics metrics(w->font());
        int needed = 0;
        if (auto *label = qobject_cast<QLabel *>(w); label && !label->wordWrap())
            needed = label->text().isEmpty() || w->accessibleName().isEmpty() ||
                             w->accessibleName() == label->text()
                         ? metrics.horizontalAdvance(label->text()) + 2 * label->margin()
                         : INT_MAX; // found by its text, or not at all
        else if (auto *frame = qobject_cast<QGroupBox *>(w)) {
            needed = metrics.horizontalAdvance(frame->title()) + 8;
            for (QWidget *c : frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
                needed = c->y() < frame->contentsRect().top() ? INT_MAX : needed;
        } else if (auto *button = qobject_cast<QAbstractButton *>(w);
                   button && !button->text().isEmpty())
            needed = qobject_cast<QToolButton *>(w) ? metrics.horizontalAdvance(button->text())
                                                    : button->sizeHint().width();
        if (w->isVisible() && w->width() < needed)
            clipped << w->objectName();
    }
    return clipped;
}

/// The shown top-level windows of that object name or title.
inline QList<QWidget *> OpenWindows(const QString &name)
{
    QList<QWidget *> found = QApplication::topLevelWidgets();
    found.removeIf([&](QWidget *w) {
        return !w->isVisible() || (w->objectName() != name && w->windowTitle() != name);
    });
    return found;
}
inline QWidget *HelpWindow()
{
    return OpenWindows(u"TavrinoHelp"_s).value(0);
}
inline QList<QWidget *> ReplyWindows()
{
    return OpenWindows(u"返信 - Tavrino"_s);
}

/// A local mail office, as its start script leaves it in folder.
struct MailOffice
{
    const QString folder;
    const QSettings ports{folder + u"/ports.env"_s, QSettings::IniFormat};
    const QString domain = ports.value("MAIL_DOMAIN").toString();

    QString port(const char *key) const { return ports.value(key).toString(); }
    /// The files of a user's mails: delivered, and not yet expunged by a QUIT.
    QFileInfoList mailsOf(int user) const
    {
        const QString box = folder + u"/mail/%1/user%2/"_s.arg(domain).arg(user);
        return QDir(box + u"new"_s).entryInfoList(QDir::Files) +
               QDir(box + u"cur"_s).entryInfoList(QDir::Files);
    }
};
