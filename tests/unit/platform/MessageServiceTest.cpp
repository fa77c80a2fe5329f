#include <gtest/gtest.h>

#include "platform/sys/SystemInfo.h"
#include "support/ScriptedMessageService.h"

namespace ui = vopa::ui;

namespace {

TEST(ScriptedMessages, ReportsScriptingFaultsAndInternalFailuresOfTheEngine) {
    ui::ScriptedMessageService service;
    service.show({"unexpected question", "", ui::Buttons::YesNo, ui::Icon::None});
    EXPECT_EQ(service.problems().size(), 1u);
    service.clear();
    service.queueAnswer(ui::Answer::Yes);
    service.show({"ok box", "", ui::Buttons::Ok, ui::Icon::None});
    EXPECT_EQ(service.problems(), std::vector<std::string>{"1 queued answer(s) left unused"});
    service.clear();
    service.show({"Errore 208: Invalid object name 'x'.", "", ui::Buttons::Ok, ui::Icon::Exclamation});
    EXPECT_TRUE(service.problems().empty());
    service.show({"Errore 50000: Internal error of the embedded engine: no such column", "", ui::Buttons::Ok,
                  ui::Icon::Exclamation});
    ASSERT_EQ(service.problems().size(), 1u);
    EXPECT_NE(service.problems()[0].find("no such column"), std::string::npos);
}

TEST(ScriptedMessages, NoServiceRefusesBoxesInsteadOfBlocking) {
    EXPECT_THROW(ui::messages().message("nobody can answer"), std::logic_error);
}

}  // namespace

#include <sstream>

#include "platform/ui/ConsoleMessageService.h"

namespace {

TEST(ConsoleMessages, WriteBoxesAndAnswerQuestionsAsConfigured) {
    std::ostringstream out;
    ui::ConsoleMessageService console(out, ui::Answer::Yes);
    ui::MessageService* previous = ui::installMessageService(&console);
    ui::messages().message("Copia completata");
    EXPECT_TRUE(ui::messages().ask("Sei sicuro di voler creare il DB?", "Titolo"));
    ui::installMessageService(previous);
    EXPECT_EQ(out.str(), "[" + vopa::sys::productName() + "] Copia completata\n[Titolo] Sei sicuro di voler creare il DB? -> Yes\n");
}

}  // namespace
