// korvanthile-cli's analysis: the level table as log and CSV, the third-octave bands of known
// signals, the reducing option and the band limit, and the scheduling of files by their need.

#include "cli/cli_support.h"

namespace korv::cli {
namespace {

// A tone on bin k of N = 16384 points (k x rate / N, about 100 Hz) starting at exactly
// 1.000 s: each line of the level table names its bin's centre and holds that bin's own
// level, on the Linear and the Log scale alike, and the column times are the windows'
// centres, so the tone is logged at half its steady level (-6 dB, half the window on it)
// where it begins. The CSV holds the log's numbers, one row per column.
TEST_F(CliTest, LevelsHoldEachBinsOwnLevelAtTheWindowsCentreTime) {
    constexpr int kN = 16384;
    constexpr int kBin = 37;
    const double hz = kBin * static_cast<double>(kRate) / kN;
    std::vector<double> samples(kRate, 0.0);
    const std::vector<double> tone = sine(hz, 2.0);
    samples.insert(samples.end(), tone.begin(), tone.end());
    const std::string file = wave("onset.wav", mono16(samples));
    // The sine's level in its bin, with the default gain of 9 dB.
    const double steadyDb = sineBinLevelDb(16000.0, 9.0);
    for (const FrequencyScale scale : {FrequencyScale::Linear, FrequencyScale::Log}) {
        SCOPED_TRACE(static_cast<int>(scale));
        RunSettings run = defaults();
        zeroCalibrationCurve(run.settings.calibrationTable);
        run.settings.log2FftSize = offeredLog2FftSize(MAX_LOG2_FFT_SIZE);
        run.settings.timeScaleMsec = 5.0f;
        run.settings.frequencyScale = scale;
        run.settings.lowBandHz = 50;
        run.settings.highBandHz = 500;
        for (const char* line : {"levels x.wav", "levels x.wav --csv"}) {
            ASSERT_EQ(processFile(parsed(line), run, file, kMemory), std::nullopt);
        }
        const std::vector<LogBlock> blocks = logBlocks(dir.file("onset.txt"));
        const auto csv = csvRows(dir.file("onset.levels.csv"));
        ASSERT_EQ(blocks.size(), planWholeFile(file, run.settings).params.columns);
        ASSERT_EQ(csv.size(), blocks.size() + 1);
        ASSERT_EQ(csv[0].size(), blocks[0].lines.size() + 1);
        EXPECT_EQ(csv[0][0], "time_ms");
        EXPECT_THAT(csv[0][1], HasSubstr("_Hz_dB")); // the unit in the header
        double onsetMsec = -1.0;
        for (std::size_t x = 0; x < blocks.size(); ++x) {
            const long time = std::stol(blocks[x].time);
            std::vector<std::string> row{blocks[x].time}; // time, then every bin's level
            for (const auto& line : blocks[x].lines) {
                const long point = std::stol(line.at(0));
                const double db = std::stod(line.at(2));
                row.push_back(line[2]);
                ASSERT_NEAR(std::stod(line[1]), static_cast<double>(point) * kRate / kN, 0.005);
                // Steady: the tone's own line at the sine's level, lines 3 bins off far below.
                if (time > 2000 && point == kBin) {
                    EXPECT_NEAR(db, steadyDb, 0.3) << time;
                } else if (time > 2000 && std::abs(point - kBin) >= 3) {
                    EXPECT_LT(db, steadyDb - 30.0) << point << " at " << time;
                }
                if (point == kBin && onsetMsec < 0.0 && db >= steadyDb - 6.02) {
                    onsetMsec = static_cast<double>(time);
                }
            }
            ASSERT_EQ(csv[x + 1], row) << x;
        }
        EXPECT_GT(blocks.size(), 400u);
        EXPECT_NEAR(onsetMsec, 1000.0, 6.0);
        // The tone is the loudest bin, named by its frequency in the header.
        EXPECT_NEAR(std::stod(csv[0][loudestOf(csv.back()).first]), hz, 0.01);
    }
}

// A long 24-bit stereo file, silent but for a sine on bin 23 of the 1024-point transform in
// its last two seconds, within memory for its picture but not for its samples: read a window
// at a time to its end, the last column where the file's length puts it and the sine at its
// exact level. A FLAC whose header claims more samples than it holds says so, writing nothing.
TEST_F(CliTest, LongFilesAreReadToTheirEndInBoundedMemory) {
    constexpr std::uint32_t kLongRate = 48000;
    constexpr std::size_t kSeconds = 40;
    constexpr double kAmplitude = 8192.0; // in 16-bit units: -12 dBFS
    const double hz = 23.0 * kLongRate / 1024.0;
    Bytes samples(kSeconds * kLongRate * 2 * 3, 0);
    for (std::size_t i = (kSeconds - 2) * kLongRate; i < kSeconds * kLongRate; ++i) {
        const double t = static_cast<double>(i) / kLongRate;
        const auto v = static_cast<std::int32_t>(
            std::lround(256.0 * kAmplitude * std::sin(2.0 * std::numbers::pi * hz * t)));
        for (std::size_t b = 0; b < 6; ++b) {
            samples[6 * i + b] = static_cast<std::uint8_t>(v >> (8 * (b % 3)));
        }
    }
    const std::string file = wave("long.wav", test::pcmWaveFile(16, 2, kLongRate, 24, samples));
    RunSettings run = defaults();
    run.settings.timeScaleMsec = 500.0f;
    const Options o = parsed("levels x.wav --csv");
    const WholeFilePlan plan = planWholeFile(file, run.settings);
    ASSERT_FALSE(plan.failure);
    // The samples alone (16-bit and their exact values) are over twice what the run may take.
    const std::int64_t memory = wholeFileMemory(plan, o.layout);
    ASSERT_GT(plan.segmentBytes * 3, 2 * memory);
    const auto rows = table(o, run, file, "long.levels.csv", memory);
    // A column for every whole step of the file past the first frame, to the last one, each
    // at its window's centre.
    const std::size_t columns = (kSeconds * kLongRate - 1024) / (kLongRate / 2);
    ASSERT_EQ(rows.size() - 1, columns);
    const double centreMsec = 512.0 * 1000.0 / kLongRate;
    EXPECT_NEAR(std::stod(rows.back()[0]), static_cast<double>(columns - 1) * 500.0 + centreMsec,
                1.0);
    const auto [column, level] = loudestOf(rows.back());
    EXPECT_NEAR(std::stod(rows[0][column]), hz, 0.01);
    EXPECT_NEAR(level, sineBinLevelDb(kAmplitude, 9.0), 0.3);
    EXPECT_LT(loudestOf(rows[rows.size() - 6]).second, level - 60.0); // silence before it

    // A FLAC whose total promises 2^32 samples more is read as the frames it holds.
    const std::string flac = dir.file("lying.flac");
    ASSERT_TRUE(test::writeSound(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 8000, 1, 80000, 0.25));
    const auto truthful = table(o, run, flac, "lying.levels.csv");
    Bytes f = test::readFile(flac);
    f.at(21) = static_cast<std::uint8_t>(f.at(21) | 0x01); // the 36-bit total, + 2^32
    test::writeFile(flac, f);
    EXPECT_EQ(table(o, run, flac, "lying.levels.csv"), truthful);

    // 70 000 columns are too wide for a JPEG: said at once, before the picture is even sized
    // against the memory (a byte here), with the way out.
    const std::string wide = wave("wide.wav", mono16(sine(500.0, 70.0)));
    RunSettings fine = defaults();
    fine.settings.timeScaleMsec = 1.0f;
    const auto refused = processFile(parsed("image x.wav --format jpg"), fine, wide, 1);
    EXPECT_THAT(refused.value_or(""),
                AllOf(HasSubstr("too large for a JPEG file"), HasSubstr("larger time scale")));
}

// Per band, the mean of its levels over the steps.
std::map<double, double> meanBandLevels(const std::vector<std::vector<std::string>>& rows) {
    std::map<double, double> mean;
    for (std::size_t c = 1; c < rows[0].size(); ++c) {
        double sum = 0.0;
        for (std::size_t r = 1; r < rows.size(); ++r) {
            sum += std::stod(rows[r][c]);
        }
        mean[std::stod(rows[0][c])] = sum / static_cast<double>(rows.size() - 1);
    }
    return mean;
}

// Pink noise, a quieter one and a sine: the bands are summed powers on the window's scale.
// Silence reads the floor; --low, --high and --average are honoured.
TEST_F(CliTest, BandsAreSummedPowersOnTheWindowsScaleAndTheirOptionsAreHonoured) {
    // The command's own defaults, the settings' otherwise (no settings file here).
    const Options o = parsed("bands x.wav --csv --gain 0");
    RunSettings run = resolved(o);
    zeroCalibrationCurve(run.settings.calibrationTable);
    const std::string noise = wave("pink.wav", mono16(pinkNoise(8.0)));
    const auto pink = table(o, run, noise, "pink.bands.csv");
    // 40 dB quieter: whole-number magnitudes lost the top bands' energy here.
    const auto quiet =
        table(o, run, wave("quiet.wav", mono16(pinkNoise(8.0, 15.0))), "quiet.bands.csv");
    constexpr double kAmplitude = 16384.0; // -6 dBFS
    const auto tone =
        table(o, run, wave("sine.wav", mono16(sine(1000.0, 3.0, kAmplitude))), "sine.bands.csv");
    ASSERT_GT(pink.size(), 20u);
    EXPECT_EQ(pink[0][0], "time_ms");
    EXPECT_EQ(pink[0][1], "100_Hz_dB"); // every column names its unit
    const std::map<double, double> loud = meanBandLevels(pink);
    const std::map<double, double> soft = meanBandLevels(quiet);
    const double reference = loud.at(1000.0);
    for (const auto& [hz, level] : loud) {
        if (hz >= 125.0 && hz <= 12589.0) {
            EXPECT_NEAR(level, reference, 2.0) << hz; // pink: even per third octave
            EXPECT_NEAR(soft.at(hz), level + 20.0 * std::log10(15.0 / 1500.0), 0.3) << hz;
        }
    }
    // The sine's band holds its power, everything else is far below it.
    for (std::size_t r = 1; r < tone.size(); ++r) {
        const auto [column, level] = loudestOf(tone[r]);
        ASSERT_EQ(tone[0][column], "1000_Hz_dB") << r;
        EXPECT_NEAR(level, sineBandLevelDb(kAmplitude, 0.0), 0.05) << r;
    }
    // A microphone curve of a flat +6 dB raises the bands by 6 dB, the stored gain of the
    // settings (+9 dB, as the colour dialog shows it) by 9 more.
    const std::string mic = dir.file("mic.txt");
    std::ofstream(mic) << "20 6\n20000 6\n";
    std::filesystem::create_directory(dir.file("cal"));
    const Options curve = parsed("bands x.wav --calibration " + mic + " --out " + dir.file("cal"));
    const auto raised = table(curve, resolved(curve), dir.file("sine.wav"), "cal/sine.bands.csv");
    ASSERT_EQ(raised.size(), tone.size());
    EXPECT_NEAR(loudestOf(raised[1]).second, sineBandLevelDb(kAmplitude, 6.0 + 9.0), 0.05);

    // Silence under the default curve (+1 to +3 dB at the top): the floor, not the curve.
    const Options plain = parsed("bands x.wav");
    const auto silent =
        table(plain, resolved(plain), wave("silence.wav", mono16(std::vector<double>(kRate * 2))),
              "silence.bands.csv");
    for (std::size_t r = 1; r < silent.size(); ++r) {
        for (std::size_t c = 1; c < silent[r].size(); ++c) {
            ASSERT_EQ(std::stod(silent[r][c]), kBandFloorDb) << silent[0][c];
        }
    }
    // --low and --high keep the bands whose centre lies within them; --average: each step
    // the mean power of itself and the steps before it.
    const Options band = parsed("bands x.wav --low 500 --high 2000");
    const auto some = table(band, resolved(band), noise, "pink.bands.csv");
    EXPECT_EQ(some[0],
              (std::vector<std::string>{"time_ms", "501_Hz_dB", "631_Hz_dB", "794_Hz_dB",
                                        "1000_Hz_dB", "1259_Hz_dB", "1585_Hz_dB", "1995_Hz_dB"}));
    std::filesystem::create_directory(dir.file("avg"));
    const Options averaged =
        parsed("bands x.wav --low 500 --high 2000 --average 4 --out " + dir.file("avg"));
    const auto mean = table(averaged, resolved(averaged), noise, "avg/pink.bands.csv");
    ASSERT_EQ(mean.size(), some.size());
    for (std::size_t r = 1; r < some.size(); ++r) {
        EXPECT_EQ(mean[r][0], some[r][0]);
        for (std::size_t c = 1; c < some[r].size(); ++c) {
            double power = 0.0;
            const std::size_t first = r >= 4 ? r - 3 : 1;
            for (std::size_t k = first; k <= r; ++k) {
                power += std::pow(10.0, std::stod(some[k][c]) / 10.0);
            }
            const double expectedDb = 10.0 * std::log10(power / static_cast<double>(r - first + 1));
            ASSERT_NEAR(std::stod(mean[r][c]), expectedDb, 0.02) << r << " " << c;
        }
    }

    // Bands reach half the rate: a bat's 40 kHz call in a 384 kHz file is in the 40 kHz band
    // (centre 1000 x 2^(16/3) Hz), the table ending at the 160 kHz band (1000 x 2^(22/3)), the
    // last whose centre lies within 192 kHz; 44.1 and 48 kHz files end at the 20 kHz band.
    const auto centreOf = [](int n) { return 1000.0 * std::pow(2.0, n / 3.0); };
    for (const auto& [rate, hz, lastN] :
         {std::tuple{384000U, 40000.0, 22}, std::tuple{48000U, 1000.0, 13},
          std::tuple{44100U, 1000.0, 13}}) {
        const std::string name = "tone" + std::to_string(rate);
        const std::string file = wave(name + ".wav", mono16(sine(hz, 1.0, 16000.0, rate), rate));
        const auto rows = table(o, run, file, name + ".bands.csv");
        ASSERT_GT(rows.size(), 2u);
        const auto [column, level] = loudestOf(rows[rows.size() / 2]);
        EXPECT_NEAR(std::stod(rows[0][column]), hz, 0.025 * hz) << rate;
        EXPECT_NEAR(std::stod(rows[0].back()), centreOf(lastN), 0.025 * centreOf(lastN)) << rate;
    }
}

// A 0.15 s beep of 3 kHz (bin 64 of 1024 points at 48 kHz) in silence, at 500 msec a column:
// one frame from each step's start misses it; --reduce max keeps every bin's largest level
// over the step, so the beep's column reads the sine's level. The colour dialog's "Gain (dB)"
// has its sign: -9 shows every level 9 dB lower.
TEST_F(CliTest, ReduceMaxKeepsABeepShorterThanTheStepAtTheGainsLevel) {
    constexpr std::uint32_t kBeepRate = 48000;
    constexpr double kAmplitude = 16384.0;
    std::vector<double> beep = sine(3000.0, 3.0, kAmplitude, kBeepRate);
    for (std::size_t i = 0; i < beep.size(); ++i) {
        const double t = static_cast<double>(i) / kBeepRate;
        beep[i] = t >= 1.2 && t < 1.35 ? beep[i] : 0.0;
    }
    const std::string file = wave("beep.wav", mono16(beep, kBeepRate));
    for (const std::string reduce : {"frame", "max"}) {
        SCOPED_TRACE(reduce);
        const Options o = parsed("levels x.wav --csv --gain -9 --time-step 500 --reduce " + reduce);
        RunSettings run = resolved(o);
        zeroCalibrationCurve(run.settings.calibrationTable);
        const auto rows = table(o, run, file, "beep.levels.csv");
        ASSERT_GE(rows.size(), 6u); // the header and a column every half second
        // The loudest value of the whole table, after the header.
        const auto loudest =
            std::ranges::max(rows | std::views::drop(1) | std::views::transform(loudestOf), {},
                             &std::pair<std::size_t, double>::second);
        if (reduce == "max") {
            EXPECT_EQ(std::stod(rows[0][loudest.first]), 3000.0);
            EXPECT_NEAR(loudest.second, sineBinLevelDb(kAmplitude, -9.0), 0.5);
        } else {
            EXPECT_LT(loudest.second, sineBinLevelDb(kAmplitude, -9.0) - 40.0);
        }
    }
}

// Without a settings file nothing is corrected: tones at 13 Hz and 20 kHz read their own
// level, as one at 1 kHz does.
TEST_F(CliTest, TheDefaultsCorrectNoFrequency) {
    constexpr int kN = 16384;
    constexpr double kAmplitude = 8000.0;
    std::vector<double> samples(static_cast<std::size_t>(kRate), 0.0);
    for (const int bin : {5, 372, 7430}) { // 13.5 Hz, 1001 Hz, 19999 Hz
        const std::vector<double> tone =
            sine(bin * static_cast<double>(kRate) / kN, 1.0, kAmplitude);
        std::transform(samples.begin(), samples.end(), tone.begin(), samples.begin(),
                       std::plus<>());
    }
    const std::string file = wave("flat.wav", mono16(samples));
    RunSettings run = defaults();
    run.settings.log2FftSize = offeredLog2FftSize(MAX_LOG2_FFT_SIZE);
    run.settings.highBandHz = kRate / 2;
    ASSERT_EQ(processFile(parsed("levels x.wav"), run, file, kMemory), std::nullopt);
    const std::vector<LogBlock> blocks = logBlocks(dir.file("flat.txt"));
    ASSERT_FALSE(blocks.empty());
    const LogBlock& middle = blocks[blocks.size() / 2];
    int found = 0;
    for (const auto& line : middle.lines) {
        const long point = std::stol(line.at(0));
        if (point == 5 || point == 372 || point == 7430) {
            EXPECT_NEAR(std::stod(line.at(2)), sineBinLevelDb(kAmplitude, 9.0), 0.3) << point;
            ++found;
        }
    }
    EXPECT_EQ(found, 3);
}

TEST_F(CliTest, TheHighLimitStopsAtHalfTheRate) {
    // 8 kHz noise under the default 0 .. 6000 Hz: the picture's top rows are the file's top
    // bins, not the last bin repeated, and the tool says so.
    const std::string slow = wave("slow.wav", mono16(pinkNoise(16000.0 / kRate), 8000));
    std::vector<std::string> notes;
    ASSERT_EQ(processFile(parsed("image x.wav --format bmp"), defaults(), slow, kMemory, &notes),
              std::nullopt);
    EXPECT_EQ(notes,
              std::vector<std::string>{"Highest Frequency Limited to 1/2 Sampling Rate (4000 Hz)"});
    const Bytes bmp = test::readFile(dir.file("slow.bmp"));
    const auto width = static_cast<std::size_t>(test::le32At(bmp, 18));
    const auto height = static_cast<std::size_t>(test::le32At(bmp, 22));
    const auto row = [&](std::size_t y) { return bmp.begin() + 1078 + (height - 1 - y) * width; };
    const std::size_t differing = std::inner_product(row(30), row(30) + width, row(60), 0u,
                                                     std::plus<>(), std::not_equal_to<>());
    EXPECT_GT(differing, width / 2);
}

// A bat recording at 384 kHz, a call at 40 kHz: without --high the picture reaches half the
// file's rate and shows it, with no note, from a --low above the settings' own high limit too;
// --high 6000 cuts nothing and shows none of it.
TEST_F(CliTest, WithoutAHighLimitTheBandReachesHalfTheFilesRate) {
    constexpr std::uint32_t kBatRate = 384000;
    const std::string bat =
        wave("bat.wav", mono16(sine(40000.0, 0.5, 16000.0, kBatRate), kBatRate));
    const auto litRows = [&](const std::string& line, std::vector<std::string>& notes) {
        const Options o = parsed(line);
        const RunSettings run = resolved(o);
        EXPECT_EQ(processFile(o, run, bat, kMemory, &notes), std::nullopt) << line;
        const Bytes bmp = test::readFile(dir.file("bat.bmp"));
        const auto width = static_cast<std::size_t>(test::le32At(bmp, 18));
        const auto height = static_cast<std::size_t>(test::le32At(bmp, 22));
        std::size_t lit = 0;
        for (std::size_t y = 0; y < height; ++y) {
            const auto row = bmp.begin() + 1078 + static_cast<std::ptrdiff_t>(y * width);
            lit += std::count_if(row + static_cast<std::ptrdiff_t>(width / 4),
                                 row + static_cast<std::ptrdiff_t>(width / 2),
                                 [](std::uint8_t i) { return i > kBackgroundIndex; }) >
                           static_cast<long>(width / 8)
                       ? 1
                       : 0;
        }
        return lit;
    };
    std::vector<std::string> notes;
    EXPECT_GT(litRows("image x.wav --format bmp", notes), 0u);
    EXPECT_TRUE(notes.empty());
    EXPECT_GT(litRows("image x.wav --format bmp --low 30000", notes), 0u);
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(litRows("image x.wav --format bmp --high 6000", notes), 0u);
    EXPECT_TRUE(notes.empty());
}

// Each file of a job is opened, its header read and planned once, as the tool's main runs
// it: the memory it needs and its output come from the one plan, whatever the command.
TEST_F(CliTest, EachFileIsOpenedOncePerJob) {
    const std::vector<std::string> files{
        wave("mono.wav", mono16(sine(1000.0, 1.0))),
        wave("stereo.wav",
             test::pcmWaveFile(16, 2, kRate, 16, test::sineSamples(kRate, 2, 16, kRate)))};
    for (const char* line : {"image x.wav", "image x.wav --format jpg", "levels x.wav",
                             "levels x.wav --csv --unit dbfs", "bands x.wav --high 5000"}) {
        const Options o = parsed(line);
        const RunSettings run = resolved(o);
        std::ostringstream errors;
        const std::uint64_t before = soundFileOpens();
        const JobsReport report = runJobs(
            files, 1, kMemory, [&](const std::string& f) { return planFileJob(o, run, f); },
            nullptr, errors);
        EXPECT_EQ(soundFileOpens() - before, files.size()) << line;
        EXPECT_EQ(std::pair(report.done, report.failed), std::pair(files.size(), std::size_t{0}))
            << line << ": " << errors.str();
    }
}

// 100 bytes for four jobs: "big" needs more than a quarter of them but fits alone, so it
// waits for the memory and runs; "huge" cannot fit at all and is refused in the work's words.
TEST(CliJobs, EachFileRunsWhenItsOwnNeedFitsBesideTheOthers) {
    const std::map<std::string, std::int64_t> needs{
        {"a", 30}, {"big", 80}, {"b", 30}, {"c", 30}, {"huge", 150}};
    std::mutex mutex;
    std::int64_t held = 0;
    std::int64_t most = 0;
    const auto work = [&](const std::string& file, const JobShare& share,
                          std::vector<std::string>&) -> std::optional<std::string> {
        const std::int64_t need = needs.at(file);
        if (need > share.memoryBytes) {
            return "Not enough memory";
        }
        {
            const std::lock_guard lock(mutex);
            most = std::max(most, held += need);
        }
        std::this_thread::yield(); // the others may run meanwhile, within the memory
        const std::lock_guard lock(mutex);
        held -= need;
        return std::nullopt;
    };
    std::ostringstream errors;
    const FilePlanner plan = [&](const std::string& file) {
        return FileJob{needs.at(file),
                       [&work, file](const JobShare& share, std::vector<std::string>& notes) {
                           return work(file, share, notes);
                       }};
    };
    const JobsReport r = runJobs({"a", "big", "b", "c", "huge"}, 4, 100, plan, nullptr, errors);
    EXPECT_EQ(r.done, 5u);
    EXPECT_EQ(r.failed, 1u);
    EXPECT_EQ(errors.str(), "huge: Not enough memory\n");
    EXPECT_LE(most, 100);
}

TEST(CliProgress, SaysFilesRateAndTimeLeft) {
    EXPECT_EQ(progressLine(0, 10, 0.0), "0/10 files");
    EXPECT_EQ(progressLine(4, 10, 2.0), "4/10 files, 2.0 files/s, 3 s left");
    // A file half done counts half: 2.5 of 10 in 4 s leaves 7.5 for 12 s.
    EXPECT_EQ(progressLine(2, 10, 4.0, {{"/data/rec.wav", 0.5}}),
              "2/10 files, rec.wav 50 %, 0.5 files/s, 12 s left");
    EXPECT_EQ(progressLine(0, 2, 30.0, {{"a.wav", 0.25}, {"b.wav", 0.05}}),
              "0/2 files, a.wav 25 % (+1 running), 2:50 left");
    // Before a hundredth of the work no guess.
    EXPECT_EQ(progressLine(0, 1, 1.0, {{"long.wav", 0.005}}), "0/1 files, long.wav 0 %");
    EXPECT_EQ(timeLeftText(3725.0), "1:02:05");
    EXPECT_EQ(timeLeftText(59.2), "1:00");
}

} // namespace
} // namespace korv::cli
