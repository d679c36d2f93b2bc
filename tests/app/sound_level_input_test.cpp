// The Sound Level window on Scan Input: a file's samples as the simulated input's captured
// sound on the virtual clock, the window's intervals and its monitoring log against the core's
// meter (what korvanthile-cli meter runs) on the same file, on the input's stored calibration.

#include "app/sound_level_window.h"
#include "modes/sound_level.h"
#include "output/meter_table.h"
#include "pipeline/file_samples.h"
#include "support/meter_reference.h"
#include "support/scan_input_fixture.h"
#include "support/test_signals.h"

#include <QLabel>
#include <QPushButton>

namespace korv::test {
namespace {

constexpr double kFullScaleDb = 120.0;

// Noise under a tone that steps up by 6 dB a second, in 16-bit units.
FrameSignal steppedSignal() {
    return [](long i) {
        const double t = static_cast<double>(i) / kRate;
        const double a = 1500.0 * std::pow(2.0, std::floor(t) / 1.0 * 0.5);
        auto noise = static_cast<std::uint32_t>(i) * 2246822519u;
        noise ^= noise >> 15;
        const double n = (static_cast<double>(noise % 1001) - 500.0);
        return std::vector<double>{a * std::sin(2.0 * std::numbers::pi * 700.0 * t) + n};
    };
}

std::vector<meter::IntervalLevels> reference(const QString& path, const Preferences& p) {
    FileSamples samples;
    EXPECT_FALSE(samples.open(path.toStdString(), 1));
    meter::SoundLevelMeter m(test::referenceMeterSettings(p, samples.sampleRate()));
    std::vector<meter::IntervalLevels> rows;
    const auto sink = [&](const meter::IntervalLevels& l) { rows.push_back(l); };
    for (auto block = samples.next(); !block.empty(); block = samples.next()) {
        m.feed(block, sink);
    }
    m.finish(sink);
    return rows;
}

// The rows of a CSV file, header first, each split at its commas.
std::vector<QStringList> csvRows(const QString& path) {
    std::vector<QStringList> rows;
    for (const QString& line : QString::fromUtf8(TempDir::read(path)).split(QLatin1Char('\n'))) {
        if (!line.isEmpty()) {
            rows.push_back(line.split(QLatin1Char(',')));
        }
    }
    return rows;
}

TEST_F(ScanInputTest, TheWindowAndItsSyncedLogGiveTheToolsIntervalsOnTheStoredCalibration) {
    const long frames = kRate * 12;
    const QByteArray file = test::waveFile(kRate, 1, 16, frames, steppedSignal());
    const QString wave = dir.write(QStringLiteral("captured.wav"), file);
    const std::vector<std::uint8_t> pcm(file.begin() + 44, file.end());
    signal = [pcm](SimulatedSoundInput& in) { in.setBytes(pcm); };
    Preferences& prefs = window->state().preferences;
    prefs.meterIntervalSeconds = 0.5;
    rememberCalibration(prefs,
                        {SimulatedSoundInput::kDefaultName, kFullScaleDb, "2026-12-09T10:15:00"});

    QTest::keyClick(window.get(), Qt::Key_F7);
    SoundLevelWindow* meterWindow = soundLevelWindow(window.get());
    ASSERT_NE(meterWindow, nullptr);
    EXPECT_TRUE(meterWindow->header().endsWith(QStringLiteral("dBFS (not calibrated)")));
    QPushButton* log = nullptr;
    for (QPushButton* b : meterWindow->findChildren<QPushButton*>()) {
        log = b->accessibleName() == QStringLiteral("Log to File") ? b : log;
    }
    ASSERT_NE(log, nullptr);
    const QString logPath = dir.file(QStringLiteral("monitor.meter.csv"));
    prompts->queueFile(logPath);
    log->click();
    EXPECT_TRUE(log->isChecked());

    // While the run goes on, each interval's row is in the file as soon as it has ended.
    std::vector<std::size_t> rowsOnDisk;
    for (const std::int64_t ms : {2600, 4600, 6600}) {
        at(clock.currentMs() + ms, [&] { rowsOnDisk.push_back(csvRows(logPath).size() - 1); });
    }
    run(clock.currentMs() + 8000);
    expectIdle();
    EXPECT_TRUE(meterWindow->header().endsWith(QStringLiteral("dB SPL (full scale 120.0 dB)")));
    ASSERT_EQ(rowsOnDisk.size(), 3u);
    // 0.5 s rows, the display delay and the peak's few frames of look-ahead behind.
    EXPECT_GE(rowsOnDisk[0], 4u);
    EXPECT_GE(rowsOnDisk[1], rowsOnDisk[0] + 3);
    EXPECT_GE(rowsOnDisk[2], rowsOnDisk[1] + 3);
    EXPECT_FALSE(log->isChecked()) << "the log ends with the run";

    const std::vector<meter::IntervalLevels> tool = reference(wave, prefs);
    const std::vector<meter::IntervalLevels> live = lastSoundLevelIntervals(*window);
    ASSERT_GE(live.size(), 14u);
    std::size_t compared = 0;
    double worst = 0.0;
    for (const meter::IntervalLevels& l : live) {
        const auto same = std::find_if(tool.begin(), tool.end(), [&](const auto& t) {
            return t.startFrame == l.startFrame && t.endFrame == l.endFrame;
        });
        if (same == tool.end()) {
            EXPECT_EQ(&l, &live.back()) << "only the row STOP cut short has no twin";
            continue;
        }
        ++compared;
        for (const auto& [a, b] : {std::pair{l.leq, same->leq},
                                   {l.lmax, same->lmax},
                                   {l.lmin, same->lmin},
                                   {l.lcpeak, same->lcpeak}}) {
            worst = std::max(worst, std::abs(a - b));
        }
        for (std::size_t b = 0; b < l.bandLeq.size(); ++b) {
            worst = std::max(worst, std::abs(l.bandLeq[b] - same->bandLeq[b]));
        }
    }
    EXPECT_GE(compared, live.size() - 1);
    EXPECT_LT(worst, 0.05);
    std::cout << "Scan Input against the tool's meter: " << compared
              << " intervals, largest difference " << worst << " dB\n";

    // The log is the tool's table: its header, then every row of the run on the calibrated
    // scale, the tool's levels + 120 dB.
    const std::vector<QStringList> logged = csvRows(logPath);
    MeterTableNames names;
    names.fullScale = meter::FullScaleLevel{kFullScaleDb};
    const std::string header =
        meterTableHeader(names, meter::bandsOf(meter::BandSpec{3, 25.0, 20000.0}, kRate));
    ASSERT_EQ(logged.size(), live.size() + 1);
    EXPECT_EQ(logged[0].join(QLatin1Char(',')).toStdString() + "\n", header);
    for (std::size_t r = 0; r + 1 < live.size(); ++r) {
        const QStringList& row = logged[r + 1];
        ASSERT_EQ(static_cast<std::size_t>(row.size()), 6 + live[r].bandLeq.size());
        EXPECT_NEAR(row[0].toDouble() * kRate, static_cast<double>(live[r].startFrame), 0.5);
        EXPECT_NEAR(row[2].toDouble(), tool[r].leq + kFullScaleDb, 0.0051);
        EXPECT_NEAR(row[3].toDouble(), tool[r].lmax + kFullScaleDb, 0.0051);
        EXPECT_NEAR(row[5].toDouble(), tool[r].lcpeak + kFullScaleDb, 0.0051);
    }
}

} // namespace
} // namespace korv::test
