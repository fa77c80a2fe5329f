#pragma once
// Message service for runs without a display: every box is written to the error stream; questions
// take the answer given at construction (No unless told otherwise), so an unattended run never waits.

#include <iosfwd>

#include "MessageService.h"

namespace vopa::ui {

class ConsoleMessageService final : public MessageService {
public:
    explicit ConsoleMessageService(std::ostream& out, Answer questionAnswer = Answer::No)
        : out_(out), questionAnswer_(questionAnswer) {}
    Answer show(const MessageBox& box) override;
    [[noreturn]] void endProgram(const MessageBox& box) override;

private:
    std::ostream& out_;
    Answer questionAnswer_;
};

}  // namespace vopa::ui
