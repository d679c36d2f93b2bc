#include "platform/clock.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace korv {

std::int64_t RealClock::nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void RealClock::sleep(std::int64_t ms) {
    if (ms > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

std::int64_t VirtualClock::nowMs() {
    advance(advanceOnRead_);
    return now_;
}

void VirtualClock::sleep(std::int64_t ms) {
    advance(ms);
}

void VirtualClock::advance(std::int64_t ms) {
    for (std::int64_t i = 0; i < ms; ++i) {
        ++now_;
        // Call by id, so a listener may change the list; new listeners start at the next tick.
        std::vector<ListenerId> ids;
        ids.reserve(listeners_.size());
        for (const Entry& e : listeners_) {
            ids.push_back(e.id);
        }
        for (ListenerId id : ids) {
            auto it = std::find_if(listeners_.begin(), listeners_.end(),
                                   [id](const Entry& e) { return e.id == id; });
            if (it != listeners_.end()) {
                // A copy: the listener may remove itself while running.
                Listener call = it->listener;
                call(now_);
            }
        }
    }
}

VirtualClock::ListenerId VirtualClock::addListener(Listener listener) {
    const ListenerId id = nextId_++;
    listeners_.push_back(Entry{id, std::move(listener)});
    return id;
}

void VirtualClock::removeListener(ListenerId id) {
    std::erase_if(listeners_, [id](const Entry& e) { return e.id == id; });
}

} // namespace korv
