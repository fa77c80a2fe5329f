#pragma once
// The scripted message service for one test, checked when the test ends: a question that found no
// queued answer, or an answer left unused, fails the test.

#include <gtest/gtest.h>

#include "support/ScriptedMessageService.h"

namespace vopa::testing {

class ScriptedMessages : public ui::ScopedScriptedMessages {
public:
    ~ScriptedMessages() {
        for (const std::string& problem : (**this).problems()) ADD_FAILURE() << "message script: " << problem;
    }
};

}  // namespace vopa::testing
