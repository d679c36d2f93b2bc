// The device notifier under load: two producer threads posting into a ring that fills up, the
// delivery thread handing over what was accepted, in order, and a stop with events pending.
#include "platform/sound_notifier.h"
#include "support/device_sinks.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

namespace korv {
namespace {

using test::threadCount;

constexpr std::size_t PRODUCERS = 2;

// Each event says who posted it (`size`) and its number from that producer (`bytesRecorded`).
DeviceEvent numbered(std::size_t producer, std::size_t n) {
    return DeviceEvent{DeviceEvent::Kind::BufferDone, nullptr, producer, n};
}

// What the handler was given, on whichever thread it ran.
struct Delivered {
    void take(const DeviceEvent& e) {
        const std::lock_guard lock(mutex);
        if (e.kind == DeviceEvent::Kind::OutputDone) {
            ++done;
        } else {
            numbers.at(e.size).push_back(e.bytesRecorded);
        }
    }
    std::mutex mutex;
    std::array<std::vector<std::size_t>, PRODUCERS> numbers;
    int done = 0;
};

// Runs `f` and fails, rather than hangs, when it does not end within ten seconds.
template <typename F> void withinTenSeconds(F f, const char* what) {
    auto done = std::async(std::launch::async, f);
    if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        std::fprintf(stderr, "%s did not end within 10 s\n", what);
        std::abort();
    }
    done.get();
}

// Yields until `ready`, failing after ten seconds.
template <typename F> void waitUntil(F ready, const char* what) {
    withinTenSeconds(
        [&] {
            while (!ready()) {
                std::this_thread::yield();
            }
        },
        what);
}

TEST(DeviceNotifier, TwoProducersThroughAFullRingDeliverWhatWasAcceptedInOrder) {
    const std::size_t threadsBefore = threadCount();
    Delivered delivered;
    std::atomic<bool> gateOpen{false};
    DeviceNotifier notifier([&](const DeviceEvent& e) {
        // The first delivery waits until both producers have found the ring full.
        while (!gateOpen.load()) {
            std::this_thread::yield();
        }
        delivered.take(e);
    });
    notifier.start();

    constexpr std::size_t PER_PRODUCER = 20000;
    std::array<std::vector<std::size_t>, PRODUCERS> accepted;
    std::array<std::size_t, PRODUCERS> refused{};
    std::atomic<std::size_t> fullSeen{0};
    std::vector<std::thread> producers;
    for (std::size_t p = 0; p < PRODUCERS; ++p) {
        producers.emplace_back([&, p] {
            for (std::size_t n = 0; n < PER_PRODUCER; ++n) {
                if (notifier.post(numbered(p, n))) {
                    accepted[p].push_back(n);
                } else {
                    // The first refusal says this producer found the ring full.
                    fullSeen.fetch_add(refused[p]++ == 0 ? 1 : 0);
                    std::this_thread::yield();
                }
            }
        });
    }
    waitUntil([&] { return fullSeen.load() >= PRODUCERS; }, "filling the ring");
    gateOpen.store(true);
    for (std::thread& t : producers) {
        t.join();
    }
    withinTenSeconds([&] { notifier.stopAndDrain(); }, "stopAndDrain");

    // Both producers found the ring full (the wait above says so). Every accepted event once,
    // in the order posted, and no refused one.
    EXPECT_EQ(delivered.numbers, accepted);
    EXPECT_EQ(threadCount(), threadsBefore);
}

TEST(DeviceNotifier, StoppingWithEventsPendingHandsThemAllOverAndStartsAgain) {
    const std::size_t threadsBefore = threadCount();
    Delivered delivered;
    std::atomic<int> handled{0};
    std::atomic<bool> slow{true};
    DeviceNotifier notifier([&](const DeviceEvent& e) {
        if (slow.load()) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        delivered.take(e);
        handled.fetch_add(1);
    });

    // Not started: events wait in the ring, and the one beyond its capacity is refused.
    for (std::size_t n = 0; n < DeviceNotifier::CAPACITY; ++n) {
        ASSERT_TRUE(notifier.post(numbered(0, n)));
    }
    EXPECT_FALSE(notifier.post(numbered(0, DeviceNotifier::CAPACITY)));
    notifier.signalDone();
    notifier.signalDone(); // counts once until delivered
    EXPECT_EQ(handled.load(), 0);

    // Started and stopped at once, with a slow handler: everything is delivered before
    // stopAndDrain returns, whether by the delivery thread or by the caller.
    notifier.start();
    withinTenSeconds([&] { notifier.stopAndDrain(); }, "stopAndDrain");
    std::vector<std::size_t> all(DeviceNotifier::CAPACITY);
    std::iota(all.begin(), all.end(), std::size_t{0});
    EXPECT_EQ(delivered.numbers[0], all);
    EXPECT_EQ(delivered.done, 1);

    // Restarted, the ring takes CAPACITY events again, and the wake-ups of the first run do
    // not make the thread spin or deliver twice.
    slow.store(false);
    notifier.start();
    for (std::size_t n = 0; n < 3 * DeviceNotifier::CAPACITY; ++n) {
        while (!notifier.post(numbered(1, n))) {
            std::this_thread::yield();
        }
    }
    notifier.signalDone();
    waitUntil([&] { return handled.load() >= static_cast<int>(4 * DeviceNotifier::CAPACITY) + 2; },
              "delivery after a restart");
    EXPECT_EQ(delivered.numbers[1].size(), 3 * DeviceNotifier::CAPACITY);
    EXPECT_EQ(delivered.done, 2);

    // Destroyed with events pending: they are handed over, not dropped.
    {
        Delivered late;
        {
            DeviceNotifier pending([&](const DeviceEvent& e) { late.take(e); });
            pending.start();
            ASSERT_TRUE(pending.post(numbered(0, 7)));
        }
        EXPECT_EQ(late.numbers[0], std::vector<std::size_t>{7});
    }
    withinTenSeconds([&] { notifier.stopAndDrain(); }, "the second stopAndDrain");
    EXPECT_EQ(threadCount(), threadsBefore);
}

} // namespace
} // namespace korv
