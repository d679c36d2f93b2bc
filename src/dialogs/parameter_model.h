#pragma once
// The working copies of one parameter dialog and the dependencies between its controls.
// Plain C++: the dialog widget forwards the user's actions here and shows what this says.

#include "dialogs/control_ids.h"
#include "dialogs/dialog_values.h"
#include "dialogs/parameter_rules.h"
#include "settings/app_settings.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace korv {

class ParameterDialogModel {
  public:
    // Copies settings and run into working copies and applies the opening rules. Writes at
    // once only what is written through: the average counts and the cleared scan flag.
    ParameterDialogModel(DialogId dialog, AppSettings& settings, RunValues& run);

    [[nodiscard]] DialogId dialog() const { return dialog_; }
    [[nodiscard]] std::string title() const;
    [[nodiscard]] bool hasControl(int id) const;

    // The user's actions; a control that is absent or disabled ignores them.
    void chooseRadio(int id);
    void scroll(int scrollBarId, ScrollAction action, int thumbPosition = 0);
    void editText(int editId, const std::string& text);
    void pressNew();
    void reset();
    // Typing into the field beside a scroll bar (Freq Resolution, Low, High, Average, Trigger
    // Level): a number inside the bar's range is taken at once, with the bar's own
    // dependencies, and moves the bar; other text stays as typed and OK refuses it.
    void typeValue(int editId, const std::string& text);
    // Leaving the field (or OK): a value that was taken is shown as the bar shows it, and the
    // other band limit follows as it does for the bars.
    void finishTyping();
    // Whether the field beside a bar takes typing now: its bar is in use. Otherwise it only
    // shows a value (the Oct/3 band, the log scale's fixed high limit).
    [[nodiscard]] bool typable(int editId) const;
    // The scroll bar a field stands beside; 0 for the other fields.
    [[nodiscard]] int barOfField(int editId) const;
    struct RefusedTyping {
        int editId;
        std::string message;
    };
    // The first field whose typed text was not taken, with the message OK shows for it.
    [[nodiscard]] std::optional<RefusedTyping> refusedTyping() const;
    // OK: while a rate change is open it only ends the change and returns false; otherwise
    // writes the working values back and returns true (the dialog closes).
    bool pressOk();

    // What the controls show.
    [[nodiscard]] bool enabled(int id) const;
    [[nodiscard]] bool checked(int id) const;
    [[nodiscard]] std::string text(int id) const;
    [[nodiscard]] ScrollRange scrollRange(int id) const;
    [[nodiscard]] int scrollPosition(int id) const;
    [[nodiscard]] bool rateChangeOpen() const { return enteringRate_; }
    [[nodiscard]] int highBandScrollId() const;

    [[nodiscard]] const AppSettings& working() const { return work_; }
    [[nodiscard]] std::int32_t sampleRate() const;

  private:
    [[nodiscard]] bool isScanDialog() const;
    [[nodiscard]] bool hasBeginEnd() const;
    [[nodiscard]] int fftSize() const;
    [[nodiscard]] double resolutionHz() const;
    [[nodiscard]] bool stereo() const { return work_.stereo; }
    [[nodiscard]] bool peakDeltaAllowed() const;
    [[nodiscard]] bool lrDeltaAllowed() const;
    [[nodiscard]] std::int32_t& averageCount();
    [[nodiscard]] std::int32_t averageCount() const;
    void setAverageCount(std::int32_t count);
    void setBothAverageCounts(std::int32_t scroll, std::int32_t plot);
    void chooseLinear();
    void chooseLog();
    void scaleBeginEnd(int multiply, int divide);
    void finishRateChange();
    void normalise();
    void transfer();
    [[nodiscard]] std::optional<std::int32_t> typedPosition(int editId,
                                                            const std::string& text) const;

    DialogId dialog_;
    AppSettings& settings_;
    RunValues& run_;
    AppSettings work_;
    RunValues runWork_;
    std::string rateText_;
    std::string beginText_;
    std::string endText_;
    std::string timeScaleText_;
    std::string cursorOffsetText_;
    std::string firstChannelText_;
    std::string secondChannelText_;
    std::map<int, std::string> typed_; // fields beside a bar, as typed and not yet left
    bool enteringRate_ = false;
    std::int32_t rememberedRate_ = 0;
    std::int32_t openingRate_ = 0;
    int openingBytesPerSample_ = 2;
};

} // namespace korv
