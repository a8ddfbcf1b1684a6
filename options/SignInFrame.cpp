#include "SignInFrame.h"

#include "AppMessages.h"
#include "AppUi.h"
#include "BrowserSignIn.h"
#include "IniFile.h"
#include "OAuthTokens.h"
#include "OptionTexts.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace {
// The choices in their order, as AuthMethod and OAuthProvider name them.
const std::pair<const char *, const char *> Choices[] = {
    {"password", ""}, {"oauth", "microsoft"}, {"oauth", "google"}, {"oauth", "custom"}};
} // namespace

SignInFrame::SignInFrame(const QString &appIniFile, const QStringList &stored, QWidget *parent)
    : QGroupBox(OptMsg::FrameSignIn, parent), m_stored(stored),
      m_tokens(OAuthTokens::of(appIniFile))
{
    NameControl(this, QStringLiteral("frameSignIn"), OptMsg::FrameSignIn);
    auto *grid = new QGridLayout(this);
    auto *label = new QLabel(OptMsg::AuthMethod, this);
    NameControl(label, QStringLiteral("lblAuthMethod"), OptMsg::AuthMethod);
    m_cboAuthMethod = new QComboBox(this);
    for (const QString &text : OptMsg::AuthMethods)
        m_cboAuthMethod->addItem(text);
    NameControl(m_cboAuthMethod, QStringLiteral("cboAuthMethod"), OptMsg::AuthMethod);
    label->setBuddy(m_cboAuthMethod);
    const QString method = stored.value(TavrinoKey::AuthMethod).trimmed().toLower();
    const QString provider = stored.value(TavrinoKey::OAuthProvider).trimmed().toLower();
    for (int i = 1; method == QLatin1String("oauth") && i < int(std::size(Choices)); ++i) {
        if (provider == QLatin1String(Choices[i].second))
            m_readChoice = i;
    }
    m_cboAuthMethod->setCurrentIndex(m_readChoice);
    m_lblAccount = new QLabel(this);
    m_lblAccount->setObjectName(QStringLiteral("lblAccount"));
    m_cmdSignIn = TextButton(this, QStringLiteral("cmdSignIn"), AppMsg::SignIn, AppMsg::SignInTip);
    m_cmdSignOut =
        TextButton(this, QStringLiteral("cmdSignOut"), OptMsg::SignOut, OptMsg::SignOutTip);
    grid->addWidget(label, 0, 0);
    grid->addWidget(m_cboAuthMethod, 0, 1, 1, 2, Qt::AlignLeft);
    grid->addWidget(m_lblAccount, 1, 0, 1, 3);
    grid->addWidget(m_cmdSignIn, 2, 1, Qt::AlignRight);
    grid->addWidget(m_cmdSignOut, 2, 2);
    connect(m_cboAuthMethod, &QComboBox::currentIndexChanged, this, &SignInFrame::update);
    connect(m_cmdSignIn, &QPushButton::clicked, this, &SignInFrame::signIn);
    connect(m_cmdSignOut, &QPushButton::clicked, m_tokens, &OAuthTokens::signOut);
    connect(m_tokens, &OAuthTokens::changed, this, &SignInFrame::update);
    update();
}

QList<std::pair<QString, QString>> SignInFrame::entries() const
{
    const int choice = m_cboAuthMethod->currentIndex();
    if (choice == m_readChoice)
        return {};
    return {{TavrinoKeys.at(TavrinoKey::AuthMethod), QLatin1String(Choices[choice].first)},
            {TavrinoKeys.at(TavrinoKey::OAuthProvider), QLatin1String(Choices[choice].second)}};
}

QList<QWidget *> SignInFrame::controls() const
{
    return {m_cboAuthMethod, m_cmdSignIn, m_cmdSignOut};
}

void SignInFrame::update()
{
    const bool oauth = m_cboAuthMethod->currentIndex() > 0;
    const bool signedIn = m_tokens->isSignedIn();
    // The account is the mailbox the tokens are for; the tokens never show.
    m_lblAccount->setText(!oauth ? QString()
                          : signedIn
                              ? OptMsg::SignedInAs.arg(
                                    m_stored.value(TavrinoKey::UserID).trimmed() +
                                    QLatin1Char('@') + m_stored.value(TavrinoKey::Domain).trimmed())
                              : OptMsg::NotSignedIn);
    m_cmdSignIn->setEnabled(oauth && !m_running);
    m_cmdSignOut->setEnabled(signedIn);
}

void SignInFrame::signIn()
{
    QStringList values = m_stored;
    const auto &[method, provider] = Choices[m_cboAuthMethod->currentIndex()];
    values[TavrinoKey::AuthMethod] = QLatin1String(method);
    values[TavrinoKey::OAuthProvider] = QLatin1String(provider);
    const OAuthConfig config = OAuthConfigFrom(values);
    auto *signIn = StartBrowserSignIn(m_tokens, config, this, [this](const QString &text) {
        update();
        if (!text.isEmpty())
            ShowBox(this, QMessageBox::Warning, text);
    });
    m_running = signIn;
    connect(signIn, &QObject::destroyed, this, &SignInFrame::update, Qt::QueuedConnection);
    update();
}
