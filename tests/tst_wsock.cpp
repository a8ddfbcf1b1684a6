#include "WSock.h"

#include <QTest>
#include <QtEndian>

class TestWSock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void errorText()
    {
        QCOMPARE(WSAErrorText(10060), QStringLiteral("接続処理タイムアウト。"));
        QCOMPARE(WSAErrorText(10093),
                 QStringLiteral("WSAStartup関数を呼び出していないか、失敗しています。"));
        QCOMPARE(WSAErrorText(10004), QStringLiteral("呼び出しが取り消された。")); // first
        QCOMPARE(WSAErrorText(11004), QStringLiteral("データレコードの型が要求されていない。"));
        QCOMPARE(WSAErrorText(10062), QStringLiteral("(10062)")); // no row
        QCOMPARE(WSAErrorText(0), QStringLiteral("(0)"));
        QCOMPARE(
            SocketErrorMessage(QStringLiteral("connect"), QAbstractSocket::ConnectionRefusedError),
            QStringLiteral("connect:接続が拒否された。"));
        QCOMPARE(SocketErrorMessage(QStringLiteral("connect"), QAbstractSocket::HostNotFoundError),
                 QStringLiteral("connect:ホストが見つからない。"));
        QCOMPARE(SocketErrorMessage(QStringLiteral("recv"), QAbstractSocket::RemoteHostClosedError),
                 QStringLiteral("recv:リモートホストから切断された。"));
    }
};

QTEST_APPLESS_MAIN(TestWSock)
#include "tst_wsock.moc"
