#pragma once
// The settings dialog's frame of the login method: a password, or OAuth 2.0
// with Microsoft 365, Google or another provider, with the account signed in
// and the buttons that sign in and out. Signing in takes effect at once; the
// method is written with the other values when the dialog saves.

#include <QGroupBox>
#include <QList>
#include <QPointer>
#include <QStringList>

#include <utility>

class OAuthSignIn;
class OAuthTokens;
class QComboBox;
class QLabel;
class QPushButton;

class SignInFrame : public QGroupBox
{
    Q_OBJECT

public:
    /// stored: the values of Tavrino.ini at appIniFile, in the order of TavrinoKeys.
    SignInFrame(const QString &appIniFile, const QStringList &stored, QWidget *parent = nullptr);

    /// The keys to write on saving: none while the choice is the one read,
    /// so that a desk that never chose keeps its file as it was.
    QList<std::pair<QString, QString>> entries() const;
    /// Its controls for the tab order, in order.
    QList<QWidget *> controls() const;

private:
    void signIn();
    void update();

    QStringList m_stored;
    OAuthTokens *m_tokens;
    QPointer<OAuthSignIn> m_running;
    QComboBox *m_cboAuthMethod = nullptr;
    QLabel *m_lblAccount = nullptr;
    QPushButton *m_cmdSignIn = nullptr;
    QPushButton *m_cmdSignOut = nullptr;
    int m_readChoice = 0;
};
