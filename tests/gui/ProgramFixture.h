#pragma once
// What every window test needs: a fresh drive with a small installation (two companies and their
// users), fresh shared state, scripted message boxes, and at the end every window unloaded.

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "app/ProgramWindow.h"
#include "app/StartupWindow.h"
#include "app/Windows.h"
#include <fstream>
#include <iterator>
#include "support/ScriptedMessageService.h"
#include "state/GlobalState.h"
#include "support/SmallInstallation.h"
#include "support/TempDrive.h"

namespace vopa::testing {

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ProgramFixture {
public:
    explicit ProgramFixture(bool withUsers = true) {
        state::resetGlobals();
        installation = std::make_unique<SmallInstallation>(
            std::vector<SmallCompany>{{1, "Alfa Onlus", "VoPaDatiAlfa"}, {2, "Beta Sud", "VoPaDatiBeta"}});
        if (withUsers)
            for (const char* db : {"VoPaDatiAlfa", "VoPaDatiBeta"}) {
                installation->addUser(db, {"admin", std::string("segreta"), true});
                installation->addUser(db, {"nuovo", std::nullopt});
                installation->addUser(db, {"bloccato", std::string("chiave"), false, true});
                installation->addUser(db, {"semplice", std::string("pwd")});
            }
        previous_ = ui::installMessageService(&messages);
    }
    ~ProgramFixture() {
        app::Windows::instance().unloadAll();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ui::installMessageService(previous_);
    }

    static QWidget* window(const char* name) { return app::Windows::instance().loaded(name); }
    // On screen and done with the work of its activation, as the operator finds it when it answers.
    static bool visible(const char* name) {
        app::ProgramWindow* w = app::Windows::instance().loaded(name);
        return w && w->isVisible() && !w->activationPending();
    }
    template <typename W = QWidget>
    static W* control(const char* windowName, const char* controlName) {
        QWidget* w = window(windowName);
        return w ? w->findChild<W*>(controlName) : nullptr;
    }
    // Types into a box of the sign-in and presses `key` there.
    static void type(const char* box, const QString& text, Qt::Key key = Qt::Key_Return) {
        auto* edit = control<QLineEdit>("About", box);
        QVERIFY(edit);
        edit->setText(text);
        QTest::keyClick(edit, key);
    }
    static void click(const char* windowName, const char* button) {
        auto* b = control<QPushButton>(windowName, button);
        QVERIFY(b);
        b->click();
    }
    // Starts the program when it is not running, signs in and waits for the main window.
    static void signInAs(const char* user, const char* password) {
        if (!visible("About")) {
            app::Windows::instance().startup()->show();
            QTRY_VERIFY(visible("About"));
        }
        type("txtUserName", user);
        type("txtPassword", password);
        QTRY_VERIFY(visible("avvio_1"));
    }

    TempDrive drive;
    std::unique_ptr<SmallInstallation> installation;
    ui::ScriptedMessageService messages;

private:
    ui::MessageService* previous_ = nullptr;
};

}  // namespace vopa::testing
