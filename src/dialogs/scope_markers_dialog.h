#pragma once
// "Scope Markers" (dialog 146, command 40049): the two fixed marker frequencies of the
// spectrum plot and the scrolling image. Object names are the control ids.

#include "settings/app_settings.h"

#include <QDialog>
#include <cstdint>
#include <string>

class QLineEdit;

namespace korv {

class Prompts;

inline constexpr int SCOPE_MARKERS_DIALOG_ID = 146;
inline constexpr int ID_MARKER1_EDIT = 1113;
inline constexpr int ID_MARKER2_EDIT = 1115;
inline constexpr int MARKER_EDIT_MAX_CHARS = 7;
inline constexpr std::int32_t MARKER_MAX_HZ = 24000;

// An edit's text as a marker: its leading number as atoi reads it (0 for none), limited to
// 0 .. 24000; 0 means no marker.
[[nodiscard]] std::int32_t markerFromText(const std::string& text);

class ScopeMarkersDialog : public QDialog {
  public:
    explicit ScopeMarkersDialog(AppSettings& settings, QWidget* parent = nullptr);
    // OK: both markers written back, then closed.
    void accept() override;

  private:
    AppSettings& settings_;
    QLineEdit* marker1_ = nullptr;
    QLineEdit* marker2_ = nullptr;
};

// Runs the dialog modally through the prompts; true on OK (the markers are then stored in
// settings). The caller clears the view and, for a plot display, redraws it with its markers.
[[nodiscard]] bool runScopeMarkersDialog(Prompts& prompts, AppSettings& settings);

} // namespace korv
