#include "WSock.h"

#include <QTest>
#include <QtEndian>

class TestWSock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void errorText_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("10060") << 10060 << QStringLiteral("接続処理タイムアウト。");
        QTest::newRow("10061") << 10061 << QStringLiteral("接続が拒否された。");
        QTest::newRow("10054") << 10054 << QStringLiteral("リモートホストから切断された。");
        QTest::newRow("11001") << 11001 << QStringLiteral("ホストが見つからない。");
        QTest::newRow("10093") << 10093
                               << QStringLiteral(
                                      "WSAStartup関数を呼び出していないか、失敗しています。");
        QTest::newRow("10004") << 10004 << QStringLiteral("呼び出しが取り消された。");
        QTest::newRow("11004") << 11004 << QStringLiteral("データレコードの型が要求されていない。");
        QTest::newRow("10059 has no row") << 10059 << QStringLiteral("(10059)");
        QTest::newRow("10062 has no row") << 10062 << QStringLiteral("(10062)");
        QTest::newRow("10063 has no row") << 10063 << QStringLiteral("(10063)");
        QTest::newRow("10066 has no row") << 10066 << QStringLiteral("(10066)");
        QTest::newRow("10005") << 10005 << QStringLiteral("(10005)");
        QTest::newRow("0") << 0 << QStringLiteral("(0)");
    }
    void errorText()
    {
        QFETCH(int, number);
        QTEST(WSAErrorText(number), "text");
    }

    void qtErrors()
    {
        QCOMPARE(
            SocketErrorMessage(QStringLiteral("connect"), QAbstractSocket::ConnectionRefusedError),
            QStringLiteral("connect:接続が拒否された。"));
        QCOMPARE(SocketErrorMessage(QStringLiteral("connect"), QAbstractSocket::HostNotFoundError),
                 QStringLiteral("connect:ホストが見つからない。"));
        QCOMPARE(SocketErrorMessage(QStringLiteral("recv"), QAbstractSocket::RemoteHostClosedError),
                 QStringLiteral("recv:リモートホストから切断された。"));
        QCOMPARE(SocketErrorNumber(QAbstractSocket::SocketTimeoutError), 10060);
        QCOMPARE(SocketErrorNumber(QAbstractSocket::UnfinishedSocketOperationError), 10036);
        QCOMPARE(WSAErrorText(SocketErrorNumber(QAbstractSocket::UnknownSocketError)),
                 QStringLiteral("(-1)"));
    }

    void hostAddress()
    {
        QCOMPARE(GetHostAddress(QStringLiteral("127.0.0.1")), qToBigEndian(quint32(0x7F000001)));
        QCOMPARE(GetHostAddress(QStringLiteral("10.1.2.3")), qToBigEndian(quint32(0x0A010203)));
        QCOMPARE(GetHostAddress(QStringLiteral("localhost")), qToBigEndian(quint32(0x7F000001)));
        QCOMPARE(GetHostAddress(QStringLiteral("no-such-host.invalid")), InvalidHostAddress);
        QCOMPARE(GetHostAddress(QString()), InvalidHostAddress);
    }
};

QTEST_APPLESS_MAIN(TestWSock)
#include "tst_wsock.moc"
