#include "AppMessages.h"
#include "StatusPanels.h"

#include <QtTest>
#include <QtWidgets>

using namespace Qt::StringLiterals;

class TestStatusPanels : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void heardAsShown()
    {
        StatusPanels bar(AppMsg::PanelCommand);
        bar.setNames(u"sbrMsg"_s);
        bar.setPanelText(1, u"鈴木"_s);
        bar.setPanelText(2, u"Message Sent!"_s); // 3 and 4: what the clock shows
        const QStringList tips{AppMsg::PanelUser, AppMsg::PanelCommand, AppMsg::PanelDate,
                               AppMsg::PanelTime};
        for (int panel = 1; panel <= 4; ++panel) {
            auto *label = bar.findChild<QLabel *>(u"sbrMsgPanel%1"_s.arg(panel));
            QAccessibleInterface *heard = QAccessible::queryAccessibleInterface(label);
            QVERIFY(heard && !label->text().isEmpty());
            QCOMPARE(heard->text(QAccessible::Name), label->text());
            QCOMPARE(heard->text(QAccessible::Description), tips[panel - 1]);
        }
    }
};

QTEST_MAIN(TestStatusPanels)
#include "tst_statuspanels.moc"
