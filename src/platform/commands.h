#pragma once
// Commands are the program's internal vocabulary: an integer id and a parameter that says who
// asked. Menu items, buttons and keys all become commands, handled by the one handler of the
// window's queue.
//
// send runs the handler at once, nested inside the caller. post queues the command behind
// everything already waiting; it runs when the event loop (or pumpMessages) next delivers
// posted events, so chains of commands keep the stack flat.

#include <functional>
#include <memory>

namespace korv {

using CommandHandler = std::function<void(int id, int param)>;

class CommandQueue {
  public:
    // An empty handler drops the commands.
    explicit CommandQueue(CommandHandler handler = {});
    // Commands still queued go with the queue, undelivered.
    ~CommandQueue();
    CommandQueue(const CommandQueue&) = delete;
    CommandQueue& operator=(const CommandQueue&) = delete;

    // Replaces the handler; an empty one drops the commands from now on.
    void setHandler(CommandHandler handler) { handler_ = std::move(handler); }
    // Runs the handler now.
    void send(int id, int param = 0);
    // Queues the command; needs a QCoreApplication. Posted commands run in the order posted.
    void post(int id, int param = 0);
    // The number of posted commands not yet run.
    [[nodiscard]] int pending() const { return pending_; }
    // Pumps until no posted command is waiting, as the close does before saving; stops after
    // `maxRounds` pumps so a command that keeps posting itself cannot hold the close forever.
    void drain(int maxRounds = 10000);

  private:
    class Receiver;
    CommandHandler handler_;
    std::unique_ptr<Receiver> receiver_;
    int pending_ = 0;
};

// Handles waiting events once (input, painting, device notifications, posted commands), as a
// long mode does before each step. Commands posted meanwhile wait for the next pump.
void pumpMessages();

} // namespace korv
