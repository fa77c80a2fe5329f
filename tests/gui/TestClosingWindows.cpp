// Closing each window from its title bar (the close event the window manager sends for its button and
// for Alt+F4) does what the window's own exit button does, and never leaves a program without a window.

#include <QComboBox>
#include <QtTest>

#include "ProgramFixture.h"

using vopa::testing::ProgramFixture;
using vopa::testing::readFile;

namespace {

// Closes the window of that name as soon as it is shown, before any of its own work has run.
class CloseWhenShown : public QObject {
public:
    explicit CloseWhenShown(const char* name) : name_(name) { qApp->installEventFilter(this); }
    ~CloseWhenShown() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->objectName() == name_) {
            auto* window = static_cast<QWidget*>(watched);
            QMetaObject::invokeMethod(window, [window] { window->close(); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    QString name_;
};

void openCompanyWindow() {
    ProgramFixture::signInAs("admin", "segreta");
    ProgramFixture::click("avvio_1", "Command15");
    QTRY_VERIFY(ProgramFixture::visible("Avvio_Azienda"));
}

void pickCompany(const char* name) {
    auto* list = ProgramFixture::control<QComboBox>("Avvio_Azienda", "DataAzienda");
    QVERIFY(list);
    emit list->activated(list->findText(name));
}

// The end of the program registers the system data source of the current company.
void systemDataSourceRegistered(ProgramFixture& f) {
    const std::string system = readFile(f.drive.odbcSystemFile());
    QVERIFY2(system.find("[Qen_Server]") != std::string::npos, system.c_str());
    QVERIFY2(system.find("VoPaDatiAlfa") != std::string::npos, system.c_str());
}

const char* const kWindows[] = {"Avvio", "About", "avvio_1", "Avvio_Azienda", "creadblocale"};

struct Case {
    const char* window;
    const char* situation;
    // Brings the program to the moment the window is closed; closes it itself when it must catch
    // the window at a precise moment.
    void (*reach)(ProgramFixture&);
    const char* shownAfter;  // null: the program ends
    void (*check)(ProgramFixture&);
};
const Case kCases[] = {
    {"Avvio", "at the start", [](ProgramFixture&) { vopa::app::Windows::instance().startup()->show(); },
     nullptr, nullptr},
    {"Avvio", "shown again by the sign-in of a company without users",
     [](ProgramFixture&) {
         vopa::testing::SmallInstallation::run("VoPaDatiBeta", "DELETE FROM AbilitazioneAccessi");
         openCompanyWindow();
         pickCompany("Beta Sud");
         CloseWhenShown closer("Avvio");
         ProgramFixture::click("Avvio_Azienda", "cmdClose");
         QTRY_VERIFY(!ProgramFixture::window("Avvio"));
     },
     nullptr, nullptr},
    {"About", "waiting for a user name",
     [](ProgramFixture&) {
         vopa::app::Windows::instance().startup()->show();
         QTRY_VERIFY(ProgramFixture::visible("About"));
     },
     nullptr, nullptr},
    {"avvio_1", "after the sign-in", [](ProgramFixture&) { ProgramFixture::signInAs("admin", "segreta"); },
     nullptr, systemDataSourceRegistered},
    // The exit button itself.
    {"avvio_1", "by its door button",
     [](ProgramFixture&) {
         ProgramFixture::signInAs("admin", "segreta");
         ProgramFixture::click("avvio_1", "Command7");
     },
     nullptr, systemDataSourceRegistered},
    {"Avvio_Azienda", "before a company is chosen",
     [](ProgramFixture& f) {
         openCompanyWindow();
         std::filesystem::remove(f.drive.root() / "user-odbc.ini");
     },
     "About",
     [](ProgramFixture& f) {
         // As cmdClose: the current company's data sources are registered on the way out.
         const std::string user = readFile(f.drive.root() / "user-odbc.ini");
         QVERIFY2(user.find("[Qen_Azienda]") != std::string::npos, user.c_str());
     }},
    {"creadblocale", "while no build runs",
     [](ProgramFixture&) {
         ProgramFixture::signInAs("admin", "segreta");
         ProgramFixture::click("avvio_1", "Command6");
         QTRY_VERIFY(ProgramFixture::visible("creadblocale"));
     },
     "avvio_1", nullptr},
};
}  // namespace

class TestClosingWindows : public QObject {
    Q_OBJECT

private slots:
    void closingAWindowFromItsTitleBarDoesWhatItsExitButtonDoes_data() {
        QTest::addColumn<int>("row");
        for (int row = 0; row < int(std::size(kCases)); ++row)
            QTest::newRow((std::string(kCases[row].window) + " " + kCases[row].situation).c_str()) << row;
    }

    void closingAWindowFromItsTitleBarDoesWhatItsExitButtonDoes() {
        QFETCH(int, row);
        const Case& c = kCases[row];
        ProgramFixture f;
        QSignalSpy ended(&vopa::app::Windows::instance(), &vopa::app::Windows::allUnloaded);
        c.reach(f);
        if (QTest::currentTestFailed()) return;
        if (QWidget* window = ProgramFixture::window(c.window)) window->close();
        if (c.shownAfter) {
            QTRY_VERIFY(ProgramFixture::visible(c.shownAfter));
            QVERIFY(!ProgramFixture::window(c.window));
            QCOMPARE(ended.count(), 0);
        } else {
            // The program ends: every window unloaded, nothing left on screen or hidden.
            QTRY_COMPARE(ended.count(), 1);
            for (const char* name : kWindows) QVERIFY2(!ProgramFixture::window(name), name);
            for (QWidget* w : QApplication::topLevelWidgets()) QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
        }
        if (c.check) c.check(f);
        if (QTest::currentTestFailed()) return;
        QVERIFY(f.messages.problems().empty());
    }
};

QTEST_MAIN(TestClosingWindows)
#include "TestClosingWindows.moc"
