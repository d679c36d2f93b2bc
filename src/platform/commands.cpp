#include "platform/commands.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPointer>

namespace korv {

namespace {

CommandHandler& handler() {
    static CommandHandler current;
    return current;
}

int pendingCount = 0;

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

// Receives the posted commands; a child of the application, so it goes when the application
// goes (taking undelivered commands with it).
class CommandReceiver : public QObject {
  public:
    explicit CommandReceiver(QObject* parent) : QObject(parent) {}
    ~CommandReceiver() override {
        QCoreApplication::removePostedEvents(this, CommandEvent::eventType());
        pendingCount = 0;
    }
    bool event(QEvent* e) override {
        if (e->type() != CommandEvent::eventType()) {
            return QObject::event(e);
        }
        const auto* command = static_cast<CommandEvent*>(e);
        --pendingCount;
        sendCommand(command->id(), command->param());
        return true;
    }
};

QObject* receiver() {
    static QPointer<CommandReceiver> current;
    if (current.isNull() && QCoreApplication::instance() != nullptr) {
        current = new CommandReceiver(QCoreApplication::instance());
    }
    return current.data();
}

} // namespace

void setCommandHandler(CommandHandler h) {
    handler() = std::move(h);
}

void sendCommand(int id, int param) {
    // A copy, so a handler that replaces the handler does not destroy itself while running.
    const CommandHandler current = handler();
    if (current) {
        current(id, param);
    }
}

void postCommand(int id, int param) {
    QObject* target = receiver();
    if (target == nullptr) {
        return;
    }
    ++pendingCount;
    QCoreApplication::postEvent(target, new CommandEvent(id, param));
}

int pendingCommands() {
    return pendingCount;
}

void pumpMessages() {
    if (QCoreApplication::instance() == nullptr) {
        return;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void drainMessages(int maxRounds) {
    for (int round = 0; round < maxRounds && pendingCount > 0; ++round) {
        pumpMessages();
    }
}

} // namespace korv
