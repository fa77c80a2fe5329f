#include <QLabel>
#include <QtTest>

#include "ProgramFixture.h"
#include "app/StartupWindow.h"
#include "platform/sys/SystemInfo.h"

using vopa::testing::ProgramFixture;

namespace {

// Notes what the shared state held when the start-up window's caption was first painted.
class FirstPaint : public QObject {
public:
    FirstPaint() { qApp->installEventFilter(this); }
    ~FirstPaint() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !painted && watched->objectName() == "lblCompanyProduct" &&
            static_cast<QWidget*>(watched)->window()->objectName() == "Avvio") {
            painted = true;
            caption = static_cast<QLabel*>(watched)->text();
            companyName = vopa::state::globals().CompanyName;
        }
        return false;
    }
    bool painted = false;
    QString caption;
    std::string companyName;
};

}  // namespace

class TestStartupWindow : public QObject {
    Q_OBJECT
private slots:
    void theWindowIsPaintedBeforeTheCompanyIsOpened() {
        ProgramFixture f;
        FirstPaint firstPaint;
        vopa::app::Windows::instance().startup()->show();
        QTRY_VERIFY(ProgramFixture::visible("About"));
        QVERIFY(firstPaint.painted);
        QCOMPARE(firstPaint.caption, QString("Just a moment please, I  restore your connection"));
        // Painted while no company was open yet: the opening came after.
        QCOMPARE(firstPaint.companyName, std::string());
        QCOMPARE(ProgramFixture::control<QLabel>("Avvio", "Label1")->text(), QString("DataBase :   Alfa Onlus"));
        QCOMPARE(ProgramFixture::control<QLabel>("Avvio", "lblVersion")->text(),
                 QString::fromStdString("Ver. " + vopa::sys::versionText()));
        QVERIFY(ProgramFixture::control("Avvio", "ProgressBar1"));
        QVERIFY(ProgramFixture::control("Avvio", "Picture1"));
    }
};

QTEST_MAIN(TestStartupWindow)
#include "TestStartupWindow.moc"
