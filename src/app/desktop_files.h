#pragma once
// Files the desktop hands over: dropped on the window, chosen under Function > Recent Files,
// or named on the command line (the desktop entry gives every selected file). Each is opened
// as a file named on the command line: analysed, or scanned when the last file was scanned,
// with the parameters in force.

#include <span>
#include <string>

namespace korv {

class MainWindow;
struct AppState;

// The next Analyze File or Scan File takes `path` without asking for it: the name made
// absolute, its folder the current one, its name in the title.
void nameFileAsFromCommandLine(MainWindow& window, const std::string& path);

// The first of `paths` opened as above, the others put under Recent Files after it so each is
// one choice away. False (nothing done) while a mode runs or when no path is given.
bool openGivenFiles(MainWindow& window, std::span<const std::string> paths);

// Put first under Recent Files: a file Analyze File or Scan File opened.
void rememberOpenedFile(AppState& state, const std::string& path);

// Recent Files filled whenever "Function" opens (a missing file greyed), and files dropped
// on the window opened.
void installDesktopFiles(MainWindow& window);

} // namespace korv
