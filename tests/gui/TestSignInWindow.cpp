// The sign-in window driven as the operator uses it, from the start of the program.

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "ProgramFixture.h"
#include "app/StartupWindow.h"
#include "support/FakeSignInClock.h"

using vopa::testing::ProgramFixture;

class TestSignInWindow : public QObject {
    Q_OBJECT

    static void start() {
        auto* startup = vopa::app::Windows::instance().startup();
        QVERIFY(startup);
        startup->show();
        QTRY_VERIFY(ProgramFixture::visible("About"));
        QVERIFY(!ProgramFixture::visible("Avvio"));
    }

    static QString focused() {
        QWidget* w = QApplication::focusWidget();
        return w ? w->objectName() : QString();
    }
    static QLineEdit* box(const char* name) { return ProgramFixture::control<QLineEdit>("About", name); }

    struct FocusCase {
        const char* name;
        void (*keys)();
        const char* focus;
        const char* selected;  // the text the focused box selects, when checked
    };
    static constexpr FocusCase kFocusCases[] = {
        {"the start", [] {}, "txtUserName", nullptr},
        {"a user name", [] { ProgramFixture::type("txtUserName", "admin"); }, "txtPassword", nullptr},
        {"the password box without a name",
         [] {
             // The operator goes back, empties the name and clicks in the password box.
             ProgramFixture::type("txtUserName", "admin");
             box("txtUserName")->setFocus(Qt::MouseFocusReason);
             box("txtUserName")->clear();
             box("txtPassword")->setFocus(Qt::MouseFocusReason);
         },
         "txtUserName", nullptr},
        {"a wrong password",
         [] {
             ProgramFixture::type("txtUserName", "admin");
             ProgramFixture::type("txtPassword", "sbagliata");
         },
         "txtPassword", nullptr},
        {"a user without a password",
         [] {
             ProgramFixture::type("txtUserName", "nuovo");
             ProgramFixture::type("txtPassword", "nuova");
         },
         "txtPassword1", nullptr},
        {"different confirmation",
         [] {
             ProgramFixture::type("txtUserName", "nuovo");
             ProgramFixture::type("txtPassword", "nuova");
             ProgramFixture::type("txtPassword1", "altra");
         },
         "txtPassword", nullptr},
        {"back to the name",
         [] {
             ProgramFixture::type("txtUserName", "admin");
             box("txtUserName")->setFocus(Qt::OtherFocusReason);
         },
         "txtUserName", "admin"},
    };

private slots:
    void theFocusGoesWhereTheNextEntryIs_data() {
        QTest::addColumn<int>("row");
        for (int row = 0; row < int(std::size(kFocusCases)); ++row) QTest::newRow(kFocusCases[row].name) << row;
    }

    void theFocusGoesWhereTheNextEntryIs() {
        QFETCH(int, row);
        ProgramFixture f;
        start();
        kFocusCases[row].keys();
        QTRY_COMPARE(focused(), QString(kFocusCases[row].focus));
        if (const char* selected = kFocusCases[row].selected)
            QTRY_COMPARE(box(kFocusCases[row].focus)->selectedText(), QString(selected));
    }

    // A correct password opens the main window on the company; after a switch the sign-in is empty
    // and names the new company.
    void afterACompanySwitchTheSignInIsEmptyAndNamesTheNewCompany() {
        ProgramFixture f;
        start();
        QVERIFY2(ProgramFixture::window("About")->windowTitle().endsWith(" - Alfa Onlus"),
                 qPrintable(ProgramFixture::window("About")->windowTitle()));
        QCOMPARE(ProgramFixture::control<QLabel>("About", "Label21")->text(), QString("Login"));
        ProgramFixture::signInAs("Admin", "segreta");
        QVERIFY(!ProgramFixture::visible("About"));
        QTRY_COMPARE(ProgramFixture::control<QLineEdit>("avvio_1", "Text1")->text(), QString("Alfa Onlus"));
        ProgramFixture::click("avvio_1", "Command15");
        QTRY_VERIFY(ProgramFixture::visible("Avvio_Azienda"));
        QVERIFY(!ProgramFixture::visible("avvio_1"));
        QCOMPARE(ProgramFixture::window("Avvio_Azienda")->windowTitle(), QString("Gestione azienda"));
        auto* list = ProgramFixture::control<QComboBox>("Avvio_Azienda", "DataAzienda");
        QCOMPARE(list->count(), 2);
        emit list->activated(list->findText("Beta Sud"));
        QCOMPARE(QString::fromStdString(vopa::state::globals().CompanyDatabaseName), QString("VoPaDatiBeta"));
        ProgramFixture::click("Avvio_Azienda", "cmdClose");
        QTRY_VERIFY(ProgramFixture::visible("About"));
        QVERIFY(!ProgramFixture::window("Avvio_Azienda"));
        QVERIFY2(ProgramFixture::window("About")->windowTitle().endsWith(" - Beta Sud"),
                 qPrintable(ProgramFixture::window("About")->windowTitle()));
        QCOMPARE(box("txtPassword")->text(), QString());
        QCOMPARE(box("txtPassword1")->text(), QString());
        QTRY_COMPARE(box("txtUserName")->text(), QString());
        QTRY_COMPARE(focused(), QString("txtUserName"));
        ProgramFixture::signInAs("admin", "segreta");
        QCOMPARE(QString::fromStdString(vopa::state::globals().CompanyName), QString("Beta Sud"));
        QTRY_COMPARE(ProgramFixture::control<QLineEdit>("avvio_1", "Text1")->text(), QString("Beta Sud"));
    }

    void repeatedWrongPasswordsDisableThePasswordBoxForTheWait() {
        ProgramFixture f;
        vopa::testing::FakeSignInClock clock;
        start();
        auto* wait = ProgramFixture::window("About")->findChild<QTimer*>("passwordWait");
        QVERIFY(wait);
        // The wait is over when the fake clock says so; the window's timer is hurried, not waited for.
        auto passTime = [&](std::chrono::milliseconds by) {
            clock.advance(by);
            wait->start(0);
        };
        ProgramFixture::type("txtUserName", "admin");
        // Tab enters the password as Enter does; a wrong one is refused and emptied.
        for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Return}) {
            ProgramFixture::type("txtPassword", "sbagliata", key);
            QVERIFY(box("txtPassword")->isEnabled());
            QVERIFY(box("txtPassword")->text().isEmpty());
            QVERIFY(ProgramFixture::visible("About"));
        }
        ProgramFixture::type("txtPassword", "sbagliata");
        QVERIFY(!box("txtPassword")->isEnabled());
        QTRY_COMPARE(focused(), QString("txtUserName"));
        passTime(std::chrono::milliseconds(999));
        QTest::qWait(20);
        QVERIFY(!box("txtPassword")->isEnabled());
        passTime(std::chrono::milliseconds(1));
        QTRY_VERIFY(box("txtPassword")->isEnabled());
        QTRY_COMPARE(focused(), QString("txtPassword"));
        ProgramFixture::type("txtPassword", "segreta");
        QTRY_VERIFY(ProgramFixture::visible("avvio_1"));
        QCOMPARE(f.messages.texts(), std::vector<std::string>(3, "Password errata, Riprova!!!"));
    }

    void aFirstPasswordIsSetAndThenUsed() {
        ProgramFixture f;
        start();
        ProgramFixture::type("txtUserName", "nuovo");
        ProgramFixture::type("txtPassword", "Mia1");
        QVERIFY(ProgramFixture::control<QLineEdit>("About", "txtPassword1")->isVisibleTo(ProgramFixture::window("About")));
        ProgramFixture::type("txtPassword1", "mia1");
        QTRY_VERIFY(ProgramFixture::visible("avvio_1"));
        QCOMPARE(f.messages.texts(), (std::vector<std::string>{"Immettere la Password", "conferma la Password"}));
        QCOMPARE(ProgramFixture::control<QLineEdit>("About", "txtPassword")->maxLength(), 12);
    }

    void aDisabledUserIsRefusedAndTheFourthFailureEndsTheProgram() {
        ProgramFixture f;
        start();
        QSignalSpy ended(&vopa::app::Windows::instance(), &vopa::app::Windows::allUnloaded);
        for (int attempt = 1; attempt <= 4; ++attempt) {
            ProgramFixture::type("txtUserName", "bloccato");
            ProgramFixture::type("txtPassword", "chiave");
            QVERIFY(!ProgramFixture::visible("avvio_1"));
        }
        QVERIFY(!ProgramFixture::window("About"));
        QCOMPARE(ended.count(), 1);
    }

    void aCompanyWithoutUsersSkipsTheSignIn() {
        ProgramFixture f(false);
        auto* startup = vopa::app::Windows::instance().startup();
        startup->show();
        QTRY_VERIFY(ProgramFixture::visible("avvio_1"));
        QVERIFY(!ProgramFixture::window("About"));
    }
};

QTEST_MAIN(TestSignInWindow)
#include "TestSignInWindow.moc"
