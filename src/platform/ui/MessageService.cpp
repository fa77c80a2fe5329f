#include "MessageService.h"

#include <cstdlib>
#include <stdexcept>

#include "platform/sys/SystemInfo.h"

namespace vopa::ui {
namespace {

class RefusingMessageService final : public MessageService {
public:
    Answer show(const MessageBox& box) override {
        throw std::logic_error("message box shown with no message service installed: " + box.text);
    }
    [[noreturn]] void endProgram(const MessageBox& box) override {
        throw std::logic_error("program end requested with no message service installed: " + box.text);
    }
};

RefusingMessageService refusing;
MessageService* installed = &refusing;

}  // namespace

void MessageService::message(const std::string& text, const std::string& title) {
    show({text, title, Buttons::Ok, Icon::None});
}

void MessageService::warning(const std::string& text, const std::string& title) {
    show({text, title, Buttons::Ok, Icon::Exclamation});
}

bool MessageService::ask(const std::string& text, const std::string& title) {
    return show({text, title, Buttons::YesNo, Icon::None}) == Answer::Yes;
}

void MessageService::endProgramAfter(const std::string& text, const std::string& title) {
    endProgram({text, title, Buttons::Ok, Icon::None});
    std::abort();  // an implementation that returned from endProgram broke its contract
}

std::string standardTitle() { return sys::productName(); }

MessageService& messages() { return *installed; }

MessageService* installMessageService(MessageService* service) {
    MessageService* previous = installed == &refusing ? nullptr : installed;
    installed = service ? service : &refusing;
    return previous;
}

}  // namespace vopa::ui
