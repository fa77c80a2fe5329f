#pragma once
// The one way the program shows a message box. Windows and procedures call messages().message(...),
// .warning(...), .ask(...) or .endProgramAfter(...); the installed service decides how the box appears:
// QtMessageService in the program, ConsoleMessageService without a display, and in the tests' support
// code a scripted one (which records every box and answers from a queue).

#include <exception>
#include <string>

namespace vopa::ui {

enum class Buttons { Ok, YesNo };
enum class Icon { None, Information, Exclamation, Question, Critical };
enum class Answer { Ok, Yes, No };

struct MessageBox {
    std::string text;
    std::string title;  // empty: the program's standard title
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
    friend bool operator==(const MessageBox&, const MessageBox&) = default;
};

// Thrown by services that do not end the process (the scripted one) when the program asks to end after
// a message, so that the code after the request never runs.
class ProgramEndRequested : public std::exception {
public:
    const char* what() const noexcept override { return "the program asked to end"; }
};

class MessageService {
public:
    virtual ~MessageService() = default;

    // Shows the box and returns the operator's answer.
    virtual Answer show(const MessageBox& box) = 0;
    // Shows the box, then ends the program; never returns.
    [[noreturn]] virtual void endProgram(const MessageBox& box) = 0;

    void message(const std::string& text, const std::string& title = {});  // OK only
    void warning(const std::string& text, const std::string& title = {});  // OK, exclamation icon
    bool ask(const std::string& text, const std::string& title = {});      // Yes/No; true for Yes
    [[noreturn]] void endProgramAfter(const std::string& text, const std::string& title = {});
};

// The title boxes get when they name none: the program's product name.
std::string standardTitle();

// The installed service. Until one is installed, every box is refused with an exception, so that a
// box nobody can answer never blocks or vanishes.
MessageService& messages();
// Installs `service` (not owned) and returns the previous one; nullptr restores the refusing default.
MessageService* installMessageService(MessageService* service);

}  // namespace vopa::ui
