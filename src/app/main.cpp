// vopa-training: the windows of the training-database builder.

#include <QApplication>

#include <cstdlib>
#include <iostream>
#include <memory>

#include "StartupWindow.h"
#include "config/ConfigFiles.h"
#include "platform/files/Files.h"
#include "platform/sys/SystemInfo.h"
#include "platform/ui/ConsoleMessageService.h"
#include "platform/ui/QtMessageService.h"
#include "state/GlobalState.h"
#include "util/Helpers.h"

namespace {

bool hasDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && std::string(platform) == "offscreen") return false;
    return (std::getenv("DISPLAY") && *std::getenv("DISPLAY")) ||
           (std::getenv("WAYLAND_DISPLAY") && *std::getenv("WAYLAND_DISPLAY")) || platform;
}

}  // namespace

int main(int argc, char* argv[]) {
    const bool display = hasDisplay();
    if (!display) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);

    // Without a display nobody could answer a dialog: boxes go to the error stream instead.
    vopa::ui::QtMessageService qtMessages;
    vopa::ui::ConsoleMessageService consoleMessages(std::cerr);
    if (display)
        vopa::ui::installMessageService(&qtMessages);
    else
        vopa::ui::installMessageService(&consoleMessages);

    auto& g = vopa::state::globals();
    g.ComputerName = vopa::sys::computerName();
    vopa::util::sanitise(g.ComputerName);
    g.ProgramFolder = vopa::sys::programFolder();

    if (!vopa::files::fileExists(vopa::config::kServerAddressFile)) {
        vopa::ui::messages().endProgramAfter(
            "Nessuna installazione configurata: manca " + std::string(vopa::config::kServerAddressFile) + " (" +
            vopa::files::mapPath(vopa::config::kServerAddressFile).string() +
            "). Impostare VOPA_DRIVE_C sull'unità dell'installazione.");
    }

    vopa::app::StartupWindow startup;
    startup.show();
    return QApplication::exec();
}
