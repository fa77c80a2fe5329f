#include "ConsoleMessageService.h"

#include <cstdlib>
#include <ostream>

namespace vopa::ui {

Answer ConsoleMessageService::show(const MessageBox& box) {
    const std::string title = box.title.empty() ? standardTitle() : box.title;
    out_ << "[" << title << "] " << box.text;
    if (box.buttons == Buttons::YesNo) {
        out_ << " -> " << (questionAnswer_ == Answer::Yes ? "Yes" : "No") << '\n';
        return questionAnswer_;
    }
    out_ << '\n';
    return Answer::Ok;
}

void ConsoleMessageService::endProgram(const MessageBox& box) {
    show(box);
    out_.flush();
    std::exit(1);
}

}  // namespace vopa::ui
