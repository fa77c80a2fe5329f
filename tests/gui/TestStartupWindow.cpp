#include <QLabel>
#include <QtTest>

#include "app/StartupWindow.h"
#include "platform/sys/SystemInfo.h"

class TestStartupWindow : public QObject {
    Q_OBJECT
private slots:
    void showsVersionCaptionsAndTheDatabase() {
        vopa::app::StartupWindow window;
        window.show();
        auto* version = window.findChild<QLabel*>("lblVersion");
        QVERIFY(version);
        QCOMPARE(version->text(), QString::fromStdString("Ver. " + vopa::sys::versionText()));
        auto* product = window.findChild<QLabel*>("lblCompanyProduct");
        QVERIFY(product);
        QCOMPARE(product->text(), QString("Just a moment please, I  restore your connection"));
        window.showDatabase("Sede Roma");
        QCOMPARE(window.findChild<QLabel*>("Label1")->text(), QString("DataBase :   Sede Roma"));
        QVERIFY(window.findChild<QWidget*>("ProgressBar1"));
        QVERIFY(window.findChild<QWidget*>("Picture1"));
    }
};

QTEST_MAIN(TestStartupWindow)
#include "TestStartupWindow.moc"
