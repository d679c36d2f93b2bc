#include "dialogs/parameter_dialog.h"

#include "dialogs/dialog_frame.h"

#include "dialogs/control_ids.h"
#include "platform/prompts.h"
#include "platform/slider_actions.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>

namespace korv {

namespace {

// The rates and the FFT sizes in two rows of three.
constexpr int kRateColumns = 3;
constexpr int kFftSizeColumns = 3;

// In a row of radio buttons Up and Down move the choice as Left and Right do, so the arrow
// keys step through every group alike, whichever way it is laid out.
class RowArrowKeys : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Up && key->key() != Qt::Key_Down) {
            return false;
        }
        QKeyEvent across(QEvent::KeyPress, key->key() == Qt::Key_Up ? Qt::Key_Left : Qt::Key_Right,
                         key->modifiers());
        QCoreApplication::sendEvent(watched, &across);
        return true;
    }
};

} // namespace

ParameterDialog::ParameterDialog(DialogId dialog, AppSettings& settings, RunValues& run,
                                 PaletteChosen paletteChosen, QWidget* parent)
    : QDialog(parent), model_(dialog, settings, run), paletteChosen_(std::move(paletteChosen)) {
    setObjectName(controlName(static_cast<int>(dialog)));
    setWindowTitle(QString::fromStdString(model_.title()));
    setModal(true);
    build();
    refresh();
    presentTitle(*this);
    adjustSize();
    centreOnScreen();
}

void ParameterDialog::centreOnScreen() {
    centreDialogOnScreen(*this);
}

QGroupBox* ParameterDialog::radioGroup(const char* title,
                                       const std::vector<std::pair<int, const char*>>& items,
                                       int columns) {
    auto* box = new QGroupBox(QString::fromLatin1(title), this);
    // A box layout, which callers may add rows to (the trigger level), round the grid of the
    // buttons.
    auto* layout = new QVBoxLayout(box);
    auto* grid = new QGridLayout;
    layout->addLayout(grid);
    int shown = 0;
    for (const auto& item : items) {
        shown += model_.hasControl(item.first) ? 1 : 0;
    }
    const int across = columns == kOneRow ? std::max(shown, 1) : std::max(columns, 1);
    const int rows = (shown + across - 1) / across;
    int placed = 0;
    // One exclusive group: a screen reader sees radio buttons of one choice, and the arrow
    // keys move the choice within it.
    auto* group = new QButtonGroup(box);
    groups_.push_back(group);
    auto* rowKeys = new RowArrowKeys(box);
    for (const auto& [id, caption] : items) {
        if (!model_.hasControl(id)) {
            continue;
        }
        auto* radio = new QRadioButton(QString::fromLatin1(caption), box);
        radio->setObjectName(controlName(id));
        group->addButton(radio, id);
        // The state is the choice, however it was set: a click, a key, an accessibility tool.
        connect(radio, &QRadioButton::toggled, this, [this, id = id](bool on) {
            if (on && !refreshing_) {
                model_.chooseRadio(id);
                refresh();
            }
        });
        radios_[id] = radio;
        // Down the first column, then the next.
        grid->addWidget(radio, placed % rows, placed / rows);
        if (rows == 1) {
            radio->installEventFilter(rowKeys);
        }
        ++placed;
    }
    return box;
}

QLineEdit* ParameterDialog::edit(int id, const char* label, QBoxLayout* into) {
    auto* line = new QLineEdit(this);
    line->setObjectName(controlName(id));
    auto* row = new QHBoxLayout;
    auto* caption = new QLabel(QString::fromLatin1(label), this);
    // The label names the field for a screen reader too.
    caption->setBuddy(line);
    row->addWidget(caption);
    row->addWidget(line);
    // addLayout, not addItem: the row's widgets must belong to the box they are laid out in.
    into->addLayout(row);
    connect(line, &QLineEdit::textChanged, this, [this, id](const QString& text) {
        if (text.toStdString() != model_.text(id)) {
            model_.editText(id, text.toStdString());
        }
    });
    edits_[id] = line;
    return line;
}

void ParameterDialog::scrollRow(const char* label, int scrollId, int editId, QBoxLayout* into) {
    auto* row = new QHBoxLayout;
    const QString name = QString::fromLatin1(label);
    auto* caption = new QLabel(name, this);
    row->addWidget(caption);
    auto* bar = new QScrollBar(Qt::Horizontal, this);
    bar->setObjectName(controlName(scrollId));
    bar->setMinimumWidth(160);
    caption->setBuddy(bar);
    row->addWidget(bar);
    auto* mirror = new QLineEdit(this);
    mirror->setObjectName(controlName(editId));
    // The field shows the bar's value and takes a typed one: it goes by the same name.
    mirror->setAccessibleName(name);
    mirror->setMaximumWidth(80);
    row->addWidget(mirror);
    edits_[editId] = mirror;
    // Any text set counts as typed: keys, a paste, a screen reader's or voice control's set
    // text (the dialog's own updates are made with the signals blocked).
    connect(mirror, &QLineEdit::textChanged, this, [this, editId](const QString& text) {
        model_.typeValue(editId, text.trimmed().toStdString());
        refresh();
    });
    connect(mirror, &QLineEdit::editingFinished, this, [this] {
        model_.finishTyping();
        refresh();
    });
    scrollBars_[scrollId] = bar;
    connect(bar, &QScrollBar::actionTriggered, this,
            [this, scrollId](int action) { onScrollAction(scrollId, action); });
    // A position set directly (a test, an accessibility tool) counts as the thumb.
    connect(bar, &QScrollBar::valueChanged, this, [this, scrollId](int value) {
        if (value != model_.scrollPosition(scrollId)) {
            model_.scroll(scrollId, ScrollAction::Thumb, value);
            refresh();
        }
    });
    into->addLayout(row);
}

void ParameterDialog::onScrollAction(int id, int action) {
    const ScrollAction step = sliderScrollAction(action);
    if (step == ScrollAction::Other) {
        return;
    }
    QScrollBar* bar = scrollBars_.at(id);
    model_.scroll(id, step, bar->sliderPosition());
    // The slider has already moved by Qt's own step; put it where the rules say.
    bar->setSliderPosition(model_.scrollPosition(id));
    refresh();
}

void ParameterDialog::build() {
    auto* top = new QVBoxLayout(this);
    // The three columns fit a 1366 x 768 screen; on a smaller one (800 x 600) they scroll, so
    // that OK and Cancel stay on it.
    auto* content = new QWidget;
    auto* columns = new QHBoxLayout(content);
    columns->setContentsMargins(0, 0, 0, 0);
    auto* left = new QVBoxLayout;
    auto* middle = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    columns->addLayout(left);
    columns->addLayout(middle);
    columns->addLayout(right);
    buildDataColumn(left);
    buildAnalysisColumn(middle);
    buildDisplayColumn(right);
    // Each group keeps its own height; what a taller column leaves is room below.
    for (QBoxLayout* column : {left, middle, right}) {
        column->addStretch();
    }
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(content);
    scroll->verticalScrollBar()->setAccessibleName(QStringLiteral("Parameters"));
    scroll->horizontalScrollBar()->setAccessibleName(QStringLiteral("Parameters"));
    top->addWidget(scroll);
    buildButtons(top);
    fitColumns(*scroll, *content);
}

void ParameterDialog::fitColumns(QScrollArea& scroll, QWidget& content) {
    const QSize wanted = content.sizeHint();
    // Scrolled rather than squeezed: squeezed, the edits beside the sliders cut their numbers.
    content.setMinimumSize(wanted);
    const QScreen* where = screen();
    // Room for the buttons, the margins and a window frame.
    constexpr int kOutsideColumns = 120;
    constexpr int kBesideColumns = 40;
    const QSize room = where != nullptr ? where->availableGeometry().size() -
                                              QSize(kBesideColumns, kOutsideColumns)
                                        : wanted;
    const bool tall = wanted.height() > room.height();
    const int bar = tall ? scroll.verticalScrollBar()->sizeHint().width() : 0;
    const bool wide = wanted.width() + bar > room.width();
    const int underBar = wide ? scroll.horizontalScrollBar()->sizeHint().height() : 0;
    scroll.setMinimumSize(std::max(std::min(wanted.width() + bar, room.width()), 1),
                          std::max(std::min(wanted.height() + underBar, room.height()), 1));
}

// The sample data (rate, begin and end), its format and how it is shown.
void ParameterDialog::buildDataColumn(QBoxLayout* left) {
    if (model_.hasControl(ID_RATE_EDIT)) {
        auto* dataBox = new QGroupBox(QStringLiteral("Sample Data"), this);
        auto* layout = new QVBoxLayout(dataBox);
        auto* rateRow = new QHBoxLayout;
        layout->addLayout(rateRow);
        QLineEdit* rate = edit(ID_RATE_EDIT, "Sample Rate", rateRow);
        rate->setMaxLength(RATE_EDIT_MAX_CHARS);
        rate->setValidator(new QRegularExpressionValidator(QRegularExpression("\\d*"), rate));
        newRate_ = new QPushButton(QStringLiteral("New"), dataBox);
        newRate_->setObjectName(controlName(ID_NEW_RATE));
        newRate_->setAutoDefault(false);
        rateRow->addWidget(newRate_);
        connect(newRate_, &QPushButton::clicked, this, [this] {
            model_.pressNew();
            refresh();
            if (model_.rateChangeOpen()) {
                edits_.at(ID_RATE_EDIT)->setFocus();
            }
        });
        for (const auto& [id, label] :
             {std::pair{ID_BEGIN_EDIT, "Begin (msec)"}, std::pair{ID_END_EDIT, "End (msec)"}}) {
            QLineEdit* line = edit(id, label, layout);
            line->setMaxLength(MSEC_EDIT_MAX_CHARS);
            line->setValidator(new QRegularExpressionValidator(QRegularExpression("\\d*"), line));
        }
        left->addWidget(dataBox);
    }
    std::vector<std::pair<int, const char*>> rates;
    for (const SampleRateChoice& c : SAMPLE_RATE_CHOICES) {
        if (model_.hasControl(c.id)) {
            rates.emplace_back(c.id, c.label);
        }
    }
    if (!rates.empty()) {
        left->addWidget(radioGroup("Sample Rate", rates, kRateColumns));
    }
    if (model_.hasControl(RESOLUTION_8_BIT)) {
        left->addWidget(
            radioGroup("Resolution", {{RESOLUTION_8_BIT, "8 bit"}, {RESOLUTION_16_BIT, "16 bit"}}));
        left->addWidget(radioGroup("Type", {{TYPE_MONO, "Mono"}, {TYPE_STEREO, "Stereo"}}));
    }
    QGroupBox* channels = radioGroup(
        "Channels", {{CHANNEL_DUAL, "Dual"}, {CHANNEL_LEFT, "Left"}, {CHANNEL_RIGHT, "Right"}});
    if (model_.hasControl(ID_FIRST_CHANNEL_EDIT)) {
        // A file of more than two channels: which of them Left and Right stand for.
        for (const auto& [id, label] : {std::pair{ID_FIRST_CHANNEL_EDIT, "Left Channel"},
                                        std::pair{ID_SECOND_CHANNEL_EDIT, "Right Channel"}}) {
            QLineEdit* line = edit(id, label, qobject_cast<QBoxLayout*>(channels->layout()));
            line->setMaxLength(CHANNEL_EDIT_MAX_CHARS);
            line->setValidator(new QRegularExpressionValidator(QRegularExpression("\\d*"), line));
        }
    }
    left->addWidget(channels);
    if (model_.hasControl(DISPLAY_BAR_PLOT)) {
        left->addWidget(radioGroup(
            "Display Type",
            {{DISPLAY_SCROLL, "Scroll"}, {DISPLAY_LINE_PLOT, "Line"}, {DISPLAY_BAR_PLOT, "Bar"}}));
    }
}

// The transform: FFT size, scale, resolution, band and averaging, and the time scale.
void ParameterDialog::buildAnalysisColumn(QBoxLayout* middle) {
    auto* analysis = new QGroupBox(QStringLiteral("Frequency Analysis"), this);
    auto* analysisLayout = new QVBoxLayout(analysis);
    analysisLayout->addWidget(radioGroup("FFT Size",
                                         {{1082, "512"},
                                          {1083, "1024"},
                                          {1084, "2048"},
                                          {1085, "4096"},
                                          {1086, "8192"},
                                          {1087, "16384"}},
                                         kFftSizeColumns));
    analysisLayout->addWidget(radioGroup("Frequency Scale", {{FREQ_SCALE_LINEAR, "Linear"},
                                                             {FREQ_SCALE_LOG, "Log"},
                                                             {FREQ_SCALE_THIRD_OCTAVE, "Oct/3"}}));
    scrollRow("Freq Resolution (Hz)", ID_RESOLUTION_SCROLL, ID_RESOLUTION_EDIT, analysisLayout);
    scrollRow("Low (Hz)", ID_LOW_BAND_SCROLL, ID_LOW_BAND_EDIT, analysisLayout);
    scrollRow("High (Hz)", model_.highBandScrollId(), ID_HIGH_BAND_EDIT, analysisLayout);
    scrollRow("Average", ID_AVERAGE_SCROLL, ID_AVERAGE_EDIT, analysisLayout);
    middle->addWidget(analysis);
    // The time per column and what goes with it, under the analysis they belong to.
    if (model_.hasControl(STEP_MAX_OFF)) {
        middle->addWidget(
            radioGroup("Max Over Step", {{STEP_MAX_OFF, "Off"}, {STEP_MAX_ON, "On"}}));
    }
    auto* times = new QVBoxLayout;
    edit(ID_TIME_SCALE_EDIT, "Scale (msec)", times)->setMaxLength(16);
    QLineEdit* offset = edit(ID_CURSOR_OFFSET_EDIT, "Cursor Offset (Hz)", times);
    offset->setMaxLength(11);
    offset->setValidator(new QRegularExpressionValidator(QRegularExpression("-?\\d*"), offset));
    middle->addLayout(times);
}

// The levels and colours, the plots' choices and the mode's own switches.
void ParameterDialog::buildDisplayColumn(QBoxLayout* right) {
    right->addWidget(
        radioGroup("dB Scale", {{DB_SCALE_30, "30"}, {DB_SCALE_60, "60"}, {DB_SCALE_90, "90"}}));
    right->addWidget(
        radioGroup("Palette", {{PALETTE_CB, "CB"}, {PALETTE_BW, "BW"}, {PALETTE_USER, "User"}}));
    if (model_.hasControl(PLOT_SIGNAL)) {
        right->addWidget(radioGroup("Plot Type", {{PLOT_SIGNAL, "Signal"},
                                                  {PLOT_PEAK_DELTA, "Peak Delta"},
                                                  {PLOT_LR_DELTA, "L-R Delta"}}));
        right->addWidget(
            radioGroup("Scroll Mem", {{SCROLL_MEM_OFF, "Off"}, {SCROLL_MEM_ON, "On"}}));
        right->addWidget(
            radioGroup("Pitch Detector", {{PITCH_DETECTOR_OFF, "Off"}, {PITCH_DETECTOR_ON, "On"}}));
    }
    if (model_.hasControl(ANALYSIS_AT_STOP_OFF)) {
        right->addWidget(radioGroup("Analysis at Stop",
                                    {{ANALYSIS_AT_STOP_OFF, "Off"}, {ANALYSIS_AT_STOP_ON, "On"}}));
    }
    if (model_.hasControl(RECORDING_OFF)) {
        QGroupBox* recording = radioGroup(
            "Recording Enable",
            {{RECORDING_OFF, "Off"}, {RECORDING_ON, "On"}, {RECORDING_TRIGGER, "Trigger"}});
        scrollRow("Trigger Level", ID_TRIGGER_SCROLL, ID_TRIGGER_EDIT,
                  qobject_cast<QBoxLayout*>(recording->layout()));
        right->addWidget(recording);
    }
}

void ParameterDialog::buildButtons(QBoxLayout* top) {
    auto* buttons = new QHBoxLayout;
    top->addLayout(buttons);
    buttons->addStretch();
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    ok_->setObjectName(controlName(ID_OK));
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &ParameterDialog::accept);
    buttons->addWidget(ok_);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(controlName(ID_CANCEL));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &ParameterDialog::reject);
    buttons->addWidget(cancel);
    if (model_.dialog() != DialogId::SpectrumPlot) {
        auto* reset = new QPushButton(QStringLiteral("Reset"), this);
        reset->setObjectName(controlName(ID_RESET));
        reset->setAutoDefault(false);
        connect(reset, &QPushButton::clicked, this, [this] {
            model_.reset();
            refresh();
        });
        buttons->addWidget(reset);
    }
}

void ParameterDialog::refresh() {
    refreshing_ = true;
    // A group may have no button checked (the channels of mono data): exclusive groups
    // refuse that, so they let go while the model's state is shown.
    for (QButtonGroup* group : groups_) {
        group->setExclusive(false);
    }
    for (auto& [id, radio] : radios_) {
        radio->setChecked(model_.checked(id));
        radio->setEnabled(model_.enabled(id));
    }
    for (QButtonGroup* group : groups_) {
        group->setExclusive(true);
    }
    refreshing_ = false;
    for (auto& [id, bar] : scrollBars_) {
        const QSignalBlocker quiet(bar);
        const ScrollRange range = model_.scrollRange(id);
        bar->setRange(range.min, range.max);
        bar->setValue(model_.scrollPosition(id));
        bar->setEnabled(model_.enabled(id));
    }
    for (auto& [id, line] : edits_) {
        const QString text = QString::fromStdString(model_.text(id));
        if (line->text() != text) {
            const QSignalBlocker quiet(line);
            line->setText(text);
        }
        line->setEnabled(model_.enabled(id));
        if (scrollBars_.contains(model_.barOfField(id))) {
            showReadOnly(*line, !model_.typable(id));
        }
    }
    if (newRate_ != nullptr) {
        newRate_->setText(QString::fromStdString(model_.text(ID_NEW_RATE)));
    }
}

void ParameterDialog::accept() {
    if (!model_.rateChangeOpen()) {
        model_.finishTyping();
        refresh();
        if (const auto refused = model_.refusedTyping()) {
            prompts().message(QString::fromStdString(refused->message), MessageIcon::Stop);
            QLineEdit* line = edits_.at(refused->editId);
            line->setFocus();
            line->selectAll();
            return;
        }
    }
    if (!model_.pressOk()) {
        refresh();
        ok_->setFocus();
        return;
    }
    if (paletteChosen_) {
        paletteChosen_(model_.working().palette);
    }
    QDialog::accept();
}

bool runAnalysisDialog(Prompts& prompts, DialogId dialog, AppSettings& settings, RunValues& run,
                       const PaletteChosen& paletteChosen) {
    ParameterDialog box(dialog, settings, run, paletteChosen);
    return prompts.runDialog(box);
}

} // namespace korv
