#include "dialogs/colour_dialog.h"

#include "analysis/parameters.h"
#include "base/option_ids.h"
#include "dialogs/dialog_frame.h"
#include "dialogs/radio_role.h"
#include "dialogs/radio_values.h"
#include "display/palette_edit.h"
#include "display/plot_layout.h"
#include "platform/prompts.h"
#include "settings/settings_inputs.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMoveEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

namespace korv {

namespace {

constexpr int kColourPageStep = 10;
constexpr std::array<const char*, 5> kOtherNames{"Background", "Signal 1", "Signal 2", "Freq Mark",
                                                 "Text"};
constexpr std::array<const char*, 3> kComponentNames{"Red", "Green", "Blue"};
constexpr std::array<int, 3> kColourBarIds{ID_RED_SCROLL, ID_GREEN_SCROLL, ID_BLUE_SCROLL};
constexpr std::array<int, 3> kColourEditIds{ID_RED_EDIT, ID_GREEN_EDIT, ID_BLUE_EDIT};

QColor toQColor(const Rgb& c) {
    return QColor(c.r, c.g, c.b);
}

std::uint8_t& component(Rgb& c, int i) {
    return i == 0 ? c.r : (i == 1 ? c.g : c.b);
}

// A box the dialog paints itself: the colour sample and the swatches.
class PaintedBox : public QWidget {
  public:
    PaintedBox(int id, std::function<void(QPainter&, const QRect&)> paint, QWidget* parent)
        : QWidget(parent), paint_(std::move(paint)) {
        setObjectName(controlName(id));
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        paint_(p, rect());
    }

  private:
    std::function<void(QPainter&, const QRect&)> paint_;
};

// A colour component typed into its field: a whole number 0 to 255, or nothing.
std::optional<int> typedComponent(const QString& text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < 0 || v > 255) {
        return std::nullopt;
    }
    return v;
}

} // namespace

ColourDialog::ColourDialog(AppSettings& settings, LevelPalette& active, ColourDialogHost host,
                           std::optional<QPoint> where, QWidget* parent)
    : QDialog(parent), settings_(settings), active_(active), host_(std::move(host)),
      choice_(settings.palette), openingPalette_(active), openingUser_(settings.userPalette),
      openingRange_(settings.dbRange), openingLevelScale_(settings.levelScaleCode),
      openingChoice_(settings.palette), drawnRange_(settings.dbRange),
      drawnLevelScale_(settings.levelScaleCode) {
    setObjectName(controlName(COLOUR_DIALOG_ID));
    setWindowTitle(QStringLiteral("Korvanthile Colors"));
    setModal(false);
    build();
    presentTitle(*this);
    adjustSize();
    if (where) {
        move(*where);
    } else if (const QScreen* screenHere = screen()) {
        const QRect area = screenHere->geometry();
        const QSize size = frameGeometry().size();
        move(area.x() + std::max(0, (area.width() - size.width()) / 2),
             area.y() + std::max(0, (area.height() - size.height()) / 2));
    }
    buttons_[ID_COLOUR_REDRAW]->setEnabled(!host_.scanRunning());
    buttons_[ID_CANCEL_OPERATION]->setEnabled(false);
    selectEntry(0);
    showRangeAndGain();
}

QScrollBar* ColourDialog::bar(int id, int max, int page) {
    auto* b = new QScrollBar(Qt::Horizontal, this);
    b->setObjectName(controlName(id));
    b->setRange(0, max);
    b->setSingleStep(1);
    b->setPageStep(page);
    b->setMinimumWidth(160);
    return b;
}

void ColourDialog::build() {
    auto* top = new QHBoxLayout(this);
    buildLevels(top);
    auto* right = new QVBoxLayout;
    top->addLayout(right);
    buildOtherColours(right);
    buildMix(right);
    buildChoices(right);
    buildGain(right);
    buildButtons(right);
}

// The level stops, highest at the top, beside the colour sample; the selectors of the other
// colours are made here too, as one group with the stops.
void ColourDialog::buildLevels(QBoxLayout* top) {
    auto* levels = new QGroupBox(QStringLiteral("Signal Level"), this);
    auto* levelGrid = new QGridLayout(levels);
    levelGrid->setVerticalSpacing(0);
    auto* group = new QButtonGroup(this);
    for (int entry = 0; entry < kUserPaletteEntries; ++entry) {
        auto* b = new QPushButton(this);
        markRadioRole(b);
        b->setObjectName(controlName(kEntrySelectorIds[static_cast<std::size_t>(entry)]));
        b->setCheckable(true);
        b->setAutoDefault(false);
        group->addButton(b);
        connect(b, &QPushButton::toggled, this, [this, entry](bool on) {
            if (on && !updating_) {
                selectEntry(entry);
            }
        });
        selectors_[static_cast<std::size_t>(entry)] = b;
        if (entry < kLevelStops) {
            levelGrid->addWidget(b, kLevelStops - 1 - entry, 0);
        }
    }
    sample_ = new PaintedBox(
        ID_COLOUR_SAMPLE,
        [this](QPainter& p, const QRect& r) {
            // Thirteen bands, entry 0 at the bottom.
            for (int entry = 0; entry < kLevelStops; ++entry) {
                const int y0 = r.height() * (kLevelStops - 1 - entry) / kLevelStops;
                const int y1 = r.height() * (kLevelStops - entry) / kLevelStops;
                p.fillRect(QRect(0, y0, r.width(), y1 - y0),
                           toQColor(active_[static_cast<std::size_t>(entry)]));
            }
        },
        this);
    sample_->setMinimumWidth(40);
    sample_->setAccessibleName(QStringLiteral("Colour sample"));
    levelGrid->addWidget(sample_, 0, 1, kLevelStops, 1);
    top->addWidget(levels);
}

void ColourDialog::buildOtherColours(QBoxLayout* right) {
    auto* others = new QGroupBox(QStringLiteral("Other Colors"), this);
    auto* otherGrid = new QGridLayout(others);
    for (std::size_t i = 0; i < kOtherNames.size(); ++i) {
        const int entry = kLevelStops + static_cast<int>(i);
        QPushButton* b = selectors_[static_cast<std::size_t>(entry)];
        b->setText(QString::fromLatin1(kOtherNames[i]));
        auto* swatch = new PaintedBox(
            kSwatchIds[i],
            [this, entry](QPainter& p, const QRect& r) {
                p.fillRect(r, toQColor(active_[static_cast<std::size_t>(entry)]));
            },
            this);
        swatch->setMinimumSize(24, 16);
        swatch->setAccessibleName(b->text());
        otherGrid->addWidget(b, static_cast<int>(i), 0);
        otherGrid->addWidget(swatch, static_cast<int>(i), 1);
    }
    right->addWidget(others);
}

// The red, green and blue bars of the selected entry, each with its number.
void ColourDialog::buildMix(QBoxLayout* right) {
    auto* mix = new QGridLayout;
    for (int i = 0; i < 3; ++i) {
        const auto at = static_cast<std::size_t>(i);
        auto* caption = new QLabel(QString::fromLatin1(kComponentNames[at]), this);
        QScrollBar* b = bar(kColourBarIds[at], 255, kColourPageStep);
        caption->setBuddy(b);
        auto* mirror = new QLineEdit(this);
        mirror->setObjectName(controlName(kColourEditIds[at]));
        mirror->setAccessibleName(caption->text());
        mirror->setMaximumWidth(50);
        connect(b, &QScrollBar::valueChanged, this, [this, i](int v) { onColourBar(i, v); });
        // A typed component moves its bar, which sets it; other text waits for OK to refuse.
        // Any text set counts as typed (a screen reader's too); the dialog's own is quiet.
        connect(mirror, &QLineEdit::textChanged, this, [this, b, i](const QString& text) {
            if (const auto v = typedComponent(text)) {
                typingComponent_ = i;
                b->setValue(*v);
                typingComponent_ = -1;
            }
        });
        connect(mirror, &QLineEdit::editingFinished, this, [this] { showEntry(); });
        mix->addWidget(caption, i, 0);
        mix->addWidget(b, i, 1);
        mix->addWidget(mirror, i, 2);
        colourBars_[at] = b;
        colourEdits_[at] = mirror;
    }
    right->addLayout(mix);
}

// The palette and the range, each a row of radio buttons.
void ColourDialog::buildChoices(QBoxLayout* right) {
    const auto radioRow = [this](const char* title,
                                 std::initializer_list<std::pair<int, const char*>> items) {
        auto* box = new QGroupBox(QString::fromLatin1(title), this);
        auto* row = new QHBoxLayout(box);
        auto* choices = new QButtonGroup(box);
        for (const auto& [id, text] : items) {
            auto* r = new QRadioButton(QString::fromLatin1(text), box);
            r->setObjectName(controlName(id));
            choices->addButton(r, id);
            row->addWidget(r);
            radios_[id] = r;
        }
        return box;
    };
    right->addWidget(
        radioRow("Palette", {{PALETTE_CB, "CB"}, {PALETTE_BW, "BW"}, {PALETTE_USER, "User"}}));
    right->addWidget(
        radioRow("Range (dB)", {{DB_SCALE_30, "30"}, {DB_SCALE_60, "60"}, {DB_SCALE_90, "90"}}));
    // The checked button is the choice, however it came to be checked; the dialog's own
    // updates of the buttons are not choices.
    for (const std::int32_t id : {PALETTE_CB, PALETTE_BW, PALETTE_USER}) {
        connect(radios_[id], &QRadioButton::toggled, this, [this, id](bool on) {
            if (on && !updating_) {
                choosePalette(valueOfRadio(id, &AppSettings::palette));
            }
        });
    }
    for (const std::int32_t id : {DB_SCALE_30, DB_SCALE_60, DB_SCALE_90}) {
        connect(radios_[id], &QRadioButton::toggled, this, [this, id](bool on) {
            if (on && !updating_) {
                chooseRange(valueOfRadio(id, &AppSettings::dbRange));
            }
        });
    }
}

void ColourDialog::buildGain(QBoxLayout* right) {
    auto* gainRow = new QHBoxLayout;
    auto* gainCaption = new QLabel(QStringLiteral("Gain (dB)"), this);
    gainBar_ = bar(ID_GAIN_SCROLL, kLevelPositionMax, 1);
    gainCaption->setBuddy(gainBar_);
    gainEdit_ = new QLineEdit(this);
    gainEdit_->setObjectName(controlName(ID_GAIN_EDIT));
    showReadOnly(*gainEdit_, true); // the gain is set by its bar alone
    gainEdit_->setAccessibleName(gainCaption->text());
    gainEdit_->setMaximumWidth(50);
    connect(gainBar_, &QScrollBar::valueChanged, this, [this](int v) { onGain(v); });
    gainRow->addWidget(gainCaption);
    gainRow->addWidget(gainBar_);
    gainRow->addWidget(gainEdit_);
    right->addLayout(gainRow);
}

// Copy To, Spread To and Cancel Operation; Redraw, Reset, OK and Cancel.
void ColourDialog::buildButtons(QBoxLayout* right) {
    const auto addButton = [this](QBoxLayout* row, int id, const char* text, bool checkable) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(controlName(id));
        b->setCheckable(checkable);
        b->setAutoDefault(false);
        row->addWidget(b);
        buttons_[id] = b;
        return b;
    };
    auto* ops = new QHBoxLayout;
    connect(addButton(ops, ID_COPY_TO, "Copy To", true), &QPushButton::clicked, this,
            [this] { startOperation(Pending::Copy); });
    connect(addButton(ops, ID_SPREAD_TO, "Spread To", true), &QPushButton::clicked, this,
            [this] { startOperation(Pending::Spread); });
    connect(addButton(ops, ID_CANCEL_OPERATION, "Cancel Operation", false), &QPushButton::clicked,
            this, [this] { endOperation(); });
    right->addLayout(ops);
    auto* actions = new QHBoxLayout;
    connect(addButton(actions, ID_COLOUR_REDRAW, "Redraw", false), &QPushButton::clicked, this,
            [this] {
                if (!host_.analysisComputing()) {
                    redrawImage(true);
                }
            });
    connect(addButton(actions, ID_COLOUR_RESET, "Reset", false), &QPushButton::clicked, this,
            [this] { reset(); });
    connect(addButton(actions, kOkButtonId, "OK", false), &QPushButton::clicked, this,
            &ColourDialog::accept);
    connect(addButton(actions, kCancelButtonId, "Cancel", false), &QPushButton::clicked, this,
            &ColourDialog::reject);
    right->addLayout(actions);
}

bool ColourDialog::scrollDisplay() const {
    return settings_.displayType == DisplayType::Scroll;
}

void ColourDialog::selectEntry(int entry) {
    const Pending op = pending_;
    if (op == Pending::Copy) {
        active_[static_cast<std::size_t>(entry)] = active_[static_cast<std::size_t>(selected_)];
    } else if (op == Pending::Spread) {
        spreadPaletteEntries(active_, selected_, entry);
    }
    selected_ = entry;
    updating_ = true;
    selectors_[static_cast<std::size_t>(entry)]->setChecked(true);
    updating_ = false;
    if (op != Pending::None) {
        endOperation();
        paletteModified_ = true;
        choice_ = PaletteName::User;
        changed();
    }
    showEntry();
}

void ColourDialog::showEntry() {
    updating_ = true;
    Rgb& c = active_[static_cast<std::size_t>(selected_)];
    for (int i = 0; i < 3; ++i) {
        colourBars_[static_cast<std::size_t>(i)]->setValue(component(c, i));
        // The field being typed in keeps its text ("07" stays).
        if (i != typingComponent_) {
            QLineEdit* edit = colourEdits_[static_cast<std::size_t>(i)];
            const QSignalBlocker quiet(edit);
            edit->setText(QString::number(component(c, i)));
        }
    }
    for (const std::int32_t id : {PALETTE_CB, PALETTE_BW, PALETTE_USER}) {
        radios_[id]->setChecked(valueOfRadio(id, &AppSettings::palette) == choice_);
    }
    updating_ = false;
}

void ColourDialog::onColourBar(int i, int value) {
    if (updating_) {
        return;
    }
    Rgb& c = active_[static_cast<std::size_t>(selected_)];
    component(c, i) = static_cast<std::uint8_t>(std::clamp(value, 0, 255));
    paletteModified_ = true;
    choice_ = PaletteName::User;
    showEntry();
    changed();
}

void ColourDialog::choosePalette(PaletteName choice) {
    if (choice_ == PaletteName::User) {
        settings_.userPalette = active_; // the edits are kept as the User palette
    }
    active_ = paletteFor(choice, settings_.userPalette);
    choice_ = choice;
    paletteModified_ = true;
    selected_ = 0;
    updating_ = true;
    selectors_[0]->setChecked(true);
    updating_ = false;
    showEntry();
    changed();
}

void ColourDialog::chooseRange(DbRange range) {
    settings_.dbRange = range;
    settings_.levelScaleCode = levelScaleForRange(range, scrollDisplay());
    paletteModified_ = true;
    showRangeAndGain();
    changed();
}

void ColourDialog::onGain(int position) {
    if (updating_) {
        return;
    }
    settings_.levelScaleCode = kLevelScaleOffset - position;
    paletteModified_ = true;
    showRangeAndGain();
    if (!scrollDisplay() && host_.moveLevelBar) {
        host_.moveLevelBar(levelBarPosition(settings_.levelScaleCode));
    }
}

void ColourDialog::showRangeAndGain() {
    updating_ = true;
    for (const std::int32_t id : {DB_SCALE_30, DB_SCALE_60, DB_SCALE_90}) {
        radios_[id]->setChecked(valueOfRadio(id, &AppSettings::dbRange) == settings_.dbRange);
    }
    gainBar_->setValue(levelBarPosition(-settings_.levelScaleCode));
    gainEdit_->setText(QString::number(-settings_.levelScaleCode));
    for (int stop = 0; stop < kLevelStops; ++stop) {
        selectors_[static_cast<std::size_t>(stop)]->setText(
            QString::fromStdString(stopCaption(stop, settings_.dbRange)));
    }
    updating_ = false;
}

void ColourDialog::startOperation(Pending op) {
    pending_ = op;
    const int pressed = op == Pending::Copy ? ID_COPY_TO : ID_SPREAD_TO;
    for (auto& [id, b] : buttons_) {
        b->setEnabled(id == pressed || id == ID_CANCEL_OPERATION);
    }
    buttons_[pressed]->setChecked(true);
    for (QScrollBar* b : colourBars_) {
        b->setEnabled(false);
    }
    for (auto& [id, r] : radios_) {
        r->setEnabled(false);
    }
    gainBar_->setEnabled(false);
}

void ColourDialog::endOperation() {
    pending_ = Pending::None;
    for (auto& [id, b] : buttons_) {
        b->setEnabled(id != ID_CANCEL_OPERATION &&
                      (id != ID_COLOUR_REDRAW || !host_.scanRunning()));
    }
    buttons_[ID_COPY_TO]->setChecked(false);
    buttons_[ID_SPREAD_TO]->setChecked(false);
    for (QScrollBar* b : colourBars_) {
        b->setEnabled(true);
    }
    for (auto& [id, r] : radios_) {
        r->setEnabled(true);
    }
    gainBar_->setEnabled(true);
}

void ColourDialog::reset() {
    if (host_.analysisComputing()) {
        return;
    }
    settings_.dbRange = openingRange_;
    settings_.levelScaleCode = openingLevelScale_;
    active_ = openingPalette_;
    settings_.userPalette = openingUser_;
    choice_ = openingChoice_;
    selected_ = 0;
    updating_ = true;
    selectors_[0]->setChecked(true);
    updating_ = false;
    showEntry();
    showRangeAndGain();
    changed();
    redrawImage(false);
    paletteModified_ = false;
}

void ColourDialog::redrawImage(bool always) {
    // Colours reach the image through the palette at once; only the range and the gain need
    // the levels mapped again.
    const bool levelsChanged =
        settings_.dbRange != drawnRange_ || settings_.levelScaleCode != drawnLevelScale_;
    if ((always || levelsChanged) && !host_.scanRunning()) {
        drawnRange_ = settings_.dbRange;
        drawnLevelScale_ = settings_.levelScaleCode;
        host_.requestImageRedraw();
    }
}

void ColourDialog::changed() {
    host_.paletteChanged();
    sample_->update();
    update();
}

void ColourDialog::accept() {
    for (QLineEdit* edit : colourEdits_) {
        if (!typedComponent(edit->text())) {
            prompts().message(
                QString::fromLatin1(MSG_IMPROPER_ENTRY.data(),
                                    static_cast<qsizetype>(MSG_IMPROPER_ENTRY.size())),
                MessageIcon::Stop);
            edit->setFocus();
            edit->selectAll();
            return;
        }
    }
    if (!host_.analysisComputing()) {
        finish(true);
    }
}

void ColourDialog::reject() {
    if (!host_.analysisComputing()) {
        finish(false);
    }
}

void ColourDialog::finish(bool keep) {
    if (keep) {
        // Only edits made to the User palette replace it; choosing CB or BW leaves it alone.
        if (paletteModified_ && choice_ == PaletteName::User) {
            settings_.userPalette = active_;
        }
        settings_.palette = choice_;
    } else {
        settings_.dbRange = openingRange_;
        settings_.levelScaleCode = openingLevelScale_;
        settings_.userPalette = openingUser_;
        active_ = openingPalette_;
    }
    host_.paletteChanged();
    if (!closingForMode_) {
        redrawImage(false);
    }
    if (keep) {
        QDialog::accept();
    } else {
        QDialog::reject();
    }
}

void ColourDialog::closeForMode() {
    closingForMode_ = true;
    finish(true);
}

void ColourDialog::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    if (host_.moved) {
        host_.moved(pos());
    }
}

ColourDialog* openColourDialog(AppSettings& settings, LevelPalette& active, ColourDialogHost host,
                               QWidget* parent, std::optional<QPoint> where) {
    if (ColourDialog* open = colourDialog(parent)) {
        return open;
    }
    host.paletteChanged();
    auto* d = new ColourDialog(settings, active, std::move(host), where, parent);
    d->setAttribute(Qt::WA_DeleteOnClose);
    d->show();
    return d;
}

// The window's child until it is deleted (after its close).
ColourDialog* colourDialog(const QWidget* parent) {
    if (parent == nullptr) {
        return nullptr;
    }
    for (QDialog* d : parent->findChildren<QDialog*>(Qt::FindDirectChildrenOnly)) {
        if (auto* colours = dynamic_cast<ColourDialog*>(d)) {
            return colours;
        }
    }
    return nullptr;
}

void closeColourDialog(const QWidget* parent) {
    if (ColourDialog* d = colourDialog(parent)) {
        d->closeForMode();
    }
}

} // namespace korv
