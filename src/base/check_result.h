#pragma once
// The outcome of a parameter check: the messages to show (the core shows nothing itself)
// and how the command goes on.

#include <string>
#include <vector>

namespace korv {

// Warning is the exclamation icon; None is a plain box (About, the volume-control failure).
enum class MessageIcon { None, Warning, Stop };

struct UserMessage {
    std::string text;
    MessageIcon icon = MessageIcon::Stop;
    friend bool operator==(const UserMessage&, const UserMessage&) = default;
};

enum class CheckOutcome {
    Proceed,         // run on (there may still be a warning to show)
    ShowDialogAgain, // back to the parameter dialog
    RestoreAndEnd,   // end the command and restore the previous parameters (command 40023)
    End,             // end the command, parameters as they are
};

struct CheckResult {
    CheckOutcome outcome = CheckOutcome::Proceed;
    // In the order they are to be shown.
    std::vector<UserMessage> messages;

    [[nodiscard]] bool proceeds() const { return outcome == CheckOutcome::Proceed; }
};

} // namespace korv
