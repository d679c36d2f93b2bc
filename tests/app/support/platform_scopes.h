#pragma once
// Installs test stand-ins for the process-wide platform state for one test and puts the
// previous state back afterwards, so tests cannot leak into each other.

#include "platform/commands.h"
#include "platform/prompts.h"

namespace korv::test {

// Makes a ScriptedPrompts the current prompts while it lives.
class ScriptedPromptsScope {
  public:
    ScriptedPromptsScope() { setPrompts(&prompts_); }
    ~ScriptedPromptsScope() { setPrompts(nullptr); }
    ScriptedPromptsScope(const ScriptedPromptsScope&) = delete;
    ScriptedPromptsScope& operator=(const ScriptedPromptsScope&) = delete;

    ScriptedPrompts& operator*() { return prompts_; }
    ScriptedPrompts* operator->() { return &prompts_; }

  private:
    ScriptedPrompts prompts_;
};

// Installs a command handler while it lives; on leaving, drops the handler and delivers
// whatever is still queued to nobody.
class CommandHandlerScope {
  public:
    explicit CommandHandlerScope(CommandHandler handler) { setCommandHandler(std::move(handler)); }
    ~CommandHandlerScope() {
        setCommandHandler({});
        drainMessages();
    }
    CommandHandlerScope(const CommandHandlerScope&) = delete;
    CommandHandlerScope& operator=(const CommandHandlerScope&) = delete;
};

} // namespace korv::test
