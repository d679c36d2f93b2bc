// The Sound Level window in the real window offscreen: Scan File of a generated file through
// the simulated output on the virtual clock, Analyze File and the measuring rectangle, each
// against the core's meter (what korvanthile-cli meter runs) on the same file.

#include "app/current_view.h"
#include "app/sound_level_window.h"
#include "display/readouts.h"
#include "modes/sound_level.h"
#include "pipeline/file_samples.h"
#include "support/scan_file_fixture.h"

#include <QAccessible>
#include <QLabel>

namespace korv::test {
namespace {

// A 1 kHz tone that swells and fades, a steady 3 kHz tone and some noise, in 16-bit units.
FrameSignal meterSignal(double rate) {
    return [rate](long i) {
        const double t = static_cast<double>(i) / rate;
        const double swell = 0.55 + 0.45 * std::sin(2.0 * std::numbers::pi * 0.37 * t);
        auto noise = static_cast<std::uint32_t>(i) * 2654435761u;
        noise ^= noise >> 13;
        const double n = (static_cast<double>(noise % 2001) - 1000.0) * 0.8;
        return std::vector<double>{12000.0 * swell * std::sin(2.0 * std::numbers::pi * 1000.0 * t) +
                                   3000.0 * std::sin(2.0 * std::numbers::pi * 3000.0 * t) + n};
    };
}

// The tool's meter over frames [begin, end) of the file's first channel.
std::vector<meter::IntervalLevels> reference(const QString& path, meter::MeterSettings settings,
                                             std::int64_t begin = 0,
                                             std::int64_t end = std::int64_t{1} << 62) {
    FileSamples samples;
    EXPECT_FALSE(samples.open(path.toStdString(), 1));
    settings.sampleRate = samples.sampleRate();
    meter::SoundLevelMeter m(settings);
    std::vector<meter::IntervalLevels> rows;
    const auto sink = [&](const meter::IntervalLevels& l) { rows.push_back(l); };
    std::int64_t at = 0;
    for (auto block = samples.next(); !block.empty(); block = samples.next()) {
        const auto n = static_cast<std::int64_t>(block.size());
        const std::int64_t from = std::clamp<std::int64_t>(begin - at, 0, n);
        const std::int64_t to = std::clamp<std::int64_t>(end - at, 0, n);
        m.feed(block.subspan(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from)),
               sink);
        at += n;
    }
    m.finish(sink);
    return rows;
}

meter::MeterSettings windowSettings(const Preferences& p) {
    meter::MeterSettings s;
    s.weighting = p.meterWeighting;
    s.timeWeighting = p.meterTimeWeighting;
    s.intervalSeconds = p.meterIntervalSeconds;
    s.bands = meter::BandSpec{p.meterBandsPerOctave, 25.0, 20000.0};
    return s;
}

// The number a value label shows ("-12.3 dBFS").
double shown(const SoundLevelWindow& w, const QString& accessibleName) {
    for (const QLabel* l : w.findChildren<QLabel*>()) {
        if (l->accessibleName() == accessibleName && l->isVisibleTo(&w)) {
            return l->text().section(QLatin1Char(' '), 0, 0).toDouble();
        }
    }
    ADD_FAILURE() << "no value named " << accessibleName.toStdString();
    return 0.0;
}

// A value label's text.
QString levelText(const SoundLevelWindow& w, const QString& accessibleName) {
    for (const QLabel* l : w.findChildren<QLabel*>()) {
        if (l->accessibleName() == accessibleName) {
            return l->text();
        }
    }
    return {};
}

// What the window says it measured ("Scan File: scan.wav, 1.2 s").
QString measured(const SoundLevelWindow& w) {
    for (const QLabel* l : w.findChildren<QLabel*>()) {
        if (l->accessibleName() == QStringLiteral("Measured")) {
            return l->text();
        }
    }
    return {};
}

class SoundLevelTest : public ScanFileTest {
  protected:
    SoundLevelWindow& openMeter() {
        QTest::keyClick(window.get(), Qt::Key_F7);
        SoundLevelWindow* w = soundLevelWindow(window.get());
        if (w == nullptr) {
            throw std::runtime_error("F7 opened no Sound Level window");
        }
        return *w;
    }
    void waitForStretch() {
        for (int turn = 0; turn < 1000 && soundLevelMeasuring(*window); ++turn) {
            QCoreApplication::processEvents();
        }
        EXPECT_FALSE(soundLevelMeasuring(*window));
    }
};

TEST_F(SoundLevelTest, ScanFileGivesTheToolsIntervalsAndTheWindowSaysWhatItMeasured) {
    SoundLevelWindow& meterWindow = openMeter();
    EXPECT_EQ(meterWindow.header(), QStringLiteral("LAF, 1/3 octave, 1 s, dBFS (not calibrated)"));
    EXPECT_TRUE(meterWindow.windowTitle().contains(meterWindow.header()));

    // Shown while the scan runs: more than ten times a second of sound, each time the level
    // now and the bands.
    int updates = 0;
    int levelsNow = 0;
    QString last;
    for (std::int64_t ms = 500; ms < 5500; ms += 100) {
        at(clock.currentMs() + ms, [&] {
            const QString text = measured(meterWindow);
            updates += text != last ? 1 : 0;
            levelsNow += shown(meterWindow, QStringLiteral("LAF now")) < 0.0 ? 1 : 0;
            last = text;
        });
    }
    const long frames = kRate * 6 + 1234;
    const QByteArray file = test::waveFile(kRate, 1, 16, frames, meterSignal(kRate));
    scan(file);
    ASSERT_TRUE(lastScanFile(*window).endReached);
    EXPECT_GE(updates, 45) << "the measured time moves on at every look, ten a second";
    EXPECT_EQ(levelsNow, 50);

    const std::vector<meter::IntervalLevels> live = lastSoundLevelIntervals(*window);
    const std::vector<meter::IntervalLevels> tool = reference(
        dir.file(QStringLiteral("scan.wav")), windowSettings(window->state().preferences));
    ASSERT_EQ(tool.size(), 7u);
    ASSERT_EQ(live.size(), tool.size());
    double worst = 0.0;
    for (std::size_t i = 0; i < tool.size(); ++i) {
        ASSERT_EQ(live[i].startFrame, tool[i].startFrame);
        ASSERT_EQ(live[i].endFrame, tool[i].endFrame);
        ASSERT_EQ(live[i].bandLeq.size(), tool[i].bandLeq.size());
        for (const auto& [a, b] : {std::pair{live[i].leq, tool[i].leq},
                                   {live[i].lmax, tool[i].lmax},
                                   {live[i].lmin, tool[i].lmin},
                                   {live[i].lcpeak, tool[i].lcpeak}}) {
            worst = std::max(worst, std::abs(a - b));
        }
        for (std::size_t b = 0; b < tool[i].bandLeq.size(); ++b) {
            worst = std::max(worst, std::abs(live[i].bandLeq[b] - tool[i].bandLeq[b]));
        }
    }
    EXPECT_LT(worst, 0.05);
    std::cout << "Scan File against the tool's meter: largest difference " << worst << " dB\n";

    // Every value has a name a screen reader says, and the bars name their bands.
    EXPECT_EQ(levelText(meterWindow, QStringLiteral("LAF now")), QStringLiteral("—"))
        << "no level now once the sound has ended";
    for (const QString& name : {QStringLiteral("LAeq"), QStringLiteral("LAFmax"),
                                QStringLiteral("LAFmin"), QStringLiteral("LCpeak")}) {
        EXPECT_LT(shown(meterWindow, name), 0.0) << name.toStdString();
    }
    const QWidget* bars = meterWindow.findChild<QWidget*>(QStringLiteral("soundLevelBars"));
    ASSERT_NE(bars, nullptr);
    EXPECT_EQ(bars->accessibleName(), QStringLiteral("Band levels (dBFS)"));
    EXPECT_TRUE(bars->accessibleDescription().contains(QStringLiteral("1000 Hz -")));
    // A typed full-scale level puts every value on dB SPL.
    const double leq = shown(meterWindow, QStringLiteral("LAeq"));
    meterWindow.setFullScale(120.0);
    EXPECT_NEAR(shown(meterWindow, QStringLiteral("LAeq")), leq + 120.0, 0.051);
    EXPECT_TRUE(meterWindow.header().endsWith(QStringLiteral("dB SPL (full scale 120.0 dB)")));
    EXPECT_EQ(bars->accessibleName(), QStringLiteral("Band levels (dB)"));
}

TEST_F(SoundLevelTest, AnalyzedStretchAndTheRectanglesBandLimitedLeq) {
    SoundLevelWindow& meterWindow = openMeter();
    const long frames = kRate * 4;
    // 1 kHz at amplitude 12000 and 3 kHz at 3000 (16-bit units), steady: a sine of amplitude a
    // reads 20 lg(a / 32768) dBFS.
    const QString path = dir.write(
        QStringLiteral("two.wav"), test::waveFile(kRate, 1, 16, frames, [](long i) {
            const double t = static_cast<double>(i) / kRate;
            return std::vector<double>{12000.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * t) +
                                       3000.0 * std::sin(2.0 * std::numbers::pi * 3000.0 * t)};
        }));
    window->state().settings.channel = StereoChannel::Left;
    prompts->queueFile(path);
    QTest::keyClick(window.get(), Qt::Key_F1);
    ASSERT_TRUE(window->state().held.spectralImage);
    waitForStretch();
    meter::MeterSettings whole = windowSettings(window->state().preferences);
    whole.intervalSeconds = 0.0;
    const std::int64_t held = window->state().analysis.run.segmentBytes / 2;
    const std::vector<meter::IntervalLevels> tool = reference(path, whole, 0, held);
    ASSERT_EQ(tool.size(), 1u);
    EXPECT_NEAR(shown(meterWindow, QStringLiteral("LAeq")), tool[0].leq, 0.051);
    EXPECT_NEAR(shown(meterWindow, QStringLiteral("LAFmax")), tool[0].lmax, 0.051);

    // A rectangle over 0.5 .. 1.5 kHz holds the 1 kHz tone alone.
    const AppState& s = window->state();
    const ViewGeometry g = currentViewGeometry(s);
    int yLow = -1;
    int yHigh = -1;
    for (int y = g.plotHeight - 1; y > s.analysis.run.stripHeight; --y) {
        const std::optional<long> hz = rowFrequencyHz(g, y);
        if (hz && *hz >= 600 && yLow < 0) {
            yLow = y;
        }
        if (hz && *hz <= 1500) {
            yHigh = y;
        }
    }
    ASSERT_GT(yLow, yHigh);
    const int x0 = 40;
    const int x1 = std::min(g.plotWidth - 10, 400);
    test::sendMouse(*window, QEvent::MouseButtonPress, {x0, yLow}, Qt::RightButton);
    test::sendMouse(*window, QEvent::MouseMove, {x1, yHigh}, Qt::RightButton);
    test::sendMouse(*window, QEvent::MouseButtonRelease, {x1, yHigh}, Qt::RightButton);
    waitForStretch();
    const double toneDb = 20.0 * std::log10(12000.0 / 32768.0);
    const QLabel* limited = nullptr;
    for (const QLabel* l : meterWindow.findChildren<QLabel*>()) {
        if (l->accessibleName().startsWith(QStringLiteral("LZeq ")) &&
            l->isVisibleTo(&meterWindow)) {
            limited = l;
        }
    }
    ASSERT_NE(limited, nullptr) << "the band-limited Leq is shown with its span";
    EXPECT_NEAR(limited->text().section(QLatin1Char(' '), 0, 0).toDouble(), toneDb, 0.3);
    // The whole rectangle's A-weighted Leq has both tones, on the tool's numbers for its span.
    const DragSegment span = dragSegment(viewXToColumn(x0, g.plotWidth, g.dualStereo),
                                         viewXToColumn(x1, g.plotWidth, g.dualStereo), g.hScrollPos,
                                         s.analysis.run.params.hop, s.analysis.run.format);
    meter::MeterSettings rect = whole;
    rect.bands = meter::BandSpec{3, static_cast<double>(*rowFrequencyHz(g, yLow)),
                                 static_cast<double>(*rowFrequencyHz(g, yHigh))};
    const std::vector<meter::IntervalLevels> part =
        reference(path, rect, span.beginFrame, span.endFrame);
    ASSERT_EQ(part.size(), 1u);
    EXPECT_NEAR(shown(meterWindow, QStringLiteral("LAeq")), part[0].leq, 0.051);
    EXPECT_GT(part[0].leq, toneDb);
}

// The bars are labelled with the standard's nominal mid-band frequencies, as the tool's
// columns are, not with the exact base-ten ones rounded (7943 Hz is "8k", 3162 Hz "3.15k").
std::string barLabels(const meter::BandSpec& spec) {
    QStringList labels;
    for (const meter::Band& b : meter::bandsOf(spec, 48000.0)) {
        labels << bandAxisLabel(b);
    }
    return labels.join(QLatin1Char(' ')).toStdString();
}

TEST(SoundLevelBars, ThirdOctaveAndOctaveBarsCarryTheNominalFrequencies) {
    EXPECT_EQ(barLabels(meter::BandSpec{3, 25.0, 20000.0}),
              "25 31.5 40 50 63 80 100 125 160 200 250 315 400 500 630 800 1k 1.25k 1.6k 2k "
              "2.5k 3.15k 4k 5k 6.3k 8k 10k 12.5k 16k 20k");
    EXPECT_EQ(barLabels(meter::BandSpec{1, 31.5, 16000.0}), "31.5 63 125 250 500 1k 2k 4k 8k 16k");
}

} // namespace
} // namespace korv::test
