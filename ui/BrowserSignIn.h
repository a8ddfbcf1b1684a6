#pragma once
// Signing in with the system's browser, from wherever a window offers it:
// the settings dialog and the box that says a sign-in is needed.

#include <QString>

#include <functional>

class OAuthSignIn;
class OAuthTokens;
class QObject;
struct OAuthConfig;

/// Starts a sign-in with config whose grant goes to tokens; ended is called
/// once with the error text (empty on success), after the sign-in's own
/// signal is over, unless owner is gone by then. The sign-in ends itself.
OAuthSignIn *StartBrowserSignIn(OAuthTokens *tokens, const OAuthConfig &config, QObject *owner,
                                std::function<void(const QString &errorText)> ended);
