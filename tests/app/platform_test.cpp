#include "app/support/device_sinks.h"
#include "platform/allocations.h"
#include "platform/clock.h"
#include "platform/commands.h"
#include "platform/fonts.h"
#include "platform/indexed_text.h"
#include "platform/palette_display.h"
#include "platform/sound_simulated.h"
#include "platform/window_surface.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace korv {
namespace {

std::array<Rgb, kSystemColourBase> gradient(int seed) {
    std::array<Rgb, kSystemColourBase> colours{};
    for (int i = 0; i < kSystemColourBase; ++i) {
        colours[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(i),
                                                static_cast<std::uint8_t>((i * 3 + seed) & 0xff),
                                                static_cast<std::uint8_t>((255 - i + seed) & 0xff)};
    }
    return colours;
}

QImage presented(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// f(x, y) for every pixel of a width x height area, row by row, until a fatal failure.
template <typename F> void eachPixel(int width, int height, F f) {
    for (int y = 0; y < height && !::testing::Test::HasFatalFailure(); ++y) {
        for (int x = 0; x < width && !::testing::Test::HasFatalFailure(); ++x) {
            f(x, y);
        }
    }
}

// --- Palette display ---

TEST(PaletteDisplay, LogicalEntriesComeFromThePaletteAndSystemEntriesStayFixed) {
    PaletteDisplay display;
    const auto colours = gradient(5);
    display.setLogicalPalette(colours);
    for (std::uint8_t i = 0; i < kSystemColourBase; ++i) {
        const Rgb c = colours[i];
        ASSERT_EQ(display.colour(i), qRgb(c.r, c.g, c.b));
        ASSERT_EQ(display.rgb(i), c);
    }
    EXPECT_EQ(display.colour(kSysBlack), qRgb(0, 0, 0));
    EXPECT_EQ(display.colour(kSysWhite), qRgb(255, 255, 255));
    EXPECT_EQ(display.colour(kSysRed), qRgb(255, 0, 0));
    EXPECT_EQ(display.colour(kSys3dFace), qRgb(192, 192, 192));
    EXPECT_EQ(display.colour(kSys3dShadow), qRgb(128, 128, 128));

    // A longer table cannot reach the system colours; a shorter one changes only its part.
    std::vector<Rgb> tooLong(300, Rgb{1, 2, 3});
    display.setLogicalPalette(tooLong);
    EXPECT_EQ(display.colour(235), qRgb(1, 2, 3));
    EXPECT_EQ(display.colour(kSysBlack), qRgb(0, 0, 0));
    const std::array<Rgb, 2> shortTable{Rgb{9, 9, 9}, Rgb{8, 8, 8}};
    display.setLogicalPalette(shortTable);
    EXPECT_EQ(display.colour(1), qRgb(8, 8, 8));
    EXPECT_EQ(display.colour(2), qRgb(1, 2, 3));
    EXPECT_EQ(display.colourTable().size(), kDisplayColours);
}

TEST(PaletteDisplay, ConversionClipsAgainstSourceAndImage) {
    PaletteDisplay display;
    display.setLogicalPalette(gradient(0));
    IndexedSurface source(6, 5);
    eachPixel(6, 5,
              [&](int x, int y) { source.setPixel(x, y, static_cast<std::uint8_t>(10 * y + x)); });
    const QRgb untouched = qRgb(1, 1, 1);
    for (const PixelPoint to :
         {PixelPoint{-3, -2}, PixelPoint{5, 4}, PixelPoint{0, 0}, PixelPoint{-100, 50}}) {
        QImage image(7, 6, QImage::Format_RGB32);
        image.fill(untouched);
        const PixelRect from{-1, 1, 9, 9};
        display.convert(source, from, image, to);
        eachPixel(7, 6, [&](int x, int y) {
            const int sx = x - to.x + from.x;
            const int sy = y - to.y + from.y;
            const auto index = source.pixel(sx, sy);
            const QRgb expected =
                index && from.contains(sx, sy) ? display.colour(*index) : untouched;
            ASSERT_EQ(image.pixel(x, y), expected) << x << "," << y;
        });
    }
    QImage wrongFormat(4, 4, QImage::Format_Grayscale8);
    wrongFormat.fill(3);
    display.convert(source, source.bounds(), wrongFormat, {0, 0});
    EXPECT_EQ(wrongFormat.pixelColor(1, 1).red(), 3);
}

// --- Window store ---

class WindowStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        display.setLogicalPalette(gradient(1));
        widget.resize(40, 30);
        widget.show();
        store.updateNow();
    }
    // The colour the store keeps for a palette index.
    QRgb stored(int index) const {
        return display.colour(static_cast<std::uint8_t>(index)) & 0xffffff;
    }
    PaletteDisplay display;
    WindowSurface store{display};
    SurfaceWidget widget{store};
};

TEST_F(WindowStoreTest, PaletteRebuildRecoloursWhatThePaintHandlerCopied) {
    IndexedSurface picture(40, 30, 7);
    picture.fillRect({10, 10, 5, 5}, 20);
    int paints = 0;
    store.setPaintHandler([&](WindowSurface& s) {
        ++paints;
        s.blit(picture, picture.bounds(), {0, 0});
    });
    store.invalidate();
    QImage shown = presented(widget);
    EXPECT_EQ(shown.pixel(0, 0), display.colour(7));
    EXPECT_EQ(shown.pixel(12, 12), display.colour(20));
    const int paintsBefore = paints;

    // Presenting again without a change does not repaint.
    (void)presented(widget);
    EXPECT_EQ(paints, paintsBefore);

    auto colours = gradient(1);
    colours[7] = {200, 10, 10};
    colours[20] = {10, 200, 10};
    display.setLogicalPalette(colours);
    shown = presented(widget);
    EXPECT_EQ(shown.pixel(0, 0), qRgb(200, 10, 10));
    EXPECT_EQ(shown.pixel(12, 12), qRgb(10, 200, 10));
    EXPECT_EQ(paints, paintsBefore + 1);
}

// Drawing goes into the store and is presented as it stands. While a scan runs, changes are
// gathered and presented at its frame rate, and whatever is pending when it ends is presented
// then.
TEST_F(WindowStoreTest, DrawingGoesIntoTheStoreAndIsPresentedAtTheFrameRate) {
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            paints += e->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } counter;
    QCoreApplication::processEvents();
    widget.installEventFilter(&counter);
    store.setPresentInterval(3'600'000); // far beyond the test's run: nothing is presented
    store.fillRect({-5, -5, 100, 100}, kSysWhite);
    store.fillRect({2, 3, 4, 2}, 9);
    store.drawLine({0, 20}, {39, 20}, {kSysRed, 1});
    EXPECT_EQ(store.pixel(5, 4), stored(9));
    EXPECT_EQ(store.pixel(6, 4), 0xffffffu);
    EXPECT_EQ(store.pixel(38, 20), 0xff0000u);
    EXPECT_EQ(store.pixel(39, 20), 0xffffffu); // the end point is not drawn
    EXPECT_FALSE(store.pixel(40, 0).has_value());
    EXPECT_FALSE(store.pixel(0, -1).has_value());
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, 0);
    store.setPresentInterval(0);
    QCoreApplication::processEvents();
    EXPECT_GE(counter.paints, 1);
    const QImage shown = presented(widget);
    EXPECT_EQ(shown.pixel(5, 4), display.colour(9));
    EXPECT_EQ(shown.pixel(10, 20), qRgb(255, 0, 0));
    widget.removeEventFilter(&counter);
}

// Inversion as the window shows it (the complement, its own inverse) is spectral_view_test's;
// here, a rectangle past the right and bottom edges.
TEST_F(WindowStoreTest, InversionPastTheEdgesStaysInside) {
    IndexedSurface picture(40, 30);
    eachPixel(40, 30,
              [&](int x, int y) { picture.setPixel(x, y, static_cast<std::uint8_t>(x * 6 + y)); });
    store.blit(picture, picture.bounds(), {0, 0});
    store.invertRect({30, 20, 50, 50});
    eachPixel(40, 30, [&](int x, int y) {
        const QRgb was = stored(*picture.pixel(x, y));
        ASSERT_EQ(*store.pixel(x, y), x >= 30 && y >= 20 ? (~was & 0xffffff) : was)
            << x << "," << y;
    });
}

TEST_F(WindowStoreTest, ScrollAndSavedBoxesRestoreExactly) {
    IndexedSurface picture(40, 30);
    for (int x = 0; x < 40; ++x) {
        picture.fillRect({x, 0, 1, 30}, static_cast<std::uint8_t>(x + 30));
    }
    store.blit(picture, picture.bounds(), {0, 0});
    const QImage box = store.copyRect({30, 5, 8, 4});
    store.scrollHorizontally({0, 0, 40, 30}, -4);
    for (int x = 0; x < 36; ++x) {
        ASSERT_EQ(*store.pixel(x, 10), stored(x + 34));
    }
    // The uncovered columns keep what they had.
    EXPECT_EQ(*store.pixel(38, 10), stored(68));
    store.drawImage({30, 5}, box);
    EXPECT_EQ(*store.pixel(31, 6), stored(61));
    EXPECT_EQ(*store.pixel(29, 6), stored(63));
}

TEST_F(WindowStoreTest, ResizeKeepsTheTopLeftAndAsksForAPaint) {
    store.fillRect(store.bounds(), 12);
    widget.resize(60, 20);
    EXPECT_EQ(std::pair(store.width(), store.height()), std::pair(60, 20));
    EXPECT_TRUE(store.needsPaint());
    EXPECT_EQ(*store.pixel(39, 19), stored(12));
    EXPECT_EQ(*store.pixel(50, 5), 0u);
}

// --- Text ---

std::vector<std::pair<int, int>> pixelsOf(const IndexedSurface& s, std::uint8_t index) {
    std::vector<std::pair<int, int>> out;
    eachPixel(s.width(), s.height(), [&](int x, int y) {
        if (*s.pixel(x, y) == index) {
            out.emplace_back(x, y);
        }
    });
    return out;
}

// The window's text is the text stamped into a picture.
TEST_F(WindowStoreTest, TextStampsOnlyTheGlyphsInsideTheirCellAndTheWindowShowsTheSame) {
    const QFont font = programFont(16);
    const QString text = QStringLiteral("Hz 440");
    IndexedSurface s(120, 40, 4);
    drawTextIndexed(s, {10, 8}, text, font, 0);
    widget.resize(120, 40);
    store.fillRect(store.bounds(), 4);
    store.drawText({10, 8}, text, font, 0);
    eachPixel(120, 40, [&](int x, int y) {
        ASSERT_EQ(*store.pixel(x, y), stored(*s.pixel(x, y))) << x << "," << y;
    });
    const PixelRect cell = textCell({10, 8}, text, font);
    const auto stamped = pixelsOf(s, 0);
    ASSERT_GT(stamped.size(), 20u);
    for (auto [x, y] : stamped) {
        EXPECT_TRUE(cell.contains(x, y)) << x << "," << y;
    }
    // Only the background and the text index occur: no blending into other indices.
    EXPECT_EQ(stamped.size() + pixelsOf(s, 4).size(), 120u * 40u);

    // Opaque text fills its cell first.
    IndexedSurface opaqueText(120, 40, 9);
    drawTextIndexed(opaqueText, {10, 8}, text, font, 0, 4);
    EXPECT_EQ(pixelsOf(opaqueText, 0), stamped);
    EXPECT_EQ(pixelsOf(opaqueText, 4).size(),
              static_cast<std::size_t>(cell.width * cell.height) - stamped.size());
}

TEST(IndexedText, ClipsAtTheEdgesLikeTextOnALargerSurface) {
    const QFont font = programFont(14);
    const QString text = QStringLiteral("-60 dB");
    constexpr int margin = 60;
    for (const PixelPoint at :
         {PixelPoint{-12, -5}, PixelPoint{20, 10}, PixelPoint{-30, 8}, PixelPoint{5, -200}}) {
        IndexedSurface small(30, 16, 4);
        drawTextIndexed(small, at, text, font, 1, 3);
        IndexedSurface big(30 + 2 * margin, 16 + 2 * margin, 4);
        drawTextIndexed(big, {at.x + margin, at.y + margin}, text, font, 1, 3);
        eachPixel(30, 16, [&](int x, int y) {
            ASSERT_EQ(*small.pixel(x, y), *big.pixel(x + margin, y + margin))
                << at.x << "," << at.y;
        });
    }
}

// --- Commands ---

TEST(Commands, SentCommandsNestAndPostedOnesWaitInOrder) {
    std::vector<std::string> log;
    CommandQueue q;
    q.setHandler([&](int id, int param) {
        log.push_back("begin " + std::to_string(id) + ":" + std::to_string(param));
        if (id == 1) {
            q.send(2, 7);
            q.post(3, 1);
            q.post(4, 2);
        }
        log.push_back("end " + std::to_string(id));
    });
    q.send(1, 0);
    EXPECT_EQ(log, (std::vector<std::string>{"begin 1:0", "begin 2:7", "end 2", "end 1"}));
    EXPECT_EQ(q.pending(), 2);
    log.clear();
    pumpMessages();
    EXPECT_EQ(log, (std::vector<std::string>{"begin 3:1", "end 3", "begin 4:2", "end 4"}));
    EXPECT_EQ(q.pending(), 0);
}

TEST(Commands, PostedChainsStayFlatReachAPumpingCommandAndWithoutAHandlerOrQueueAreDropped) {
    int depth = 0;
    int deepest = 0;
    int runs = 0;
    CommandQueue q;
    q.setHandler([&](int id, int param) {
        ++depth;
        deepest = std::max(deepest, depth);
        ++runs;
        if (id == 5 && param < 999) {
            q.post(5, param + 1);
        }
        --depth;
    });
    q.post(5, 0);
    // One pump runs what was waiting, not what that posted.
    pumpMessages();
    EXPECT_EQ(runs, 1);
    q.drain();
    EXPECT_EQ(runs, 1000);
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(q.pending(), 0);

    // A chain that never ends cannot hold the drain forever.
    q.setHandler([&](int, int) { q.post(6, 0); });
    q.post(6, 0);
    q.drain(50);
    EXPECT_EQ(q.pending(), 1);
    // Without a handler commands, sent or posted, are dropped.
    q.setHandler({});
    q.send(40020, 0);
    q.drain();
    EXPECT_EQ(q.pending(), 0);
    // A mode started by a posted command pumps inside that command; what is posted meanwhile
    // (a STOP, a device notification) must still reach it.
    bool stopSeen = false;
    int steps = 0;
    q.setHandler([&](int id, int) {
        if (id == 40020) {
            q.post(103, 0);
            while (!stopSeen && steps < 100) {
                ++steps;
                pumpMessages();
            }
        } else if (id == 103) {
            stopSeen = true;
        }
    });
    q.post(40020, 0);
    pumpMessages();
    EXPECT_TRUE(stopSeen);
    EXPECT_LT(steps, 100);
    EXPECT_EQ(q.pending(), 0);
    // A queue that goes (its window closed) takes what it had waiting with it.
    int late = 0;
    {
        CommandQueue gone([&](int, int) { ++late; });
        gone.post(7, 0);
    }
    pumpMessages();
    EXPECT_EQ(late, 0);
}

// --- The virtual clock the simulated sound devices run on ---

TEST(VirtualClock, ListenersHearEachMillisecondInOrderReadsMoveItOnlyWhenAskedAndListenersMayGo) {
    VirtualClock clock(100);
    std::vector<std::pair<int, std::int64_t>> calls;
    clock.addListener([&](std::int64_t now) { calls.emplace_back(1, now); });
    clock.addListener([&](std::int64_t now) { calls.emplace_back(2, now); });
    clock.sleep(3);
    clock.sleep(0);
    clock.sleep(-5);
    const std::vector<std::pair<int, std::int64_t>> expected{{1, 101}, {2, 101}, {1, 102},
                                                             {2, 102}, {1, 103}, {2, 103}};
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(clock.nowMs(), 103);
    EXPECT_EQ(clock.nowMs(), 103);
    clock.setAdvanceOnRead(2);
    EXPECT_EQ(clock.nowMs(), 105);
    EXPECT_EQ(clock.nowMs(), 107);
    EXPECT_EQ(clock.currentMs(), 107);
    EXPECT_EQ(calls.size(), 14u);

    // Listeners may remove themselves and add others.
    VirtualClock other;
    std::vector<std::int64_t> late;
    int selfRemoving = 0;
    VirtualClock::ListenerId self = 0;
    self = other.addListener([&](std::int64_t) {
        ++selfRemoving;
        other.removeListener(self);
        other.addListener([&](std::int64_t now) { late.push_back(now); });
    });
    other.advance(3);
    EXPECT_EQ(selfRemoving, 1);
    // Added during tick 1, so heard from tick 2 on.
    EXPECT_EQ(late, (std::vector<std::int64_t>{2, 3}));
}

// --- The simulated sound devices: the failures the program's tests inject, sound given byte by
// byte (their contract is sound_contract_test's) ---

using test::Sinks;

TEST(SimulatedDevices, InjectedFailuresAreReportedAsResults) {
    using enum SoundResult;
    using enum SimulatedFailure;
    std::vector<std::uint8_t> buffer(64);
    struct Case {
        SimulatedFailure failure;
        SoundResult open, prepare, write;
    };
    for (const Case& c :
         {Case{Open, OpenFailed, PrepareFailed, WriteFailed},
          Case{Prepare, Ok, PrepareFailed, WriteFailed}, Case{Write, Ok, Ok, WriteFailed}}) {
        SCOPED_TRACE(static_cast<int>(c.failure));
        VirtualClock clock;
        SimulatedSoundOutput out(clock);
        SimulatedSoundInput in(clock);
        Sinks sink;
        out.failAt(c.failure);
        in.failAt(c.failure);
        EXPECT_EQ(out.open(PcmFormat{8000, 1, 16}, sink), c.open);
        EXPECT_EQ(out.prepare(buffer, 1), c.prepare);
        EXPECT_EQ(out.write(), c.write);
        EXPECT_FALSE(out.positionFrames().has_value());
        EXPECT_EQ(in.open(PcmFormat{8000, 1, 16}, sink), c.open);
        EXPECT_EQ(in.addBuffer(buffer), c.failure == Write ? Ok : PrepareFailed);
        // Without a buffer capture may start, but every frame heard is lost.
        const bool starts = c.failure == Prepare;
        EXPECT_EQ(in.start(), starts ? Ok : WriteFailed);
        clock.sleep(50);
        EXPECT_EQ(in.positionFrames(), starts ? std::optional<std::int64_t>(0) : std::nullopt);
        // A reset hands back what was queued, and nothing where nothing could be.
        out.reset();
        in.reset();
        EXPECT_EQ(sink.buffers().size(), c.failure == Write ? 1u : 0u);
        out.close();
        in.close();
        EXPECT_EQ(sink.done(), 0);
        EXPECT_EQ(sink.closed(), c.open == Ok ? 1 : 0);
        EXPECT_EQ(out.openCount(), c.open == Ok ? 1 : 0);
        EXPECT_EQ(in.openCount(), c.open == Ok ? 1 : 0);
    }
}

TEST(SimulatedDevices, InputBytesComeInOrderThenSilenceAndEachLostStretchCountsOnce) {
    VirtualClock clock;
    SimulatedSoundInput in(clock);
    Sinks sink;
    std::vector<std::uint8_t> heard(25);
    std::iota(heard.begin(), heard.end(), std::uint8_t{1});
    in.setBytes(heard);
    std::vector<std::uint8_t> a(10, 0), b(10, 0), c(40, 0);
    ASSERT_EQ(in.open(PcmFormat{1000, 1, 8}, sink), SoundResult::Ok);
    ASSERT_EQ(in.addBuffer(a), SoundResult::Ok);
    ASSERT_EQ(in.start(), SoundResult::Ok);
    clock.sleep(15); // 10 frames into a, 5 lost
    EXPECT_EQ(in.positionFrames(), 10);
    EXPECT_EQ(in.overruns(), 1);
    ASSERT_EQ(in.addBuffer(b), SoundResult::Ok);
    ASSERT_EQ(in.addBuffer(c), SoundResult::Ok);
    clock.sleep(20); // 10 into b, 10 into c
    in.stop();
    EXPECT_EQ(sink.buffers().back(), (Sinks::Done{c.data(), 10}));
    EXPECT_EQ(in.queuedBuffers(), 0);
    std::vector<std::uint8_t> expectC(40, 0);
    std::fill_n(expectC.begin(), 10, std::uint8_t{128});
    EXPECT_EQ(a, std::vector<std::uint8_t>(heard.begin(), heard.begin() + 10));
    EXPECT_EQ(b, std::vector<std::uint8_t>(heard.begin() + 15, heard.end()));
    EXPECT_EQ(c, expectC);
    EXPECT_EQ(in.overruns(), 1);
}

// --- Allocation counting ---

TEST(Allocations, HandlesCountWhileHeldAndHandTheirCountOver) {
    const int base = openAllocations();
    {
        CountedBlock<std::vector<int>> a(std::vector<int>(100, 1));
        AllocationHandle h = AllocationHandle::acquire();
        EXPECT_EQ(openAllocations(), base + 2);
        CountedBlock<std::vector<int>> b = std::move(a);
        EXPECT_EQ(std::pair(a.held(), b.held()), std::pair(false, true));
        EXPECT_EQ(openAllocations(), base + 2);

        CountedBlock<std::vector<int>> c(std::vector<int>(5, 2));
        EXPECT_EQ(openAllocations(), base + 3);
        c = std::move(b); // c's own block is released, b's moves in
        EXPECT_EQ(openAllocations(), base + 2);
        EXPECT_EQ(c->size(), 100u);

        c.reset();
        c.reset();
        EXPECT_EQ(openAllocations(), base + 1);
        EXPECT_TRUE(c->empty());
        h.release();
        h.release();
        EXPECT_EQ(openAllocations(), base);
        AllocationHandle again = AllocationHandle::acquire();
        AllocationHandle moved;
        moved = std::move(again);
        EXPECT_EQ(openAllocations(), base + 1);
    }
    EXPECT_EQ(openAllocations(), base);

    // A block counted in another counter (a test's own) leaves the process's count alone.
    AllocationCounter own;
    {
        CountedBlock<int> block(5, own);
        EXPECT_EQ(own.openAllocations(), 1);
        EXPECT_EQ(openAllocations(), base);
    }
    EXPECT_EQ(own.openAllocations(), 0);
}

} // namespace
} // namespace korv
