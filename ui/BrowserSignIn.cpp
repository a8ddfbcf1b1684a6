#include "BrowserSignIn.h"

#include "OAuthTokens.h"

#include <QDesktopServices>
#include <QTimer>

OAuthSignIn *StartBrowserSignIn(OAuthTokens *tokens, const OAuthConfig &config, QObject *owner,
                                std::function<void(const QString &errorText)> ended)
{
    tokens->setConfig(config);
    auto *signIn = new OAuthSignIn(config, tokens->network(), owner);
    QObject::connect(signIn, &OAuthSignIn::openBrowser, owner,
                     [](const QUrl &url) { QDesktopServices::openUrl(url); });
    // Told once the listener's own signal is over, never inside it: the
    // caller may open a box.
    auto end = [signIn, owner, ended](const QString &text) {
        signIn->deleteLater();
        QTimer::singleShot(0, owner, [ended, text] { ended(text); });
    };
    QObject::connect(signIn, &OAuthSignIn::signedIn, owner, [tokens, end](const OAuthGrant &grant) {
        tokens->takeGrant(grant);
        end(QString());
    });
    QObject::connect(signIn, &OAuthSignIn::failed, owner, end);
    signIn->start();
    return signIn;
}
