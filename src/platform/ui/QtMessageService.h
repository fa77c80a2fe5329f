#pragma once
// Message boxes as Qt dialogs, modal over the active window. Safe to call from any thread: a box asked
// for off the window thread is shown on it, and the caller waits for the answer.

#include "MessageService.h"

namespace vopa::ui {

class QtMessageService final : public MessageService {
public:
    Answer show(const MessageBox& box) override;
    [[noreturn]] void endProgram(const MessageBox& box) override;
};

}  // namespace vopa::ui
