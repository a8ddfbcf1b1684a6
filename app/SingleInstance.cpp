#include "SingleInstance.h"

#include "Messages.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#include <sys/un.h>
#include <unistd.h>

namespace {
const QByteArray RestoreRequest = QByteArrayLiteral("restore\n");
constexpr int ProbeTimeoutMs = 1000;
} // namespace

SingleInstance::SingleInstance(const QString &programFolder, QObject *parent)
    : QObject(parent), m_name(ServerName(programFolder))
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::ServerName(const QString &programFolder)
{
    const QByteArray folder = QDir::cleanPath(QDir(programFolder).absolutePath()).toUtf8();
    const QByteArray digest =
        QCryptographicHash::hash(folder, QCryptographicHash::Sha1).toHex().left(16);
    const QString name = Msg::Title + QLatin1Char('-') + QString::number(::getuid()) +
                         QLatin1Char('-') + QString::fromLatin1(digest);
    // The user's runtime folder is theirs alone: nobody else can take the name
    // there, and each session of a shared machine has its own.
    // A socket path longer than the system takes would leave the desk unguarded.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString path = runtime + QLatin1Char('/') + name;
    if (QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir() &&
        QFile::encodeName(path).size() < qsizetype(sizeof(sockaddr_un::sun_path)))
        return path;
    return name;
}

bool SingleInstance::claim()
{
    if (m_server)
        return m_server->isListening();
    m_server = new QLocalServer(this);
    // No access options: with them the server is bound under a temporary name
    // and renamed into place, which would silently replace a running copy's
    // name instead of reporting it in use.
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    if (m_server->listen(m_name))
        return true;
    if (m_server->serverError() != QAbstractSocket::AddressInUseError)
        return true; // the guard is unavailable; running unguarded beats not running
    QLocalSocket probe;
    probe.connectToServer(m_name);
    if (probe.waitForConnected(ProbeTimeoutMs)) {
        probe.abort();
        return false;
    }
    // Nobody answers under the name: a copy ended without removing it.
    QLocalServer::removeServer(m_name);
    m_server->listen(m_name);
    return true;
}

bool SingleInstance::askFirstToRestore(int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(RestoreRequest);
    socket.flush();
    if (socket.bytesToWrite() > 0)
        socket.waitForBytesWritten(timeoutMs);
    const bool written = socket.bytesToWrite() == 0;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
    return written;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // A request is one whole line; anything else is ignored.
            while (socket->canReadLine()) {
                if (socket->readLine() == RestoreRequest)
                    Q_EMIT restoreRequested();
            }
        });
    }
}
