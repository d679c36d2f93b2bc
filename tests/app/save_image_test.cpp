// Save Image, Analyze Batch and Print Window end to end: the real window offscreen, the files
// written to a temporary folder and read back byte by byte.

#include "app/current_view.h"
#include "cli/cli_outputs.h"
#include "modes/analysis_pass.h"
#include "modes/save_image.h"
#include "output/export_picture.h"
#include "support/analyze_fixture.h"
#include "support/printed_page.h"
#include "support/prompt_checks.h"

#include <QAccessible>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QStandardPaths>
#include <QtEndian>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <tuple>

namespace korv {
namespace {

using namespace test;

int le32(const QByteArray& f, int at) {
    return qFromLittleEndian<std::int32_t>(f.constData() + at);
}

// Dialog 151 answered with a format (and a quality for JPEG).
ScriptedPrompts::DialogScript chooseFormat(int format, int quality = 90) {
    return [format, quality](QDialog& d) {
        d.findChild<QAbstractButton*>(controlName(format))->click();
        if (format == IMAGE_FORMAT_JPEG) {
            d.findChild<QScrollBar*>(controlName(1160))->setValue(quality);
        }
        ScriptedPrompts::pressOk(d);
    };
}

class ImageExportTest : public AnalyzeFileTest {
  protected:
    // A save command answered with a format and a name in the folder; the bytes written.
    QByteArray save(int command, int format, const QString& name) {
        prompts->queueDialog(chooseFormat(format));
        prompts->queueFile(dir.file(name));
        window->commands().send(command);
        return TempDir::read(dir.file(name));
    }
    // Analyze Batch of `files` saving bitmaps, to its end.
    void batch(const QStringList& files) {
        prompts->queueFiles(files);
        prompts->queueDialog(chooseFormat(IMAGE_FORMAT_BITMAP));
        window->commands().send(cmd::kAnalyzeBatch);
        window->commands().drain();
    }
    // The one message the batch ended with, then forgotten: its text and its details.
    std::pair<std::string, QString> summary() {
        EXPECT_EQ(prompts->messages().size(), 1u);
        std::pair said{lastMessage(*prompts), prompts->messageDetails().value(0)};
        prompts->clearMessages();
        return said;
    }
    // The columns an entire picture gains on its right for the legend: its box's width in the
    // view, to a multiple of four.
    int legendMargin() {
        const int boxWidth =
            window->state().view.layout.plotWidth -
            viewLegendBox(currentViewGeometry(window->state()), window->controlFont(),
                          currentPictureScales(window->state()))
                .x;
        return (boxWidth + 3) / 4 * 4;
    }
};

TEST_F(ImageExportTest, WindowImageSavedAndPrintedAndANameIsAskedAbout) {
    window->state().view.gridOn = false;
    analyze(tone("sine.wav", kRate * 2));
    ASSERT_TRUE(window->state().held.spectralImage);
    const PlotLayout& l = window->state().view.layout;
    // The analysis fits the view: only the window image is offered.
    EXPECT_FALSE(window->menu().enabled(cmd::kSaveEntireImage));

    // The dialog as it opens on JPEG, then switched: the quality follows the format, and a
    // page to the left from 30 stops at 25.
    prompts->queueDialog([](QDialog& d) {
        auto* bar = d.findChild<QScrollBar*>(controlName(1160));
        auto* edit = d.findChild<QLineEdit*>(controlName(1161));
        EXPECT_TRUE(bar->isEnabled());
        EXPECT_EQ(edit->text(), QStringLiteral("90"));
        d.findChild<QAbstractButton*>(controlName(IMAGE_FORMAT_BITMAP))->click();
        EXPECT_FALSE(bar->isEnabled());
        EXPECT_TRUE(edit->text().isEmpty());
        d.findChild<QAbstractButton*>(controlName(IMAGE_FORMAT_JPEG))->click();
        bar->setValue(30);
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        EXPECT_EQ(edit->text(), QStringLiteral("25"));
        // A screen reader names the bar, and checks "bitmap" by its state, not by a click:
        // the checked button is the format.
        QAccessibleInterface* named = QAccessible::queryAccessibleInterface(bar);
        ASSERT_NE(named, nullptr);
        EXPECT_EQ(named->text(QAccessible::Name), QStringLiteral("JPEG Quality"));
        auto* bitmap = d.findChild<QAbstractButton*>(controlName(IMAGE_FORMAT_BITMAP));
        EXPECT_EQ(QAccessible::queryAccessibleInterface(bitmap)->role(), QAccessible::RadioButton);
        bitmap->setChecked(true);
        EXPECT_FALSE(d.findChild<QAbstractButton*>(controlName(IMAGE_FORMAT_JPEG))->isChecked());
        ScriptedPrompts::pressOk(d);
    });
    prompts->queueFile(dir.file("view")); // the extension is added
    window->commands().send(cmd::kSaveWindowImage);
    EXPECT_EQ(window->state().imageChoices.jpegQuality, 25);
    ASSERT_EQ(prompts->fileRequests().back().title, QStringLiteral("Save Bitmap"));
    const QByteArray bmp = TempDir::read(dir.file("view.bmp"));
    const int width = exportWidth(l.plotWidth);
    ASSERT_EQ(bmp.size(), 1078 + width * l.plotHeight);
    EXPECT_EQ(std::pair(le32(bmp, 18), le32(bmp, 22)), std::pair(width, l.plotHeight));
    const int strip = window->state().analysis.run.stripHeight;
    const auto indexAt = [&](const QByteArray& file, int x, int y) {
        return static_cast<std::uint8_t>(file[1078 + (l.plotHeight - 1 - y) * width + x]);
    };
    // GRID off, the picture is what the window shows below the waveform strip (whose lines
    // the picture draws across its width): the image with its axes, units and all, and the
    // level legend, pixel for pixel.
    window->surface().invalidate();
    window->surface().updateNow();
    const PaletteDisplay& display = window->state().view.display;
    for (int y = strip + 1; y < l.plotHeight; ++y) {
        for (int x = 0; x < width; ++x) {
            ASSERT_EQ(display.colour(indexAt(bmp, x, y)) & 0xffffff,
                      *window->surface().pixel(x, y) & 0xffffff)
                << x << "," << y;
        }
    }
    // Between the axes and the legend it holds the indices of the image at the scroll
    // position, bottom row first.
    const PixelRect legend =
        viewLegendBox(currentViewGeometry(window->state()), window->controlFont(),
                      currentPictureScales(window->state()));
    ASSERT_FALSE(legend.empty());
    for (int y = strip + 1; y < l.plotHeight - 2 * l.charHeight; y += 7) {
        for (int x = 12 * l.charWidth; x < legend.x; x += 13) {
            // Where the view is wider than the image, the background.
            const auto index =
                image().pixel(x + static_cast<int>(window->state().view.scroll.h.pos), y);
            ASSERT_EQ(indexAt(bmp, x, y), index.value_or(kBackgroundIndex)) << x << "," << y;
        }
    }
    EXPECT_EQ(indexAt(bmp, 1, strip), kSignal2Index);
    const auto textIn = [&](const QByteArray& file, const PixelRect& r) {
        long n = 0;
        for (int y = r.y; y < r.bottom(); ++y) {
            for (int x = r.x; x < r.right(); ++x) {
                n += indexAt(file, x, y) == kTextIndex ? 1 : 0;
            }
        }
        return n;
    };
    // The axes: the frequency labels at the left edge and the time labels at the bottom; the
    // legend's gradient from its top (the last gradient entry) down.
    const PixelRect frequencies{0, strip, 10 * l.charWidth, l.plotHeight - strip};
    const PixelRect times{10 * l.charWidth, l.plotHeight - l.charHeight,
                          legend.x - 10 * l.charWidth, l.charHeight};
    EXPECT_GT(textIn(bmp, frequencies), 20);
    EXPECT_GT(textIn(bmp, times), 20);
    std::set<int> gradient;
    for (int y = legend.y; y < legend.bottom(); ++y) {
        for (int x = legend.x; x < legend.right(); ++x) {
            if (indexAt(bmp, x, y) >= kFirstGradientIndex) {
                gradient.insert(indexAt(bmp, x, y));
            }
        }
    }
    EXPECT_GT(gradient.size(), 100u);
    EXPECT_TRUE(gradient.contains(kLastGradientIndex));
    // GRID on adds the crosses between the axes, and nothing else changes.
    window->state().view.gridOn = true;
    const QByteArray grid = save(cmd::kSaveWindowImage, IMAGE_FORMAT_BITMAP, "grid.bmp");
    ASSERT_EQ(grid.size(), bmp.size());
    const PixelRect between{12 * l.charWidth, strip + 1, legend.x - 12 * l.charWidth,
                            l.plotHeight - 2 * l.charHeight - strip};
    EXPECT_EQ(textIn(bmp, between), 0);
    EXPECT_GT(textIn(grid, between), 20);
    EXPECT_EQ(textIn(grid, frequencies), textIn(bmp, frequencies));
    window->state().view.gridOn = false;

    // A name typed without its extension names the file with it: Save Image (bitmap and JPEG)
    // and Save Wave ask before they replace that file, and No leaves it as it was.
    const auto ask = [this](const QString& name, bool replace) {
        prompts->queueFile(dir.file(name));
        prompts->queueAnswer(replace);
        if (!replace) {
            prompts->queueCancel(); // No returns to the dialog
        }
    };
    const auto asked = [this](const QString& file) {
        return !prompts->questions().isEmpty() &&
               prompts->questions().back() == replaceQuestion(dir.file(file));
    };
    for (const auto& [format, ext, magic] :
         {std::tuple{IMAGE_FORMAT_BITMAP, "bmp", QByteArray("BM")},
          std::tuple{IMAGE_FORMAT_JPEG, "jpg", QByteArray("\xff\xd8")}}) {
        const QString file = QStringLiteral("shot.") + QLatin1String(ext);
        write(file, "old");
        for (const bool replace : {false, true}) {
            prompts->queueDialog(chooseFormat(format));
            ask("shot", replace);
            window->commands().send(cmd::kSaveWindowImage);
            EXPECT_TRUE(asked(file)) << ext;
            EXPECT_EQ(prompts->fileRequests().back().defaultSuffix, QLatin1String(ext));
            if (!replace) { // the dialog again, the final name in it
                EXPECT_EQ(prompts->fileRequests().back().fileName, dir.file(file));
            }
            const QByteArray now = TempDir::read(dir.file(file));
            EXPECT_TRUE(replace ? now.startsWith(magic) : now == "old") << ext << replace;
        }
    }

    // Save Wave: take1 when take1.wav holds a long recording, replaced by Yes. (No leaves it:
    // its dialog is the recording's, ScanInputTest.RecordingByHandWritesTheStretches...)
    write("take1.wav", waveFile(kRate, 1, 16, kRate * 20, sines({440.0}, kRate)));
    ask("take1", true);
    window->commands().send(cmd::kSaveWave);
    EXPECT_TRUE(asked("take1.wav"));
    const auto waveBytes = static_cast<qsizetype>(46 + window->state().held.samples->heldBytes());
    EXPECT_EQ(TempDir::read(dir.file("take1.wav")).size(), waveBytes);
    // A name with an extension of its own is kept as it is.
    prompts->queueFile(dir.file("take.1"));
    window->commands().send(cmd::kSaveWave);
    EXPECT_EQ(TempDir::read(dir.file("take.1")).size(), waveBytes);

    // Print Window, the printer answered by script: No prints nothing, Yes prints to the PDF
    // file it names, the framed picture in the middle of the page.
    prompts->queuePrinter(false);
    window->commands().send(cmd::kPrintWindow);
    EXPECT_FALSE(QFile::exists(dir.file("page.pdf")));
    const QString pdf = dir.file("page.pdf");
    prompts->queuePrinter(true, pdf);
    window->commands().send(cmd::kPrintWindow);
    ASSERT_TRUE(QFile::exists(pdf));
    EXPECT_TRUE(prompts->unscripted().isEmpty());
    if (QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty()) {
        GTEST_SKIP() << "pdftoppm (poppler-utils) is not installed";
    }
    const auto page = readPrintedPage(pdf, dir.file("page"));
    ASSERT_TRUE(page);
    expectCentredPicture(*page, exportWidth(l.plotWidth), l.plotHeight);
    // The bare picture (its axes and legend in it): no caption.
    const auto pageText = [&](const QString& from) {
        QProcess text;
        text.start(QStringLiteral("pdftotext"), {from, QStringLiteral("-")});
        text.waitForFinished();
        return QString::fromUtf8(text.readAllStandardOutput()).simplified();
    };
    EXPECT_TRUE(pageText(pdf).isEmpty());

    // With GRID on, the crosses too, and a line below it says what it shows.
    window->state().view.gridOn = true;
    const QString withGrid = dir.file("grid.pdf");
    prompts->queuePrinter(true, withGrid);
    window->commands().send(cmd::kPrintWindow);
    const auto gridPage = readPrintedPage(withGrid, dir.file("grid"));
    ASSERT_TRUE(gridPage);
    const QString caption = pageText(withGrid);
    const AppSettings& st = window->state().settings;
    EXPECT_TRUE(caption.startsWith(QStringLiteral("sine.wav "))) << caption.toStdString();
    EXPECT_TRUE(caption.contains(QDate::currentDate().toString(Qt::ISODate)));
    EXPECT_TRUE(
        caption.contains(QStringLiteral("%1 to %2 Hz").arg(st.lowBandHz).arg(st.highBandHz)));
    EXPECT_TRUE(
        caption.contains(QStringLiteral("%1 msec per column")
                             .arg(window->state().analysis.run.params.columnMsec, 0, 'f', 2)));
    // The caption lies below the picture.
    EXPECT_GT(gridPage->inked.bottom(), page->inked.bottom());
    EXPECT_EQ(gridPage->inked.top(), page->inked.top());
    const QImage bare(dir.file("page.png"));
    const QImage framed(dir.file("grid.png"));
    EXPECT_NE(bare.copy(page->inked), framed.copy(page->inked));
    EXPECT_TRUE(prompts->messages().empty());
}

// PNG beside bitmap and JPEG, in Save Image and in Analyze Batch: a real PNG file that decodes
// to the picture's size, each pixel the image's palette index with the display's colour.
TEST_F(ImageExportTest, PngIsOfferedAndHoldsThePicturePixelForPixel) {
    window->state().view.gridOn = false;
    analyze(tone("sine.wav", kRate * 2));
    prompts->queueDialog([](QDialog& d) {
        QStringList offered;
        for (const QRadioButton* r : d.findChildren<QRadioButton*>()) {
            offered << r->text();
        }
        EXPECT_EQ(offered, (QStringList{"bitmap", "jpeg", "png"}));
        d.findChild<QAbstractButton*>(controlName(IMAGE_FORMAT_PNG))->click();
        EXPECT_FALSE(d.findChild<QScrollBar*>(controlName(1160))->isEnabled());
        ScriptedPrompts::pressOk(d);
    });
    prompts->queueFile(dir.file("view")); // the extension is added
    window->commands().send(cmd::kSaveWindowImage);
    EXPECT_EQ(prompts->fileRequests().back().title, QStringLiteral("Save PNG Image File"));
    EXPECT_EQ(prompts->fileRequests().back().defaultSuffix, QStringLiteral("png"));
    EXPECT_TRUE(prompts->fileRequests().back().filter.startsWith(QStringLiteral("PNG Files")));
    const QByteArray file = TempDir::read(dir.file("view.png"));
    ASSERT_TRUE(file.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8)));
    QImage png;
    ASSERT_TRUE(png.loadFromData(file, "PNG"));
    const PlotLayout& l = window->state().view.layout;
    ASSERT_EQ(png.size(), QSize(exportWidth(l.plotWidth), l.plotHeight));
    ASSERT_EQ(png.format(), QImage::Format_Indexed8);
    // The picture the window shows below the waveform strip, axes and legend included: each
    // pixel a palette index with the display's colour.
    window->surface().invalidate();
    window->surface().updateNow();
    const PaletteDisplay& display = window->state().view.display;
    const int strip = window->state().analysis.run.stripHeight;
    for (int y = strip + 1; y < png.height(); y += 7) {
        for (int x = 0; x < png.width(); x += 13) {
            const Rgb rgb = display.rgb(static_cast<std::uint8_t>(png.pixelIndex(x, y)));
            ASSERT_EQ(png.pixel(x, y), qRgb(rgb.r, rgb.g, rgb.b)) << x << "," << y;
            ASSERT_EQ(png.pixel(x, y) & 0xffffff, *window->surface().pixel(x, y) & 0xffffff)
                << x << "," << y;
        }
    }
    // A batch in PNG: images/<name>.png beside the wave files, the analysis's own size.
    prompts->queueFiles({tone("a.wav", kRate * 2), tone("b.wav", kRate * 3, 2000.0)});
    prompts->queueDialog(chooseFormat(IMAGE_FORMAT_PNG));
    window->commands().send(cmd::kAnalyzeBatch);
    window->commands().drain();
    for (const char* name : {"a", "b"}) {
        QImage saved;
        ASSERT_TRUE(saved.load(dir.file(QStringLiteral("images/%1.png").arg(name)), "PNG")) << name;
        EXPECT_EQ(saved.height(), l.plotHeight) << name;
    }
    EXPECT_TRUE(prompts->messages().empty());
}

// The Entire Image of a stereo file holds one channel's band. The command-line tool's image of
// a file is that picture, pixel for pixel and colour for colour: both bands of a stereo file,
// another palette, with and without GRID. JPEG is refused beyond its limit.
TEST_F(ImageExportTest, EntireImageOfStereoIsOneChannelAndTheCommandLineImage) {
    settings().timeScaleMsecSaved = 2.0f;
    settings().palette = PaletteName::Bw;
    rebuildPalette(window->state());
    const QString wave = write(
        "stereo.wav", test::waveFile(kRate, 2, 16, kRate * 4, test::sines({500.0, 3000.0}, kRate)));
    for (const bool grid : {false, true}) {
        settings().channel = grid ? StereoChannel::Left : StereoChannel::Right;
        analyze(wave);
        window->state().view.gridOn = grid;
        ASSERT_TRUE(window->menu().enabled(cmd::kSaveEntireImage));
        if (grid) {
            prompts->queueAnswer(true); // replace the first
        }
        const QByteArray desktop = save(cmd::kSaveEntireImage, IMAGE_FORMAT_BITMAP, "window.bmp");
        const SpectralImage& spectral = *window->state().held.spectralImage;
        const int width = exportWidth(spectral.width());
        // The legend stands beside the image, on a margin as wide as its box (to a multiple of
        // four columns): it covers none of the image's columns.
        const int pictureWidth = width + legendMargin();
        ASSERT_EQ(le32(desktop, 18), pictureWidth);
        ASSERT_EQ(desktop.size(), 1078 + pictureWidth * spectral.height() / 2);
        EXPECT_EQ(le32(desktop, 22), spectral.height() / 2);
        // The right channel's band (the upper one), right of the axes to its last column.
        const PlotLayout& l = window->state().view.layout;
        const int middle = spectral.plotHeight() / 2;
        for (int x = 12 * l.charWidth; x < width && !grid; x += 17) {
            ASSERT_EQ(static_cast<std::uint8_t>(
                          desktop[1078 + (spectral.plotHeight() - 1 - middle) * pictureWidth + x]),
                      *spectral.surface().pixel(x, middle));
        }

        cli::Options options;
        options.format = "bmp";
        options.grid = grid;
        options.legend = true; // the axes and the legend, as the window's pictures have them
        options.outDir = dir.file("cli").toStdString();
        QDir().mkpath(QString::fromStdString(options.outDir));
        options.layout = {window->state().analysis.run.plotHeight,
                          window->state().analysis.run.stripHeight,
                          QGuiApplication::primaryScreen()->geometry().width()};
        const cli::RunSettings run{
            wholeFileSettings(settings()), window->state().view.activePalette, {}, {}};
        ASSERT_EQ(cli::processFile(options, run, wave.toStdString(), std::int64_t{1} << 30),
                  std::nullopt);
        const QByteArray tool = TempDir::read(dir.file("cli/stereo.bmp"));
        ASSERT_EQ(desktop.size(), tool.size());
        EXPECT_EQ(std::ranges::mismatch(desktop, tool).in1 - desktop.begin(), desktop.size())
            << "the first differing byte, grid " << grid;
    }

    // Magnified beyond what JPEG takes: said before anything is written (the first message).
    const int width = exportWidth(window->state().held.spectralImage->width());
    settings().imageScalePercent = 1000 * JPEG_MAX_SIDE / width + 100;
    EXPECT_TRUE(save(cmd::kSaveEntireImage, IMAGE_FORMAT_JPEG, "huge.jpg").isEmpty());
    EXPECT_EQ(prompts->messages(), std::vector<UserMessage>{kImageTooLargeForJpeg});
    EXPECT_FALSE(QFile::exists(dir.file("huge.jpg")));
}

TEST_F(ImageExportTest, BatchSavesEveryGoodFileAndListsTheOthersAtTheEnd) {
    prompts->queueFiles({tone("only.wav", kRate)});
    window->commands().send(cmd::kAnalyzeBatch);
    EXPECT_EQ(summary().first, "Multiple Files Required");

    const QString bad = write("bad.wav", QByteArray("RIFF not a wave file"));
    for (int run = 0; run < 2; ++run) { // a second run replaces the images
        prompts->queueFiles({tone("a.wav", kRate * 2), bad, tone("c.wav", kRate * 8, 2000.0)});
        prompts->queueDialog(chooseFormat(run == 0 ? IMAGE_FORMAT_BITMAP : IMAGE_FORMAT_JPEG));
        window->commands().send(cmd::kAnalyzeBatch);
        EXPECT_TRUE(window->state().control.batchRunning);
        window->commands().drain();
        EXPECT_FALSE(window->state().control.batchRunning);
        const char* ext = run == 0 ? ".bmp" : ".jpg";
        for (const char* name : {"a", "c"}) {
            EXPECT_GT(TempDir::read(dir.file(QStringLiteral("images/") + name + ext)).size(), 1078)
                << name;
        }
        EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("images/bad") + ext)));
        // c.wav is wider than the view: its analysed columns are saved, nothing beyond, as the
        // window still holds them (its last row is the file's first).
        if (run == 0) {
            ASSERT_GT(window->state().analysis.run.params.columns,
                      window->state().view.layout.plotWidth);
            const QByteArray c = TempDir::read(dir.file("images/c.bmp"));
            const int width =
                exportWidth(static_cast<int>(window->state().analysis.run.params.columns));
            ASSERT_EQ(le32(c, 18), width + legendMargin());
            for (int x = 0; x < width; x += 7) {
                ASSERT_EQ(static_cast<std::uint8_t>(c[1078 + x]),
                          *image().pixel(x, window->state().held.spectralImage->plotHeight() - 1));
            }
        }
        const auto [text, details] = summary();
        EXPECT_EQ(text, "1 of 3 files were not saved.");
        EXPECT_TRUE(details.startsWith(QStringLiteral("bad.wav: ")));
    }

    // An image that cannot be written (a folder stands in its place) is listed with its file,
    // once the batch has waited for it.
    ASSERT_TRUE(QDir().mkpath(dir.file("images/x.bmp/kept")));
    batch({tone("x.wav", kRate), dir.file("a.wav")});
    const QString unwritten = summary().second;
    EXPECT_TRUE(unwritten.startsWith(QStringLiteral("x.wav: ")));
    EXPECT_FALSE(unwritten.contains(QStringLiteral("a.wav")));

    // A slower file first: its band stops at half its rate, the next file's is the one asked
    // for, and both are saved.
    settings().highBandHz = 6000;
    const QString slow =
        write("slow.wav", test::waveFile(8000, 1, 16, 8000, test::sines({1000.0}, 8000)));
    batch({slow, dir.file("a.wav")}); // no message: the next summary is the only one
    EXPECT_TRUE(QFile::exists(dir.file("images/slow.bmp")));
    EXPECT_EQ(settings().highBandHz, 6000);

    // STOP ends the batch: the file it cut short keeps the image it had (its picture is not
    // the file's), and the summary says so, and names the file never analysed.
    ASSERT_TRUE(QDir(dir.file("images")).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(dir.file("images")));
    write("images/a.bmp", "old");
    constexpr int kTick = 99001; // reposts itself until the first file is being drawn
    window->registerCommand(kTick, [this](int) {
        window->state().view.analysisDrawing ? window->commands().send(cmd::kStop)
                                             : window->commands().post(kTick);
    });
    window->commands().post(kTick);
    batch({dir.file("a.wav"), dir.file("c.wav")});
    EXPECT_FALSE(window->state().control.batchRunning);
    EXPECT_EQ(TempDir::read(dir.file("images/a.bmp")), QByteArray("old"));
    EXPECT_FALSE(QFile::exists(dir.file("images/c.bmp")));
    EXPECT_FALSE(window->windowTitle().contains(QStringLiteral(" of ")));
    EXPECT_EQ(summary(),
              std::pair(std::string("2 of 2 files were not saved."),
                        QStringLiteral("a.wav: Stopped before the end of the file: no image saved\n"
                                       "c.wav: not analysed: the batch was stopped")));

    // Hundreds of files refused: one short line, the list behind it.
    QStringList many;
    for (int k = 0; k < 300; ++k) {
        many.push_back(write(QStringLiteral("short%1.wav").arg(k), QByteArray(100, '\0')));
    }
    batch(many);
    const auto [text, details] = summary();
    EXPECT_EQ(text, "300 of 300 files were not saved.");
    const QStringList listed = details.split(QLatin1Char('\n'));
    ASSERT_EQ(listed.size(), 300);
    EXPECT_EQ(listed.back(), QStringLiteral("short299.wav: Sample Size Too Small"));
    EXPECT_TRUE(prompts->unscripted().isEmpty());
}

// A save that fails names the file and the system's reason.
TEST_F(ImageExportTest, AFailedSaveNamesTheFileAndWhy) {
    analyze(tone("sine.wav", kRate * 2));
    ASSERT_TRUE(window->state().held.spectralImage);
    const QString missing = dir.file("no such folder/view.bmp");
    prompts->queueDialog(chooseFormat(IMAGE_FORMAT_BITMAP));
    prompts->queueFile(missing);
    window->commands().send(cmd::kSaveWindowImage);
    EXPECT_EQ(prompts->messages(),
              (std::vector<UserMessage>{
                  {missing.toStdString() + ": Cannot Open File (" + std::strerror(ENOENT) + ")",
                   MessageIcon::Warning}}));
    EXPECT_FALSE(QFile::exists(missing));
}

TEST_F(ImageExportTest, BatchRefusesAFileWhoseImageWouldReplaceAnEarlierOne) {
    const QString first = tone("rec.wav", kRate * 2, 1000.0);
    const QString second = tone("rec.wave", kRate * 2, 3000.0);
    batch({first, second, tone("other.wav", kRate)});
    EXPECT_EQ(summary(),
              std::pair(std::string("1 of 3 files were not saved."),
                        QStringLiteral("rec.wave: not analysed: same image name as rec.wav")));
    EXPECT_TRUE(QFile::exists(dir.file("images/rec.bmp")));
    EXPECT_TRUE(QFile::exists(dir.file("images/other.bmp")));
    EXPECT_EQ(QDir(dir.file("images")).entryList(QDir::Files).size(), 2);
    EXPECT_FALSE(QString::fromStdString(run().file).endsWith(QStringLiteral(".wave")));
}

} // namespace
} // namespace korv
