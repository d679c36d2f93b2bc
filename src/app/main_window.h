#pragma once
// The one top-level window: menu 146, the drawing area presented from the window surface, the
// two scroll bars and the five push buttons over it. It turns menu items, buttons and keys
// into commands and carries out the small commands itself; the modes register handlers for
// theirs.

#include "app/program_menu.h"
#include "platform/clock.h"
#include "platform/commands.h"
#include "platform/sound_input.h"
#include "platform/sound_output.h"
#include "platform/window_surface.h"

#include <QFont>
#include <QMainWindow>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <vector>

class QPushButton;
class QScrollBar;
class QWheelEvent;

namespace korv {

struct AppState;

struct MainWindowOptions {
    // Where korv.ini is; empty: the user's configuration folder, or beside the executable
    // when a korv.ini is there. Where Korv.html is; empty: the installed manual.
    std::string settingsFile;
    QString helpFile;
    // The volume control started by F5.
    QString volumeProgram = QStringLiteral("pavucontrol");
    QStringList volumeArguments;
    // Opens the manual; false when that failed. Empty: the desktop's browser.
    std::function<bool(const QString& file)> openHelp;
    // Whether the left mouse button is held (the user still drags the window frame).
    // Empty: the desktop's button state.
    std::function<bool()> leftButtonDown;
    // The sound output PLAY, PLAY WDW and Scan File play through, made when first needed.
    // Empty: the default device through PortAudio.
    std::function<std::unique_ptr<SoundOutput>()> makeSoundOutput;
    // The sound input Scan Input captures from, made when first needed. Empty: the default
    // device through PortAudio.
    std::function<std::unique_ptr<SoundInput>()> makeSoundInput;
    // The millisecond clock of the real-time loops; must outlive the window. Null: the
    // system's steady clock.
    Clock* clock = nullptr;
    // The sound data a Scan Input recording may hold before the run stops. Empty: the 2 GB a
    // wave file can describe (RECORDING_BYTE_LIMIT).
    std::optional<std::int64_t> recordingByteLimit;
};

class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    using CommandAction = std::function<void(int param)>;

    explicit MainWindow(MainWindowOptions options = {});
    ~MainWindow() override;

    // Start-up after the window is shown: the settings file, then the command line (the
    // program's arguments as the system gives them, bytes), which may start a mode at once.
    void startUp(const std::vector<std::string>& arguments);
    // The same with arguments as text, each turned into the system's bytes.
    void startUp(const QStringList& arguments);

    // Runs a command: the window's own, or the one a mode registered for the id.
    void dispatch(int id, int param);
    void registerCommand(int id, CommandAction action);
    // The window carries the command out itself or a mode registered for it.
    [[nodiscard]] bool commandBuilt(int id) const;

    // What the program holds while the window is open: the settings, the view, the analysis.
    [[nodiscard]] AppState& state() { return *state_; }
    [[nodiscard]] const AppState& state() const { return *state_; }
    [[nodiscard]] ProgramMenu& menu() { return *menu_; }
    // The window's commands: menu items, buttons, keys and the modes' own requests.
    [[nodiscard]] CommandQueue& commands() { return queue_; }
    [[nodiscard]] QPushButton* button(int id) const;
    [[nodiscard]] QScrollBar* horizontalBar() const { return hBar_; }
    [[nodiscard]] QScrollBar* verticalBar() const { return vBar_; }
    [[nodiscard]] WindowSurface& surface() { return surface_; }
    [[nodiscard]] QWidget* drawingArea() const { return view_; }
    [[nodiscard]] const std::string& settingsFile() const { return options_.settingsFile; }
    [[nodiscard]] const MainWindowOptions& options() const { return options_; }
    // The process id of the volume control this program started, while it runs; else 0.
    [[nodiscard]] qint64 volumeControlProcess() const;

    // Lays the window out anew from the client size (deferred while a mode holds the drawing
    // surfaces) and sets the horizontal scroll range.
    void computeLayout();
    // Copies the visible part of the off-screen images into the drawing area.
    void blitView();
    // The same for the part of the drawing area inside `area` only.
    void blitView(const PixelRect& area);
    // blitView, and with `labels` the axis labels or the plot as the display shows them.
    void redrawView(bool labels);
    void clearDrawingArea();
    // The held image may be scrolled now: it is wider than the view, and no analysis, sound or
    // mode holds it, nor is it a scan's scroll memory.
    [[nodiscard]] bool imageScrollFree() const;
    // Enables PLAY when the image can be played part by part (see the resize rules).
    void updatePlayButton();
    // "Korvanthile" and the file's name; the name alone without a file.
    void showFileInTitle(const QString& path);
    // The pointer shape of the drawing area for settings.pointerType.
    void applyPointerShape();
    // Called by the paint handler after the view; modes and views add their labels here.
    // The font of the panel, the readouts and the labels.
    [[nodiscard]] QFont controlFont() const;
    void setLabelPainter(std::function<void(WindowSurface&)> painter) {
        labelPainter_ = std::move(painter);
    }
    void setPanelPainter(std::function<void(WindowSurface&)> painter) {
        panelPainter_ = std::move(painter);
    }
    // Mouse events of the drawing area; true when handled.
    void setMouseHandler(std::function<bool(QEvent*)> handler) {
        mouseHandler_ = std::move(handler);
    }
    // At close: stop and reset the sound devices that are open.
    void setSoundShutdown(std::function<void()> shutdown) { soundShutdown_ = std::move(shutdown); }
    // At close and whenever the held state is dropped: release what the modes keep beside the
    // state (the Parameters Restore copy and the like).
    void setReleaseHook(std::function<void()> hook) { releaseHook_ = std::move(hook); }
    // The vertical bar's range and position (rows of the image, or the level position).
    void setVerticalRange(int max, int pos);
    // What a mode keeps beside the state for the window's lifetime (the play room, the input
    // room), found again by its type; it goes with the window.
    template <class Part> void keepPart(std::shared_ptr<Part> part) {
        parts_[std::type_index(typeid(Part))] = std::move(part);
    }
    template <class Part> [[nodiscard]] Part* part() const {
        const auto found = parts_.find(std::type_index(typeid(Part)));
        return found != parts_.end() ? static_cast<Part*>(found->second.get()) : nullptr;
    }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The first size and place: the screen's rule, within its available area, given the
    // frame's height and width beyond the window's own.
    void placeFirstWindow(int frameHeight, int frameWidth = 0);
    void createControls();
    void createDrawingObjects();
    void setInitialMenuState();
    void onResize();
    void onRestore();
    void paint(WindowSurface& target);
    void onHorizontalAction(int action);
    void onVerticalAction(int action);
    void onWheel(const QWheelEvent& event);
    void scrollByKey(int key);
    // One step finer (direction -1) or coarser (1) time scale for the analysed file; the time
    // at view x `pointerX` (when it lies over the picture, else at the view's centre) stays
    // where it was.
    void changeTimeScale(int direction, std::optional<int> pointerX);
    void setFftSize(int k);
    void chooseVariables(int id);
    void showVariables();
    void choosePointer(int type);
    void startVolumeControl();
    // Korv.html beside the executable, else the installed manual.
    static QString defaultManualPath();
    void openHelpTopics();
    void applyStartCommandLine(const std::vector<std::string>& arguments);
    void loadPreferences();
    void releaseAll();

    MainWindowOptions options_;
    std::unique_ptr<AppState> state_;
    CommandQueue queue_; // its handler is dispatch() from the end of construction
    WindowSurface surface_;
    SurfaceWidget* view_ = nullptr;
    std::unique_ptr<ProgramMenu> menu_;
    QScrollBar* hBar_ = nullptr;
    QScrollBar* vBar_ = nullptr;
    std::map<int, QPushButton*> buttons_;
    std::map<int, CommandAction> commands_;
    std::map<std::type_index, std::shared_ptr<void>> parts_;
    qint64 volumeControlPid_ = 0;
    std::function<void(WindowSurface&)> labelPainter_;
    std::function<void(WindowSurface&)> panelPainter_;
    std::function<bool(QEvent*)> mouseHandler_;
    std::function<void()> soundShutdown_;
    std::function<void()> releaseHook_;
    std::optional<QFont> controlFont_; // from the last layout
    int wheelAngle_ = 0;               // wheel turns not yet made into line steps
    int zoomAngle_ = 0;                // Ctrl+wheel turns not yet made into zoom steps
    bool minimised_ = false;
    bool closing_ = false;
    bool shownOnce_ = false;
    QSize placedSize_; // the first placement's size
};

} // namespace korv
