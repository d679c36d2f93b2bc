#pragma once
// Installs the scripted prompts for one test and puts the desktop's back afterwards, so tests
// cannot leak into each other.

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

} // namespace korv::test
