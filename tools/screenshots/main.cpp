// vopa-screenshots OUTDIR: renders each window of the program on the offscreen platform, on a demo
// installation made in a temporary drive, and saves them as PNG files (the pictures of the README).

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>

#include "DemoInstallation.h"
#include "app/ProgramWindow.h"
#include "app/StartupWindow.h"
#include "app/Windows.h"
#include "platform/ui/ConsoleMessageService.h"

namespace fs = std::filesystem;
using vopa::app::Windows;

namespace {

bool waitUntil(const std::function<bool()>& condition, int milliseconds = 20000) {
    QDeadlineTimer deadline(milliseconds);
    while (!condition() && !deadline.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 50);
    QApplication::processEvents();
    return condition();
}

bool visible(const char* name) {
    QWidget* w = Windows::instance().loaded(name);
    return w && w->isVisible();
}

template <typename W>
W* control(const char* window, const char* name) {
    QWidget* w = Windows::instance().loaded(window);
    return w ? w->findChild<W*>(name) : nullptr;
}

void save(const char* window, const fs::path& file) {
    QWidget* w = Windows::instance().loaded(window);
    if (!w) throw std::runtime_error(std::string("window not loaded: ") + window);
    w->adjustSize();
    QApplication::processEvents();
    if (!w->grab().save(QString::fromStdString(file.string()))) throw std::runtime_error("cannot write " + file.string());
    std::cout << file.string() << '\n';
}

void type(const char* box, const std::string& text) {
    auto* edit = control<QLineEdit>("About", box);
    edit->setText(QString::fromStdString(text));
    QTest::keyClick(edit, Qt::Key_Return);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::cerr << "usage: vopa-screenshots OUTDIR\n";
        return 2;
    }
    const fs::path out = fs::absolute(argv[1]);
    fs::create_directories(out);
    const fs::path drive = fs::temp_directory_path() / ("vopa-screenshots-" + std::to_string(::getpid()));
    setenv("VOPA_DRIVE_C", drive.c_str(), 1);
    setenv("ODBCINI", (drive / "odbc.ini").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    // The build's question is answered Yes, so that the build window can be shown at work.
    vopa::ui::ConsoleMessageService messages(std::cerr, vopa::ui::Answer::Yes);
    vopa::ui::installMessageService(&messages);
    int status = 0;
    try {
        vopa::demo::DemoOptions options;
        options.rows = 500;
        const vopa::demo::DemoInstallation demo = vopa::demo::createDemoInstallation(options);
        const vopa::demo::DemoUser& admin = demo.users.front();

        Windows::instance().startup()->show();
        waitUntil([] { return visible("About"); });
        type("txtUserName", admin.name);
        control<QLineEdit>("About", "txtPassword")->setText("secret");
        save("About", out / "signin.png");
        type("txtUserName", admin.name);
        type("txtPassword", admin.password);
        waitUntil([] { return visible("avvio_1") && !control<QLineEdit>("avvio_1", "Text1")->text().isEmpty(); });
        save("avvio_1", out / "main.png");
        control<QPushButton>("avvio_1", "Command15")->click();
        waitUntil([] { return visible("Avvio_Azienda"); });
        save("Avvio_Azienda", out / "company.png");
        control<QPushButton>("Avvio_Azienda", "cmdClose")->click();
        waitUntil([] { return visible("About"); });
        type("txtUserName", admin.name);
        type("txtPassword", admin.password);
        waitUntil([] { return visible("avvio_1"); });
        control<QPushButton>("avvio_1", "Command6")->click();
        waitUntil([] { return visible("creadblocale"); });
        QApplication::processEvents();
        save("creadblocale", out / "build.png");
        control<QPushButton>("creadblocale", "Command1")->click();
        waitUntil([] {
            auto* line = control<QLabel>("creadblocale", "lblStatus");
            return line && line->text().contains("Copia tabelle:");
        });
        // A moment later, so that the animation has moved on from its first frame.
        waitUntil(
            [] {
                auto* line = control<QLabel>("creadblocale", "lblStatus");
                if (!line) return true;
                const QString text = line->text();
                const int open = text.lastIndexOf('('), slash = text.lastIndexOf('/');
                return open < 0 || slash < open || text.mid(open + 1, slash - open - 1).toInt() >= 60;
            },
            300000);
        save("creadblocale", out / "build-running.png");
        waitUntil([] { return !Windows::instance().loaded("creadblocale"); }, 600000);
        // The splash, as it shows while the company is opened.
        Windows::instance().unloadAll();
        QApplication::processEvents();
        auto* splash = new vopa::app::StartupWindow;
        splash->showDatabase(QString::fromStdString(demo.companies.front().name));
        splash->adjustSize();
        splash->grab().save(QString::fromStdString((out / "startup.png").string()));
        std::cout << (out / "startup.png").string() << '\n';
        delete splash;
    } catch (const std::exception& e) {
        std::cerr << "vopa-screenshots: " << e.what() << '\n';
        status = 1;
    }
    Windows::instance().unloadAll();
    std::error_code ec;
    fs::remove_all(drive, ec);
    return status;
}
