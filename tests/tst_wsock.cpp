#include "WSock.h"

#include <QtTest>

class TestWSock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void errorText()
    {
        // The first and the last row of the table, and numbers without a row.
        QCOMPARE(WSAErrorText(10004), QStringLiteral("呼び出しが取り消された。"));
        QCOMPARE(WSAErrorText(11004), QStringLiteral("データレコードの型が要求されていない。"));
        QCOMPARE(WSAErrorText(10062), QStringLiteral("(10062)"));
        QCOMPARE(WSAErrorText(0), QStringLiteral("(0)"));
    }
};

QTEST_APPLESS_MAIN(TestWSock)
#include "tst_wsock.moc"
