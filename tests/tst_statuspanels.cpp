// The status bar's panels as a screen reader hears them.

#include "AppMessages.h"
#include "StatusPanels.h"

#include <QtTest>
#include <QtWidgets>

using namespace Qt::StringLiterals;

class TestStatusPanels : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void heardAsShown_data()
    {
        QTest::addColumn<int>("panel");
        QTest::addColumn<QString>("text"); // null: what the clock shows
        QTest::addColumn<QString>("tip");
        QTest::newRow("user") << 1 << u"鈴木"_s << AppMsg::PanelUser;
        QTest::newRow("command") << 2 << u"Message Sent!"_s << AppMsg::PanelCommand;
        QTest::newRow("date") << 3 << QString() << AppMsg::PanelDate;
        QTest::newRow("time") << 4 << QString() << AppMsg::PanelTime;
    }
    void heardAsShown()
    {
        QFETCH(int, panel);
        QFETCH(QString, text);
        StatusPanels bar(AppMsg::PanelCommand);
        bar.setNames(u"sbrMsg"_s);
        if (!text.isNull())
            bar.setPanelText(panel, text);
        auto *label = bar.findChild<QLabel *>(u"sbrMsgPanel%1"_s.arg(panel));
        QVERIFY(label && !label->text().isEmpty());
        QAccessibleInterface *heard = QAccessible::queryAccessibleInterface(label);
        QVERIFY(heard);
        QCOMPARE(heard->text(QAccessible::Name), label->text());
        QTEST(heard->text(QAccessible::Description), "tip");
    }
};

QTEST_MAIN(TestStatusPanels)
#include "tst_statuspanels.moc"
