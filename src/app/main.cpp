// vopa-training: the windows of the training-database builder.

#include <QApplication>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ProgramApplication.h"
#include "StartupWindow.h"
#include "Windows.h"
#include "config/ConfigFiles.h"
#include "flow/ProgramFlow.h"
#include "headless/HeadlessBuild.h"
#include "platform/files/Files.h"
#include "platform/text/HelpText.h"
#include "platform/ui/QtMessageService.h"

namespace vopa::embedded {
extern const char vopaTrainingHelp[];
}

namespace {

bool hasDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform) return true;  // chosen explicitly (offscreen for screenshots and tests)
    return (std::getenv("DISPLAY") && *std::getenv("DISPLAY")) ||
           (std::getenv("WAYLAND_DISPLAY") && *std::getenv("WAYLAND_DISPLAY"));
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (vopa::headless::wantsHeadlessBuild(arguments))
        return vopa::headless::runHeadlessBuild(arguments, "vopa-training --build");
    // The help is printed without a display; the windows' own options are Qt's (-platform, -style, ...).
    for (const std::string& arg : arguments) {
        if (arg == "--help" || arg == "-h") {
            std::cout << vopa::text::helpText(vopa::embedded::vopaTrainingHelp);
            return 0;
        }
    }
    if (!hasDisplay()) {
        std::cerr << "vopa-training: there is no display to show the windows on (neither DISPLAY nor\n"
                     "WAYLAND_DISPLAY is set). Start it from a desktop session, or on a server with a virtual\n"
                     "display: xvfb-run ./run.sh\n";
        return 2;
    }
    vopa::app::ProgramApplication application(argc, argv);
    vopa::ui::QtMessageService qtMessages;
    vopa::ui::installMessageService(&qtMessages);

    const vopa::flow::Preconditions preconditions = vopa::app::Windows::instance().flow().begin();
    if (preconditions.driveProblem) vopa::ui::messages().endProgramAfter(*preconditions.driveProblem);
    if (!preconditions.installed) {
        vopa::ui::messages().endProgramAfter(
            "Nessuna installazione configurata: manca " + std::string(vopa::config::kServerAddressFile) + " (" +
            vopa::files::mapPath(vopa::config::kServerAddressFile).string() +
            "). Impostare VOPA_DRIVE_C sull'unità dell'installazione.");
    }

    // The program ends when its last window is unloaded.
    QObject::connect(&vopa::app::Windows::instance(), &vopa::app::Windows::allUnloaded, &application,
                     &QApplication::quit, Qt::QueuedConnection);
    if (vopa::app::StartupWindow* startup = vopa::app::Windows::instance().startup()) startup->show();
    return QApplication::exec();
}
