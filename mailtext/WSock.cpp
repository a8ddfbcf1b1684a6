#include "WSock.h"

#include <QSslSocket>

#include <QHash>
#include <QTcpSocket>

QString WSAErrorText(int number)
{
    static const QHash<int, QString> texts = {
        {10004, QStringLiteral("呼び出しが取り消された。")},
        {10013, QStringLiteral(
                    "指定されたアドレスは、ブロードキャストパケットの送信をサポートしていない。")},
        {10014, QStringLiteral("32ビットインターネットアドレス指定に誤りがあります。")},
        {10022, QStringLiteral("関数の呼び出し順番に誤りがある。")},
        {10024, QStringLiteral("利用可能なファイル番号が存在しない。")},
        {10035, QStringLiteral("このソケットはノンブロッキング型である。")},
        {10036, QStringLiteral("ブロッキング呼び出し進行中。")},
        {10037, QStringLiteral("ノンブロッキング型の処理を処理中。")},
        {10038, QStringLiteral("ソケット以外を指定した。")},
        {10039, QStringLiteral("リモートアドレスが指定されていない。")},
        {10040, QStringLiteral("データがバッファより大きいので切りつめられた。")},
        {10041, QStringLiteral("ソケットは指定されたプロトコルをサポートしていない。")},
        {10042, QStringLiteral("プロトコルのオプションに誤りがある。")},
        {10043, QStringLiteral("指定されたプロトコルはサポートされていない。")},
        {10044, QStringLiteral("指定されたソケットタイプはサポートされていない。")},
        {10045, QStringLiteral("指定されたソケットがサポートしていない操作である。")},
        {10046, QStringLiteral("指定されたアドレスファミリがサポートされていない。")},
        {10047,
         QStringLiteral(
             "指定されたプロトコルでは、指定されたアドレスファミリがサポートされていない。")},
        {10048, QStringLiteral("指定されたアドレスは使用中。")},
        {10049, QStringLiteral("指定されたアドレスは使用できない。")},
        {10050, QStringLiteral("ネットワークがダウンしている。")},
        {10051, QStringLiteral("リモートホストのネットワークに接続できない。")},
        {10052, QStringLiteral("ネットワークから切断された。")},
        {10053, QStringLiteral("ネットワーク不良で接続が中止された。")},
        {10054, QStringLiteral("リモートホストから切断された。")},
        {10055, QStringLiteral("バッファ領域不足。")},
        {10056, QStringLiteral("ソケットはすでに接続されている。")},
        {10057, QStringLiteral("ソケットが接続されていない。")},
        {10058, QStringLiteral("ソケットがシャットダウンされている。")},
        {10060, QStringLiteral("接続処理タイムアウト。")},
        {10061, QStringLiteral("接続が拒否された。")},
        {10064, QStringLiteral("リモートホストがダウンしている。")},
        {10065, QStringLiteral("ホストへのルートが存在しない。")},
        {10067, QStringLiteral("プロセスが多すぎます。")},
        {10091, QStringLiteral("ネットワークサブシステムに通信するための準備ができていない。")},
        {10092, QStringLiteral("指定されたバージョンがサポートされていない。")},
        {10093, QStringLiteral("WSAStartup関数を呼び出していないか、失敗しています。")},
        {11001, QStringLiteral("ホストが見つからない。")},
        {11002, QStringLiteral("権限があるホストが見つからない。")},
        {11003, QStringLiteral("修復不可能なエラーが発生した。")},
        {11004, QStringLiteral("データレコードの型が要求されていない。")},
    };
    const auto it = texts.constFind(number);
    if (it != texts.constEnd())
        return *it;
    return QLatin1Char('(') + QString::number(number) + QLatin1Char(')');
}

int SocketErrorNumber(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return 10061;
    case QAbstractSocket::RemoteHostClosedError:
        return 10054;
    case QAbstractSocket::HostNotFoundError:
        return 11001;
    case QAbstractSocket::SocketTimeoutError:
        return 10060;
    case QAbstractSocket::NetworkError:
        return 10050;
    case QAbstractSocket::SocketAccessError:
        return 10013;
    case QAbstractSocket::SocketResourceError:
        return 10055;
    case QAbstractSocket::AddressInUseError:
        return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return 10045;
    case QAbstractSocket::UnfinishedSocketOperationError:
        return 10036;
    default:
        return int(error);
    }
}

QString SocketErrorMessage(const QString &step, QAbstractSocket::SocketError error)
{
    return step + QLatin1Char(':') + WSAErrorText(SocketErrorNumber(error));
}

bool StartConnect(QTcpSocket *socket, const QString &server, const QString &port, bool encrypted)
{
    bool ok = false;
    const int number = port.trimmed().toInt(&ok);
    if (!ok || number <= 0 || number > 65535)
        return false;
    if (auto *ssl = qobject_cast<QSslSocket *>(socket); ssl && encrypted) {
        ssl->connectToHostEncrypted(server.trimmed(), quint16(number), QIODevice::ReadWrite,
                                    QAbstractSocket::IPv4Protocol);
        return true;
    }
    // A plain socket is unbuffered: its reads and writes go straight to the
    // connection, with no size query before each read and no write notifier
    // armed for each command.
    const QIODevice::OpenMode mode = qobject_cast<QSslSocket *>(socket)
                                         ? QIODevice::ReadWrite
                                         : QIODevice::ReadWrite | QIODevice::Unbuffered;
    socket->connectToHost(server.trimmed(), quint16(number), mode, QAbstractSocket::IPv4Protocol);
    return true;
}
