#include "app/support/platform_scopes.h"
#include "app/support/temp_dir.h"
#include "audio/user_message.h"
#include "platform/allocations.h"
#include "platform/commands.h"
#include "platform/fonts.h"
#include "platform/indexed_text.h"
#include "platform/palette_display.h"
#include "platform/prompts.h"
#include "platform/window_surface.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
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

QRgb opaque(Rgb c) {
    return qRgb(c.r, c.g, c.b);
}

QImage presented(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// --- Palette display ---

TEST(PaletteDisplay, LogicalEntriesComeFromThePaletteAndSystemEntriesStayFixed) {
    PaletteDisplay display;
    const auto colours = gradient(5);
    const unsigned before = display.generation();
    display.setLogicalPalette(colours);
    EXPECT_NE(display.generation(), before);
    for (int i = 0; i < kSystemColourBase; ++i) {
        ASSERT_EQ(display.colour(static_cast<std::uint8_t>(i)),
                  opaque(colours[static_cast<std::size_t>(i)]));
        ASSERT_EQ(display.rgb(static_cast<std::uint8_t>(i)), colours[static_cast<std::size_t>(i)]);
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
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 6; ++x) {
            source.setPixel(x, y, static_cast<std::uint8_t>(10 * y + x));
        }
    }
    const QRgb untouched = qRgb(1, 1, 1);
    for (const PixelPoint to :
         {PixelPoint{-3, -2}, PixelPoint{5, 4}, PixelPoint{0, 0}, PixelPoint{-100, 50}}) {
        QImage image(7, 6, QImage::Format_RGB32);
        image.fill(untouched);
        const PixelRect from{-1, 1, 9, 9};
        display.convert(source, from, image, to);
        for (int y = 0; y < 6; ++y) {
            for (int x = 0; x < 7; ++x) {
                const int sx = x - to.x + from.x;
                const int sy = y - to.y + from.y;
                const auto index = source.pixel(sx, sy);
                const QRgb expected =
                    index && from.contains(sx, sy) ? display.colour(*index) : untouched;
                ASSERT_EQ(image.pixel(x, y), expected) << x << "," << y;
            }
        }
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
    EXPECT_TRUE(store.needsPaint());
    shown = presented(widget);
    EXPECT_EQ(shown.pixel(0, 0), qRgb(200, 10, 10));
    EXPECT_EQ(shown.pixel(12, 12), qRgb(10, 200, 10));
    EXPECT_EQ(paints, paintsBefore + 1);
}

TEST_F(WindowStoreTest, DrawingGoesIntoTheStoreAndIsPresentedAsItStands) {
    store.updateNow();
    store.fillRect({-5, -5, 100, 100}, kSysWhite);
    store.fillRect({2, 3, 4, 2}, 9);
    store.drawLine({0, 20}, {39, 20}, {kSysRed, 1});
    EXPECT_EQ(store.pixel(5, 4), display.colour(9) & 0xffffff);
    EXPECT_EQ(store.pixel(6, 4), 0xffffffu);
    EXPECT_EQ(store.pixel(38, 20), 0xff0000u);
    EXPECT_EQ(store.pixel(39, 20), 0xffffffu); // the end point is not drawn
    EXPECT_FALSE(store.pixel(40, 0).has_value());
    EXPECT_FALSE(store.pixel(0, -1).has_value());
    const QImage shown = presented(widget);
    EXPECT_EQ(shown.pixel(5, 4), display.colour(9));
    EXPECT_EQ(shown.pixel(10, 20), qRgb(255, 0, 0));
}

// While a scan runs, changes are gathered and presented at its frame rate, and whatever is
// pending when it ends is presented then.
TEST_F(WindowStoreTest, ChangesWaitForTheFrameRateAndArePresentedWhenItEnds) {
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            paints += e->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } counter;
    store.updateNow();
    QCoreApplication::processEvents();
    widget.installEventFilter(&counter);
    store.setPresentInterval(3'600'000); // far beyond the test's run: nothing is presented
    store.fillRect({2, 3, 4, 2}, 9);
    store.drawLine({0, 20}, {39, 20}, {kSysRed, 1});
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, 0);
    store.setPresentInterval(0);
    QCoreApplication::processEvents();
    EXPECT_GE(counter.paints, 1);
    const QImage shown = presented(widget);
    EXPECT_EQ(shown.pixel(5, 4), display.colour(9));
    widget.removeEventFilter(&counter);
}

TEST_F(WindowStoreTest, InversionIsTheComplementAndItsOwnInverse) {
    store.updateNow();
    IndexedSurface picture(40, 30);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            picture.setPixel(x, y, static_cast<std::uint8_t>(x * 6 + y));
        }
    }
    store.blit(picture, picture.bounds(), {0, 0});
    const QImage before = store.image().copy();
    store.invertRect({30, 20, 50, 50}); // reaches past the right and bottom edges
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            const QRgb was = before.pixel(x, y) & 0xffffff;
            const QRgb expected = x >= 30 && y >= 20 ? (~was & 0xffffff) : was;
            ASSERT_EQ(*store.pixel(x, y), expected);
        }
    }
    store.invertRect({30, 20, 50, 50});
    EXPECT_EQ(store.image(), before);
}

TEST_F(WindowStoreTest, ScrollAndSavedBoxesRestoreExactly) {
    store.updateNow();
    IndexedSurface picture(40, 30);
    for (int x = 0; x < 40; ++x) {
        picture.fillRect({x, 0, 1, 30}, static_cast<std::uint8_t>(x + 30));
    }
    store.blit(picture, picture.bounds(), {0, 0});
    const QImage box = store.copyRect({30, 5, 8, 4});
    store.scrollHorizontally({0, 0, 40, 30}, -4);
    for (int x = 0; x < 36; ++x) {
        ASSERT_EQ(*store.pixel(x, 10),
                  display.colour(static_cast<std::uint8_t>(x + 34)) & 0xffffff);
    }
    // The uncovered columns keep what they had.
    EXPECT_EQ(*store.pixel(38, 10), display.colour(68) & 0xffffff);
    store.drawImage({30, 5}, box);
    EXPECT_EQ(*store.pixel(31, 6), display.colour(61) & 0xffffff);
    EXPECT_EQ(*store.pixel(29, 6), display.colour(63) & 0xffffff);
}

TEST_F(WindowStoreTest, ResizeKeepsTheTopLeftAndAsksForAPaint) {
    store.updateNow();
    store.fillRect(store.bounds(), 12);
    widget.resize(60, 20);
    EXPECT_EQ(store.width(), 60);
    EXPECT_EQ(store.height(), 20);
    EXPECT_TRUE(store.needsPaint());
    EXPECT_EQ(*store.pixel(39, 19), display.colour(12) & 0xffffff);
    EXPECT_EQ(*store.pixel(50, 5), 0u);
}

// --- Text ---

std::vector<std::pair<int, int>> pixelsOf(const IndexedSurface& s, std::uint8_t index) {
    std::vector<std::pair<int, int>> out;
    for (int y = 0; y < s.height(); ++y) {
        for (int x = 0; x < s.width(); ++x) {
            if (*s.pixel(x, y) == index) {
                out.emplace_back(x, y);
            }
        }
    }
    return out;
}

TEST(IndexedText, StampsOnlyTheGlyphsInsideTheirCell) {
    const QFont font = programFont(16);
    const QString text = QStringLiteral("Hz 440");
    IndexedSurface s(120, 40, 4);
    drawTextIndexed(s, {10, 8}, text, font, 0);
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
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 30; ++x) {
                ASSERT_EQ(*small.pixel(x, y), *big.pixel(x + margin, y + margin))
                    << at.x << "," << at.y;
            }
        }
    }
}

TEST(IndexedText, WindowTextAndStampedTextCoverTheSamePixels) {
    PaletteDisplay display;
    display.setLogicalPalette(gradient(2));
    WindowSurface store(display);
    store.resize(100, 30);
    store.updateNow();
    store.fillRect(store.bounds(), 4);
    const QFont font = programFont(15);
    store.drawText({3, 4}, QStringLiteral("Sample Rate"), font, 0);
    IndexedSurface s(100, 30, 4);
    drawTextIndexed(s, {3, 4}, QStringLiteral("Sample Rate"), font, 0);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 100; ++x) {
            ASSERT_EQ(*store.pixel(x, y), display.colour(*s.pixel(x, y)) & 0xffffff)
                << x << "," << y;
        }
    }
}

// --- Commands ---

TEST(Commands, SentCommandsNestAndPostedOnesWaitInOrder) {
    std::vector<std::string> log;
    test::CommandHandlerScope scope([&](int id, int param) {
        log.push_back("begin " + std::to_string(id) + ":" + std::to_string(param));
        if (id == 1) {
            sendCommand(2, 7);
            postCommand(3, 1);
            postCommand(4, 2);
        }
        log.push_back("end " + std::to_string(id));
    });
    sendCommand(1, 0);
    EXPECT_EQ(log, (std::vector<std::string>{"begin 1:0", "begin 2:7", "end 2", "end 1"}));
    EXPECT_EQ(pendingCommands(), 2);
    log.clear();
    pumpMessages();
    EXPECT_EQ(log, (std::vector<std::string>{"begin 3:1", "end 3", "begin 4:2", "end 4"}));
    EXPECT_EQ(pendingCommands(), 0);
}

TEST(Commands, PostedChainsKeepTheStackFlat) {
    int depth = 0;
    int deepest = 0;
    int runs = 0;
    test::CommandHandlerScope scope([&](int id, int param) {
        ++depth;
        deepest = std::max(deepest, depth);
        ++runs;
        if (id == 5 && param < 999) {
            postCommand(5, param + 1);
        }
        --depth;
    });
    postCommand(5, 0);
    // One pump runs what was waiting, not what that posted.
    pumpMessages();
    EXPECT_EQ(runs, 1);
    drainMessages();
    EXPECT_EQ(runs, 1000);
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(pendingCommands(), 0);

    // A chain that never ends cannot hold the drain forever.
    test::CommandHandlerScope endless([&](int, int) { postCommand(6, 0); });
    postCommand(6, 0);
    drainMessages(50);
    EXPECT_EQ(pendingCommands(), 1);
    setCommandHandler({});
    drainMessages();
    EXPECT_EQ(pendingCommands(), 0);
}

// A mode started by a posted command pumps inside that command; what is posted meanwhile
// (a STOP, a device notification) must still reach it.
TEST(Commands, PumpingInsideAPostedCommandDeliversNewPosts) {
    bool stopSeen = false;
    int steps = 0;
    test::CommandHandlerScope scope([&](int id, int) {
        if (id == 40020) {
            postCommand(103, 0);
            while (!stopSeen && steps < 100) {
                ++steps;
                pumpMessages();
            }
        } else if (id == 103) {
            stopSeen = true;
        }
    });
    postCommand(40020, 0);
    pumpMessages();
    EXPECT_TRUE(stopSeen);
    EXPECT_LT(steps, 100);
    EXPECT_EQ(pendingCommands(), 0);
}

TEST(Commands, WithoutAHandlerCommandsAreDropped) {
    setCommandHandler({});
    sendCommand(40020, 0);
    postCommand(40020, 0);
    drainMessages();
    EXPECT_EQ(pendingCommands(), 0);
}

// --- Allocation counting ---

TEST(Allocations, HandlesCountWhileHeldAndHandTheirCountOver) {
    const int base = openAllocations();
    {
        CountedBlock<std::vector<int>> a(std::vector<int>(100, 1));
        AllocationHandle h = AllocationHandle::acquire();
        EXPECT_EQ(openAllocations(), base + 2);
        CountedBlock<std::vector<int>> b = std::move(a);
        EXPECT_FALSE(a.held());
        EXPECT_TRUE(b.held());
        EXPECT_EQ(b->size(), 100u);
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

// --- Prompts ---

// A dialog as the program builds them: controls named by their ids, OK and Cancel buttons.
class SampleDialog : public QDialog {
  public:
    SampleDialog() {
        setObjectName(QStringLiteral("dialog102"));
        auto* layout = new QVBoxLayout(this);
        edit = new QLineEdit(QStringLiteral("6000"), this);
        edit->setObjectName(controlName(1023));
        layout->addWidget(edit);
        auto* ok = new QPushButton(QStringLiteral("OK"), this);
        ok->setObjectName(controlName(kOkButtonId));
        auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
        cancel->setObjectName(controlName(kCancelButtonId));
        layout->addWidget(ok);
        layout->addWidget(cancel);
        connect(ok, &QPushButton::clicked, this, [this] {
            // The program's OK keeps the dialog open on a refused value.
            if (edit->text().toInt() > 0) {
                value = edit->text().toInt();
                accept();
            }
        });
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    }
    QLineEdit* edit = nullptr;
    int value = 0;
};

TEST(ScriptedPrompts, RecordsMessagesAndAnswersFileDialogsInOrder) {
    test::ScriptedPromptsScope scripted;
    showMessage(kCannotOpenFile);
    prompts().message(QStringLiteral("Dauer \u00fcber 10 s"), MessageIcon::Stop);
    prompts().beep();
    EXPECT_EQ(
        scripted->messages(),
        (std::vector<UserMessage>{kCannotOpenFile, {"Dauer \u00fcber 10 s", MessageIcon::Stop}}));
    EXPECT_EQ(scripted->beeps(), 1);

    scripted->queueFile(QStringLiteral("/tmp/a.wav"));
    scripted->queueCancel();
    scripted->queueFiles({QStringLiteral("/tmp/b.wav"), QStringLiteral("/tmp/c.wav")});
    scripted->queueFile(QStringLiteral("/tmp/out.bmp"));
    const FileRequest request{QStringLiteral("Open"),
                              QStringLiteral("/tmp"),
                              QStringLiteral("Wave Files (*.wav)"),
                              {},
                              {}};
    EXPECT_EQ(prompts().openFile(request), QStringLiteral("/tmp/a.wav"));
    EXPECT_FALSE(prompts().openFile(request).has_value());
    EXPECT_EQ(prompts().openFiles(request),
              (QStringList{QStringLiteral("/tmp/b.wav"), QStringLiteral("/tmp/c.wav")}));
    EXPECT_EQ(prompts().saveFile(request), QStringLiteral("/tmp/out.bmp"));
    EXPECT_TRUE(scripted->unscripted().isEmpty());
    ASSERT_EQ(scripted->fileRequests().size(), 4u);
    EXPECT_EQ(scripted->fileRequests()[0].filter, QStringLiteral("Wave Files (*.wav)"));

    // Nothing queued: Cancel, and the test can see that it was not expected.
    EXPECT_FALSE(prompts().saveFile(request).has_value());
    EXPECT_EQ(scripted->unscripted().size(), 1);
    EXPECT_EQ(scripted->pendingAnswers(), 0);

    // A long text behind a short message is recorded beside it.
    prompts().messageWithDetails(QStringLiteral("2 of 3"), QStringLiteral("a\nb"),
                                 MessageIcon::Warning);
    EXPECT_EQ(scripted->messages().back().text, "2 of 3");
    EXPECT_EQ(scripted->messageDetails().back(), QStringLiteral("a\nb"));
    EXPECT_TRUE(scripted->messageDetails().front().isEmpty());
}

// As the desktop's save dialog: a name typed without an extension takes the default one, and
// the final name, if it exists, is asked about; No goes back to the dialog.
TEST(ScriptedPrompts, SaveDialogsAddTheDefaultExtensionAndAskBeforeReplacing) {
    test::ScriptedPromptsScope scripted;
    test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    const QString old = dir.write(QStringLiteral("take1.wav"), "old");
    FileRequest request;
    request.title = QStringLiteral("Record Wave File");
    request.defaultSuffix = QStringLiteral("wav");
    scripted->queueFile(dir.file(QStringLiteral("take1")));
    scripted->queueAnswer(false);
    scripted->queueFile(dir.file(QStringLiteral("take2")));
    EXPECT_EQ(prompts().saveFile(request), dir.file(QStringLiteral("take2.wav")));
    EXPECT_EQ(scripted->questions(),
              QStringList{QStringLiteral("take1.wav already exists.\nDo you want to replace it?")});
    ASSERT_EQ(scripted->fileRequests().size(), 2u);
    EXPECT_EQ(scripted->fileRequests()[1].fileName, old); // the dialog again, the name in it

    scripted->queueFile(dir.file(QStringLiteral("take1")));
    scripted->queueAnswer(true);
    EXPECT_EQ(prompts().saveFile(request), old);
    // A name with an extension of its own is kept as it is.
    scripted->queueFile(dir.file(QStringLiteral("take.1")));
    EXPECT_EQ(prompts().saveFile(request), dir.file(QStringLiteral("take.1")));
    EXPECT_TRUE(scripted->unscripted().isEmpty());
}

TEST(ScriptedPrompts, DialogScriptsDriveTheRealDialog) {
    test::ScriptedPromptsScope scripted;
    scripted->queueDialog([](QDialog& d) {
        d.findChild<QLineEdit*>(controlName(1023))->setText(QStringLiteral("8000"));
        ScriptedPrompts::pressOk(d);
    });
    scripted->queueDialog([](QDialog& d) { ScriptedPrompts::pressCancel(d); });
    // A refused value keeps the dialog open; the scripted prompts then reject it.
    scripted->queueDialog([](QDialog& d) {
        d.findChild<QLineEdit*>(controlName(1023))->setText(QStringLiteral("-1"));
        ScriptedPrompts::pressOk(d);
    });

    SampleDialog first;
    EXPECT_TRUE(prompts().runDialog(first));
    EXPECT_EQ(first.value, 8000);
    SampleDialog second;
    EXPECT_FALSE(prompts().runDialog(second));
    EXPECT_EQ(second.value, 0);
    SampleDialog third;
    EXPECT_FALSE(prompts().runDialog(third));
    EXPECT_FALSE(third.isVisible());
    EXPECT_EQ(scripted->dialogsRun(),
              (QStringList{QStringLiteral("dialog102"), QStringLiteral("dialog102"),
                           QStringLiteral("dialog102")}));
    ASSERT_EQ(scripted->unscripted().size(), 1);
    EXPECT_TRUE(scripted->unscripted().front().contains(QStringLiteral("left open")));

    SampleDialog unexpected;
    EXPECT_FALSE(prompts().runDialog(unexpected));
    EXPECT_EQ(scripted->unscripted().size(), 2);
}

TEST(ScriptedPrompts, PrinterAnswersSetUpAPdfPrinter) {
    test::ScriptedPromptsScope scripted;
    test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    const QString pdf = dir.file(QStringLiteral("page.pdf"));
    scripted->queuePrinter(true, pdf);
    scripted->queuePrinter(false);
    QPrinter printer;
    ASSERT_TRUE(prompts().choosePrinter(printer));
    EXPECT_EQ(printer.outputFileName(), pdf);
    {
        QPainter painter(&printer);
        painter.fillRect(QRect(0, 0, 100, 100), Qt::black);
    }
    EXPECT_TRUE(QFile::exists(pdf));
    QPrinter other;
    EXPECT_FALSE(prompts().choosePrinter(other));
    EXPECT_TRUE(scripted->unscripted().isEmpty());
}

TEST(QtPrompts, MessageBoxCarriesTheCaptionAndTheIcon) {
    setPrompts(nullptr);
    for (auto [icon, expected] : {std::pair{MessageIcon::Warning, QMessageBox::Warning},
                                  std::pair{MessageIcon::Stop, QMessageBox::Critical},
                                  std::pair{MessageIcon::None, QMessageBox::NoIcon}}) {
        QString title;
        QString text;
        QMessageBox::Icon shownIcon = QMessageBox::Question;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
            shownIcon = box->icon();
            box->button(QMessageBox::Ok)->click();
        });
        showMessage(QStringLiteral("Improper Time Span"), icon);
        EXPECT_EQ(title, QStringLiteral("Korvanthile"));
        EXPECT_EQ(text, QStringLiteral("Improper Time Span"));
        EXPECT_EQ(shownIcon, expected);
    }
}

// The desktop's file dialogs open where asked, with the filter asked for, and hand back the
// full path of what the user picked.
TEST(QtPrompts, FileDialogsOpenInTheFolderWithTheFilter) {
    setPrompts(nullptr);
    test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    const QString wave = dir.write(QStringLiteral("tone.wav"), QByteArray(64, '\0'));
    ASSERT_FALSE(wave.isEmpty());
    const FileRequest request{QStringLiteral("Open Wave File"),
                              dir.path(),
                              QStringLiteral("Wave Files (*.wav);;All Files (*)"),
                              {},
                              {}};
    QString folder;
    QStringList filters;
    QString title;
    auto pick = [&](bool accept) {
        QTimer::singleShot(0, [&, accept] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            folder = dialog->directory().absolutePath();
            filters = dialog->nameFilters();
            title = dialog->windowTitle();
            if (accept) {
                dialog->selectFile(wave);
                static_cast<QDialog*>(dialog)->accept();
            } else {
                dialog->reject();
            }
        });
    };
    pick(true);
    EXPECT_EQ(prompts().openFile(request), wave);
    EXPECT_EQ(QDir(folder), QDir(dir.path()));
    EXPECT_EQ(filters,
              (QStringList{QStringLiteral("Wave Files (*.wav)"), QStringLiteral("All Files (*)")}));
    EXPECT_EQ(title, QStringLiteral("Open Wave File"));

    pick(false);
    EXPECT_FALSE(prompts().openFile(request).has_value());

    pick(true);
    const auto many = prompts().openFiles(request);
    ASSERT_TRUE(many.has_value());
    EXPECT_EQ(*many, QStringList{wave});
}

// Acts on the modal windows as they come up, one step each in order, from the event loop of
// whichever is running.
class ModalSteps : public QObject {
  public:
    explicit ModalSteps(std::vector<std::function<void(QWidget&)>> steps)
        : steps_(std::move(steps)) {
        connect(&timer_, &QTimer::timeout, this, [this] {
            QWidget* w = QApplication::activeModalWidget();
            if (w == nullptr || !w->isVisible() || w->property("handled").toBool() ||
                next_ >= steps_.size()) {
                return;
            }
            w->setProperty("handled", true);
            steps_[next_++](*w);
        });
        timer_.start(0);
    }
    [[nodiscard]] std::size_t done() const { return next_; }

  private:
    std::vector<std::function<void(QWidget&)>> steps_;
    std::size_t next_ = 0;
    QTimer timer_;
};

// The desktop's save dialog, typed into as a user would: "take1" names take1.wav, which is
// asked about (caption the dialog's title); No returns to the dialog and leaves the file,
// Yes gives the final name.
TEST(QtPrompts, SaveDialogAsksAboutTheNameWithItsDefaultExtension) {
    setPrompts(nullptr);
    test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    const QString old = dir.write(QStringLiteral("take1.wav"), "old");
    const FileRequest request{QStringLiteral("Record Wave File"),
                              dir.path(),
                              QStringLiteral("Wave Files (*.wav);;All Files (*)"),
                              {},
                              QStringLiteral("wav")};
    const auto typeName = [](QWidget& w) {
        auto* dialog = qobject_cast<QFileDialog*>(&w);
        ASSERT_NE(dialog, nullptr);
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(edit, nullptr);
        edit->setText(QStringLiteral("take1"));
        static_cast<QDialog*>(dialog)->accept();
    };
    QString question;
    QString caption;
    const auto answer = [&](QMessageBox::StandardButton button) {
        return [&, button](QWidget& w) {
            auto* box = qobject_cast<QMessageBox*>(&w);
            ASSERT_NE(box, nullptr);
            question = box->text();
            caption = box->windowTitle();
            box->button(button)->click();
        };
    };
    {
        ModalSteps steps({typeName, answer(QMessageBox::No),
                          [](QWidget& w) { static_cast<QDialog&>(w).reject(); }});
        EXPECT_FALSE(prompts().saveFile(request).has_value());
        EXPECT_EQ(steps.done(), 3u);
    }
    EXPECT_EQ(question, QStringLiteral("take1.wav already exists.\nDo you want to replace it?"));
    EXPECT_EQ(caption, QStringLiteral("Record Wave File"));
    QFile kept(old);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("old"));

    ModalSteps steps({typeName, answer(QMessageBox::Yes)});
    EXPECT_EQ(prompts().saveFile(request), old);
}

// A long list goes behind the message, in the box's scrolling detail.
TEST(QtPrompts, DetailsGoIntoTheBoxsDetailedText) {
    setPrompts(nullptr);
    QString text;
    QString details;
    ModalSteps steps({[&](QWidget& w) {
        auto* box = qobject_cast<QMessageBox*>(&w);
        ASSERT_NE(box, nullptr);
        text = box->text();
        details = box->detailedText();
        box->button(QMessageBox::Ok)->click();
    }});
    prompts().messageWithDetails(QStringLiteral("300 of 300 files were not saved."),
                                 QStringLiteral("a.wav: x\nb.wav: y"), MessageIcon::Warning);
    EXPECT_EQ(text, QStringLiteral("300 of 300 files were not saved."));
    EXPECT_EQ(details, QStringLiteral("a.wav: x\nb.wav: y"));
}

} // namespace
} // namespace korv
