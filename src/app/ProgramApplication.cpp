#include "ProgramApplication.h"

#include <exception>
#include <string>

#include "platform/ui/MessageService.h"

namespace vopa::app {

bool ProgramApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ui::messages().message(std::string("Errore: ") + e.what());
    } catch (...) {
        ui::messages().message("Errore sconosciuto.");
    }
    return false;
}

}  // namespace vopa::app
