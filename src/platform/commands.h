#pragma once
// Commands are the program's internal vocabulary: an integer id and a parameter that says who
// asked. Menu items, buttons and keys all become commands, handled by the one handler the
// main window registers.
//
// sendCommand runs the handler at once, nested inside the caller. postCommand queues the
// command behind everything already waiting; it runs when the event loop (or pumpMessages)
// next delivers posted events, so chains of commands keep the stack flat.

#include <functional>

namespace korv {

using CommandHandler = std::function<void(int id, int param)>;

// Installs the handler (replacing any earlier one); an empty handler drops commands.
void setCommandHandler(CommandHandler handler);

// Runs the handler now; does nothing without a handler.
void sendCommand(int id, int param = 0);

// Queues the command; needs a QCoreApplication. Posted commands run in the order posted.
void postCommand(int id, int param = 0);

// The number of posted commands not yet run.
[[nodiscard]] int pendingCommands();

// Handles waiting events once (input, painting, device notifications, posted commands), as a
// long mode does before each step. Commands posted meanwhile wait for the next pump.
void pumpMessages();

// Pumps until no posted command is waiting, as the close does before saving; stops after
// `maxRounds` pumps so a command that keeps posting itself cannot hold the close forever.
void drainMessages(int maxRounds = 10000);

} // namespace korv
