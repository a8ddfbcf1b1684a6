#include "WSock.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class TestWSock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void errorText()
    {
        // The first and the last row of the table, and numbers without a row.
        QCOMPARE(WSAErrorText(10004), u"呼び出しが取り消された。"_s);
        QCOMPARE(WSAErrorText(11004), u"データレコードの型が要求されていない。"_s);
        QCOMPARE(WSAErrorText(10062), u"(10062)"_s);
        QCOMPARE(WSAErrorText(0), u"(0)"_s);
    }
};

QTEST_APPLESS_MAIN(TestWSock)
#include "tst_wsock.moc"
