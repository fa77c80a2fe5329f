#pragma once
// Message boxes as Qt dialogs, modal over the active window.

#include "MessageService.h"

namespace vopa::ui {

class QtMessageService final : public MessageService {
public:
    Answer show(const MessageBox& box) override;
    [[noreturn]] void endProgram(const MessageBox& box) override;
};

}  // namespace vopa::ui
