// korvanthile-cli: Korvanthile's analyses of sound files without a window, display or sound
// device, for servers and batch runs.

#include "cli/cli_grid.h"
#include "cli/cli_inputs.h"
#include "cli/cli_jobs.h"
#include "cli/cli_meter.h"
#include "cli/cli_options.h"
#include "cli/cli_outputs.h"
#include "display/memory_budget.h"

#include <unistd.h>

#include <filesystem>
#include <iostream>

int main(int argc, char** argv) {
    using namespace korv::cli;
    const Parsed parsed = parseCommandLine(argc, argv);
    if (!parsed.options) {
        return parsed.exitStatus;
    }
    const Options& options = *parsed.options;
    // Held before the list is read: a run waiting for its names holds its summary too.
    SummaryLock summaryLock;
    if (const std::string refused = summaryLock.take(options.meter.summaryFile); !refused.empty()) {
        std::cerr << "korvanthile-cli: " << refused << '\n';
        return EXIT_USAGE;
    }
    std::string error;
    std::vector<std::string> files = expandFileList(options, error);
    if (!error.empty()) {
        std::cerr << "korvanthile-cli: " << error << '\n';
        return EXIT_USAGE;
    }
    std::error_code ec;
    const std::string executable = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    const std::string self = ec ? std::string(argv[0]) : executable;
    RunSettings run = resolveSettings(options, self);
    if (!run.error.empty()) {
        std::cerr << "korvanthile-cli: " << run.error << '\n';
        return EXIT_USAGE;
    }
    run.fullScale = fullScaleOf(options, error);
    if (!error.empty()) {
        std::cerr << "korvanthile-cli: " << error << '\n';
        return EXIT_USAGE;
    }
    if (options.verbose) {
        printParameters(settingsFileOf(options, self), run, std::cerr);
    }
    if (picturesHaveText(options)) {
        startGridText();
    }
    if (!options.outDir.empty() && !std::filesystem::create_directories(options.outDir, ec) && ec) {
        // Nothing can be written there: said once, with the system's reason.
        std::cerr << "korvanthile-cli: " << options.outDir << ": cannot make the folder ("
                  << korv::systemReason(ec.value()) << ")\n";
        return EXIT_SOME_FAILED;
    }
    const ListCheck listed = checkFileList(options, files);
    for (const std::string& line : listed.notes) {
        std::cerr << line << '\n';
    }
    for (const std::string& line : listed.failures) {
        std::cerr << line << '\n';
    }
    if (const std::string refused = summaryRefusal(options, files); !refused.empty()) {
        std::cerr << "korvanthile-cli: " << refused << '\n';
        return EXIT_USAGE;
    }
    // A progress line only for a person watching: on a terminal, and not with --quiet.
    std::ostream* progress = !options.quiet && ::isatty(STDERR_FILENO) != 0 ? &std::cerr : nullptr;
    const JobsReport report =
        options.command == Command::Meter
            ? runMeter(options, run, files, progress, std::cerr)
            : runJobs(
                  files, options.jobs, korv::availableMemoryBytes(),
                  [&](const std::string& file) { return planFileJob(options, run, file); },
                  progress, std::cerr);
    stopGridText();
    return report.failed == 0 && listed.failures.empty() ? EXIT_ALL_DONE : EXIT_SOME_FAILED;
}
