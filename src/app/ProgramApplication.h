#pragma once
// The program's QApplication: an error that escapes a window's event handler is shown through the
// message service instead of ending the program (an exception leaving Qt's event loop aborts it).

#include <QApplication>

namespace vopa::app {

class ProgramApplication final : public QApplication {
public:
    ProgramApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace vopa::app
