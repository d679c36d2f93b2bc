#include "platform/commands.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

namespace korv {

namespace {

class CommandEvent : public QEvent {
  public:
    static QEvent::Type eventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    CommandEvent(int id, int param) : QEvent(eventType()), id_(id), param_(param) {}
    [[nodiscard]] int id() const { return id_; }
    [[nodiscard]] int param() const { return param_; }

  private:
    int id_;
    int param_;
};

} // namespace

// Receives the queue's posted commands through the application's event loop.
class CommandQueue::Receiver : public QObject {
  public:
    explicit Receiver(CommandQueue& queue) : queue_(queue) {}
    ~Receiver() override { QCoreApplication::removePostedEvents(this, CommandEvent::eventType()); }
    bool event(QEvent* e) override {
        if (e->type() != CommandEvent::eventType()) {
            return QObject::event(e);
        }
        const auto* command = static_cast<CommandEvent*>(e);
        --queue_.pending_;
        queue_.send(command->id(), command->param());
        return true;
    }

  private:
    CommandQueue& queue_;
};

CommandQueue::CommandQueue(CommandHandler handler)
    : handler_(std::move(handler)), receiver_(std::make_unique<Receiver>(*this)) {}

CommandQueue::~CommandQueue() = default;

void CommandQueue::send(int id, int param) {
    // A copy, so a handler that replaces the handler does not destroy itself while running.
    const CommandHandler current = handler_;
    if (current) {
        current(id, param);
    }
}

void CommandQueue::post(int id, int param) {
    if (QCoreApplication::instance() == nullptr) {
        return;
    }
    ++pending_;
    QCoreApplication::postEvent(receiver_.get(), new CommandEvent(id, param));
}

void CommandQueue::drain(int maxRounds) {
    for (int round = 0; round < maxRounds && pending_ > 0; ++round) {
        pumpMessages();
    }
}

void pumpMessages() {
    if (QCoreApplication::instance() == nullptr) {
        return;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace korv
