#pragma once
// What the benchmarks of the real window share: a mono 16-bit wave file written with the
// program's own header, the window opened as the user opens it, prompts that answer the file
// dialog with one file, and a main that runs them under Qt's offscreen platform.

#include "app/main_window.h"
#include "audio/wave_header.h"
#include "platform/prompts.h"
#include "shell/modes.h"

#include <QApplication>
#include <QByteArray>
#include <QSize>
#include <QString>
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>

namespace korv::bench {

// The bytes of a mono 16-bit wave file at `rate` holding `samples` (little-endian samples).
inline QByteArray monoWaveFile(std::int32_t rate, std::span<const std::uint8_t> samples) {
    std::array<std::uint8_t, WAVE_HEADER_SIZE> header{};
    buildWaveHeader(header, 1, rate, 16, static_cast<std::uint32_t>(samples.size()));
    QByteArray b(reinterpret_cast<const char*>(header.data()),
                 static_cast<qsizetype>(header.size()));
    b.append(reinterpret_cast<const char*>(samples.data()), static_cast<qsizetype>(samples.size()));
    return b;
}

// The main window with every mode, shown at `size` and started, its settings in settingsFile.
inline std::unique_ptr<MainWindow> openBenchWindow(const QString& settingsFile,
                                                   QSize size = {1280, 960}) {
    MainWindowOptions options;
    options.settingsFile = settingsFile.toStdString();
    auto window = std::make_unique<MainWindow>(options);
    installModes(*window);
    window->resize(size);
    window->show();
    window->startUp(QStringList{});
    return window;
}

// Answers the file dialog with one file; everything else is refused.
class OneFilePrompts final : public Prompts {
  public:
    explicit OneFilePrompts(QString file) : file_(std::move(file)) {}
    void message(const QString&, MessageIcon) override {}
    void beep() override {}
    std::optional<QString> openFile(const FileRequest&) override { return file_; }
    std::optional<QStringList> openFiles(const FileRequest&) override { return std::nullopt; }
    void messageWithDetails(const QString&, const QString&, MessageIcon) override {}
    bool question(const QString&, const QString&) override { return false; }
    std::optional<QString> chooseSaveFile(const FileRequest&) override { return std::nullopt; }
    bool choosePrinter(QPrinter&) override { return false; }
    bool runDialog(QDialog&) override { return false; }

  private:
    QString file_;
};

inline int runWindowBenchmarks(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace korv::bench
