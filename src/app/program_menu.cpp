#include "app/program_menu.h"

#include "app/command_ids.h"
#include "audio/time_expansion.h"
#include "platform/prompts.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include <string>

namespace korv {

// Every popup and item has its mnemonic (Alt+F opens "Function"); the texts are otherwise
// those of menu 146.
ProgramMenu::ProgramMenu(QMenuBar& bar, std::function<void(int)> onCommand)
    : onCommand_(std::move(onCommand)) {
    function_ = bar.addMenu(QStringLiteral("&Function"));
    add(*function_, cmd::kAnalyzeFile, "F1 - &Analyze File");
    add(*function_, cmd::kAnalyzeBatch, "Analyze &Batch");
    add(*function_, cmd::kLogSpectrum, "&Log Spectrum");
    add(*function_, cmd::kLogPoints, "Log P&oints");
    parameters_ = function_->addMenu(QStringLiteral("&Parameters"));
    add(*parameters_, cmd::kParametersChange, "&Change");
    add(*parameters_, cmd::kParametersRestore, "&Restore");
    function_->addSeparator();
    add(*function_, cmd::kScanFile, "F2 - &Scan File");
    add(*function_, cmd::kScanInput, "F3 - Scan &Input");
    function_->addSeparator();
    add(*function_, cmd::kSaveWave, "Save &Wave");
    saveImage_ = function_->addMenu(QStringLiteral("Save I&mage"));
    add(*saveImage_, cmd::kSaveWindowImage, "&Window Image");
    add(*saveImage_, cmd::kSaveEntireImage, "&Entire Image");
    add(*function_, cmd::kPrintWindow, "Pri&nt Window");
    function_->addSeparator();
    add(*function_, cmd::kSignalScale, "F4 - Signal Scale && &Range");
    add(*function_, cmd::kVolumeControl, "F5 - &Volume Control");
    add(*function_, cmd::kFreqCalibration, "F6 - Freq &Calibration");
    add(*function_, cmd::kSoundLevel, "F7 - So&und Level");
    add(*function_, cmd::kCalibrateInput, "Calibrat&e...");
    function_->addSeparator();
    // Filled each time "Function" opens (app/desktop_files).
    recentFiles_ = function_->addMenu(QStringLiteral("Recent &Files"));
    function_->addSeparator();
    add(*function_, cmd::kExit, "E&xit");

    addView(bar);

    QMenu* variables = bar.addMenu(QStringLiteral("&Variables"));
    add(*variables, cmd::kVariablesAdjust, "&Adjust");
    add(*variables, cmd::kVariablesFreeze, "&Freeze");

    QMenu* pointers = bar.addMenu(QStringLiteral("&Pointers"));
    add(*pointers, cmd::kPointerTargetBox, "&Target Box");
    add(*pointers, cmd::kPointerWhiteCross, "&White Cross");
    add(*pointers, cmd::kPointerBlackCross, "&Black Cross");
    pointers->addSeparator();
    add(*pointers, cmd::kFreqMark, "&Freq Mark");

    QMenu* help = bar.addMenu(QStringLiteral("&Help"));
    add(*help, cmd::kHelpTopics, "Help &Topics");
    help->addSeparator();
    add(*help, cmd::kAbout, "&About Korvanthile");

    for (const int id : {cmd::kVariablesAdjust, cmd::kVariablesFreeze, cmd::kPointerTargetBox,
                         cmd::kPointerWhiteCross, cmd::kPointerBlackCross}) {
        actions_.at(id)->setCheckable(true);
    }
}

// The view's place in a long recording, its band, and the speed the held sound plays at. The keys
// are the window's own (its key handler sends the commands), so the items only name them.
void ProgramMenu::addView(QMenuBar& bar) {
    QMenu* view = bar.addMenu(QStringLiteral("Vie&w"));
    add(*view, cmd::kGoToTime, "&Go To Time...");
    add(*view, cmd::kScreenBack, "Screen &Back\tShift+PgUp");
    add(*view, cmd::kScreenForward, "Screen &Forward\tShift+PgDown");
    view->addSeparator();
    add(*view, cmd::kNarrowBand, "&Narrow Band\tCtrl+Shift+Up");
    add(*view, cmd::kWidenBand, "&Widen Band\tCtrl+Shift+Down");
    view->addSeparator();
    QMenu* expansion = view->addMenu(QStringLiteral("Time &Expansion"));
    std::string taken; // each item's mnemonic: the first digit of its factor not yet taken
    for (std::size_t k = 0; k < TIME_EXPANSION_FACTORS.size(); ++k) {
        const int factor = TIME_EXPANSION_FACTORS[k];
        std::string digits = std::to_string(factor);
        const std::size_t key = factor == 1 ? std::string::npos : digits.find_first_not_of(taken);
        if (key != std::string::npos) {
            taken += digits[key];
            digits = digits.substr(0, key) + '&' + digits.substr(key);
        }
        const std::string text =
            factor == 1 ? std::string("&As Recorded") : "1/" + digits + " Speed";
        const int id = cmd::kTimeExpansionFirst + static_cast<int>(k);
        add(*expansion, id, text.c_str());
        actions_.at(id)->setCheckable(true);
    }
}

void ProgramMenu::add(QMenu& menu, int id, const char* text) {
    QAction* a = menu.addAction(QString::fromLatin1(text));
    a->setObjectName(controlName(id));
    a->setData(id);
    // The checks are the program's to set: a click only sends the command.
    QObject::connect(a, &QAction::triggered, a, [this, a, id](bool) {
        if (a->isCheckable()) {
            a->setChecked(!a->isChecked());
        }
        onCommand_(id);
    });
    actions_[id] = a;
}

QAction* ProgramMenu::action(int id) const {
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void ProgramMenu::setBuilt(std::function<bool(int)> built) {
    built_ = std::move(built);
    for (const auto& [id, a] : actions_) {
        if (!this->built(id)) {
            a->setEnabled(false);
        }
    }
    for (const int position : {kParametersPopup, kSaveImagePopup}) {
        enablePopup(position, popupEnabled(position));
    }
}

void ProgramMenu::enable(int id, bool on) {
    if (QAction* a = action(id)) {
        a->setEnabled(on && built(id));
    }
}

void ProgramMenu::check(int id, bool on) {
    if (QAction* a = action(id)) {
        a->setChecked(on);
    }
}

bool ProgramMenu::enabled(int id) const {
    const QAction* a = action(id);
    return a != nullptr && a->isEnabled();
}

bool ProgramMenu::checked(int id) const {
    const QAction* a = action(id);
    return a != nullptr && a->isChecked();
}

QMenu* ProgramMenu::popup(int position) const {
    switch (position) {
    case kParametersPopup:
        return parameters_;
    case kSaveImagePopup:
        return saveImage_;
    default:
        return nullptr;
    }
}

void ProgramMenu::enablePopup(int position, bool on) {
    if (QMenu* m = popup(position)) {
        bool anyBuilt = false;
        for (const QAction* a : m->actions()) {
            anyBuilt = anyBuilt || built(a->data().toInt());
        }
        m->menuAction()->setEnabled(on && anyBuilt);
    }
}

bool ProgramMenu::popupEnabled(int position) const {
    const QMenu* m = popup(position);
    return m != nullptr && m->menuAction()->isEnabled();
}

} // namespace korv
