#pragma once
// Short forms of what the program tests check on the scripted prompts and do in the dialogs.

#include "platform/prompts.h"

#include <QDialog>
#include <QLineEdit>
#include <gtest/gtest.h>

#include <string>

namespace korv::test {

// The program said exactly one thing since the messages were last cleared: `text`. The
// messages are cleared for the next look.
inline void expectOneMessage(ScriptedPrompts& prompts, const std::string& text) {
    ASSERT_EQ(prompts.messages().size(), 1U);
    EXPECT_EQ(prompts.messages()[0].text, text);
    prompts.clearMessages();
}

// The text of the last message shown; empty when none was.
inline std::string lastMessage(const ScriptedPrompts& prompts) {
    return prompts.messages().empty() ? std::string{} : prompts.messages().back().text;
}

// Sets a dialog's text field found by its control id.
inline void setEdit(QDialog& d, int id, const QString& text) {
    auto* edit = d.findChild<QLineEdit*>(controlName(id));
    ASSERT_NE(edit, nullptr) << "control " << id;
    edit->setText(text);
}

} // namespace korv::test
