// The encrypted side of the line session: the TLS socket and its trust,
// the upgrade of a plain connection, and what a failed handshake tells.

#include "LineSession.h"

#include "Messages.h"

#include <QFile>
#include <QHash>
#include <QSslConfiguration>
#include <QSslSocket>

namespace {
/// The system's authorities and those of caFile; empty when caFile holds
/// none. Read once per file: a desk reads its configuration once anyway.
QList<QSslCertificate> TrustedAuthorities(const QString &caFile)
{
    static QHash<QString, QList<QSslCertificate>> cache;
    auto found = cache.constFind(caFile);
    if (found != cache.constEnd())
        return *found;
    QList<QSslCertificate> own;
    QFile file(caFile);
    if (file.open(QIODevice::ReadOnly))
        own = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
    QList<QSslCertificate> all;
    if (!own.isEmpty())
        all = QSslConfiguration::systemCaCertificates() + own;
    cache.insert(caFile, all);
    return all;
}
} // namespace

QSslSocket *LineSession::newTlsSocket(const TlsSettings &tls, QString *error)
{
    if (!QSslSocket::supportsSsl()) {
        *error = QStringLiteral("TLS:") + Msg::TlsUnavailable;
        return nullptr;
    }
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    config.setProtocol(QSsl::TlsV1_2OrLater);
    if (!tls.caFile.isEmpty()) {
        const QList<QSslCertificate> trusted = TrustedAuthorities(tls.caFile);
        if (trusted.isEmpty()) {
            *error = QStringLiteral("TLS:") + Msg::CaFileUnreadable.arg(tls.caFile);
            return nullptr;
        }
        config.setCaCertificates(trusted);
    }
    auto *ssl = new QSslSocket(this);
    ssl->setSslConfiguration(config);
    connect(ssl, &QSslSocket::encrypted, this, &LineSession::onEncrypted);
    connect(ssl, &QSslSocket::sslErrors, this, &LineSession::onSslErrors);
    return ssl;
}

void LineSession::startTls()
{
    if ((m_state != State::Idle && m_state != State::Awaiting) || !tlsSocket() || isEncrypted())
        return;
    if (!m_framer.isEmpty()) {
        // Bytes sent before the handshake would pass for protected ones.
        fail(QStringLiteral("TLS:") + Msg::TlsFailed);
        return;
    }
    m_state = State::Upgrading;
    arm(Watch::Reply, m_limits.replyTimeoutMs);
    static_cast<QSslSocket *>(m_socket)->startClientEncryption();
}

bool LineSession::isEncrypted() const
{
    // The socket is in client mode from the start of its handshake on, and
    // stays so through the close; the handshake is over once the state has
    // left the ones that wait for it. Not the socket's isEncrypted(): that
    // turns false before the disconnect is reported, while replies that came
    // with it are still being handled.
    switch (m_state) {
    case State::Unopened:
    case State::Connecting:
    case State::Handshaking:
    case State::Upgrading:
        return false;
    default:
        break;
    }
    return tlsSocket() && m_socket &&
           static_cast<QSslSocket *>(m_socket)->mode() != QSslSocket::UnencryptedMode;
}

void LineSession::onEncrypted()
{
    if (m_state == State::Handshaking) {
        m_state = State::Awaiting; // the greeting, now over TLS
    } else if (m_state == State::Upgrading) {
        m_state = State::Idle;
        arm(Watch::None, 0);
        Q_EMIT secured();
    }
}

void LineSession::onSslErrors(const QList<QSslError> &errors)
{
    // Not ignored: the handshake ends, and the texts tell why.
    for (const QSslError &error : errors)
        m_certificateErrors.append(error.errorString());
}

QString LineSession::tlsFailureText() const
{
    if (!m_certificateErrors.isEmpty())
        return QStringLiteral("TLS:") + Msg::CertificateRejected + QStringLiteral("\r\n") +
               m_certificateErrors.join(QStringLiteral("\r\n"));
    QString text = QStringLiteral("TLS:") + Msg::TlsFailed;
    if (m_socket && !m_socket->errorString().isEmpty())
        text += QStringLiteral("\r\n") + m_socket->errorString();
    return text;
}
