#pragma once
// Menu 146: the popups "Function", "Variables", "Pointers" and "Help" with their items, each
// action found by its command id (also its object name).

#include <QObject>
#include <functional>
#include <map>

class QAction;
class QMenu;
class QMenuBar;

namespace korv {

class ProgramMenu {
  public:
    // Positions of the submenus inside "Function".
    static constexpr int kParametersPopup = 4;
    static constexpr int kSaveImagePopup = 10;

    // Builds the menu into `bar`; choosing an item calls onCommand with its id.
    ProgramMenu(QMenuBar& bar, std::function<void(int)> onCommand);

    [[nodiscard]] QAction* action(int id) const;
    void enable(int id, bool on);
    void check(int id, bool on);
    [[nodiscard]] bool enabled(int id) const;
    [[nodiscard]] bool checked(int id) const;
    // A submenu of "Function" by its position, as a whole.
    void enablePopup(int position, bool on);
    [[nodiscard]] bool popupEnabled(int position) const;
    [[nodiscard]] QMenu* function() const { return function_; }
    // "Recent Files" in "Function", between the F6 item and Exit.
    [[nodiscard]] QMenu* recentFiles() const { return recentFiles_; }
    // Which commands the program can carry out. An item whose command is not built is kept
    // disabled whatever the menu states say, and so is a popup with no such item; the items
    // are disabled at once.
    void setBuilt(std::function<bool(int)> built);

  private:
    void add(QMenu& menu, int id, const char* text);
    void addView(QMenuBar& bar);
    [[nodiscard]] QMenu* popup(int position) const;

    [[nodiscard]] bool built(int id) const { return !built_ || built_(id); }

    std::function<void(int)> onCommand_;
    std::function<bool(int)> built_;
    std::map<int, QAction*> actions_;
    QMenu* function_ = nullptr;
    QMenu* parameters_ = nullptr;
    QMenu* saveImage_ = nullptr;
    QMenu* recentFiles_ = nullptr;
};

} // namespace korv
