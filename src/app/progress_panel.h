#pragma once
// The progress of a long analysis over the drawing area: what is being done, a bar and Cancel,
// which stops the work as STOP does (a file's image ends at the last column drawn, a batch
// starts no further file). It appears only once the work has run for a while by the window's
// clock, so a short file does not flash it.

#include <QString>

#include <cstdint>
#include <memory>

class QFrame;
class QLabel;
class QProgressBar;

namespace korv {

class Clock;
class MainWindow;

class ProgressPanel {
  public:
    // The work has run this long, by the window's clock, before the panel shows.
    static constexpr std::int64_t kShowAfterMs = 700;

    explicit ProgressPanel(MainWindow& window);
    ~ProgressPanel();
    ProgressPanel(const ProgressPanel&) = delete;
    ProgressPanel& operator=(const ProgressPanel&) = delete;

    // Work begins; while it is under way (a batch of files, say) a second start changes nothing.
    void start();
    // The part now being done: `text`, after `done` parts of `total`.
    void setStage(const QString& text, int done, int total);
    // How far the part is, 0 to 1.
    void setFraction(double fraction);
    // The work is over: the panel goes.
    void finish();

    [[nodiscard]] bool running() const { return running_; }
    [[nodiscard]] bool shown() const;

  private:
    void show();
    void place();

    MainWindow& window_;
    std::unique_ptr<Clock> realClock_; // when the window has none of its own
    Clock* clock_;
    QFrame* frame_ = nullptr; // the drawing area's child
    QLabel* label_ = nullptr;
    QProgressBar* bar_ = nullptr;
    bool running_ = false;
    std::int64_t startMs_ = 0;
    int done_ = 0;
    int total_ = 1;
};

// The window's panel, made by installProgressPanel; null before.
[[nodiscard]] ProgressPanel* progressPanel(const MainWindow& window);
void installProgressPanel(MainWindow& window);

} // namespace korv
