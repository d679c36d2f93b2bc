#include "app/sound_level_window.h"

#include "meter/levels.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace korv {

namespace {

// The window's first size: beside a main window on a 1366 x 768 screen.
constexpr int kFirstWidth = 390;
constexpr int kFirstHeight = 580;
// The bars' level axis: its span and step.
constexpr double kAxisSpanDb = 80.0;
constexpr double kAxisStepDb = 10.0;

constexpr meter::FrequencyWeighting kWeightings[] = {
    meter::FrequencyWeighting::A, meter::FrequencyWeighting::C, meter::FrequencyWeighting::Z};
constexpr meter::TimeWeighting kTimeWeightings[] = {
    meter::TimeWeighting::F, meter::TimeWeighting::S, meter::TimeWeighting::I};
constexpr int kBandWidths[] = {0, 1, 3, 6, 12, 24};

const char* weightingText(meter::FrequencyWeighting w) {
    return w == meter::FrequencyWeighting::C ? "C" : w == meter::FrequencyWeighting::Z ? "Z" : "A";
}
const char* timeWeightingText(meter::TimeWeighting t) {
    return t == meter::TimeWeighting::S ? "S" : t == meter::TimeWeighting::I ? "I" : "F";
}

QString bandWidthText(int perOctave) {
    return perOctave == 0 ? QStringLiteral("no bands")
                          : QStringLiteral("1/%1 octave").arg(perOctave);
}

QString secondsText(double s) {
    return s <= 0.0 ? QStringLiteral("whole") : QStringLiteral("%1 s").arg(s, 0, 'g', 6);
}

QLabel* valueLabel(const QString& accessibleName, QWidget* parent) {
    auto* l = new QLabel(QStringLiteral("—"), parent);
    l->setAccessibleName(accessibleName);
    // A long value ("silence (below -200 dBFS)") takes two lines rather than widening a
    // window that fills the width the main window leaves.
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    l->setFocusPolicy(Qt::TabFocus);
    QFont f = l->font();
    f.setPointSizeF(f.pointSizeF() * 1.4);
    f.setBold(true);
    l->setFont(f);
    return l;
}

} // namespace

// From the band's own label, so 1/1 and 1/3 octave bars read the nominal frequencies the
// tool's columns name ("8k", "3.15k", not the exact 7943 or 3162 Hz).
QString bandAxisLabel(const meter::Band& band) {
    const QString label = QString::fromStdString(band.label);
    bool ok = false;
    const double hz = label.toDouble(&ok);
    if (!ok || hz < 1000.0) {
        return label;
    }
    return QString::number(hz / 1000.0, 'g', 3) + QStringLiteral("k");
}

// The band levels as bars over their mid-band frequencies, on a level axis with its unit.
class SoundLevelWindow::BarGraph : public QWidget {
  public:
    explicit BarGraph(QWidget* parent) : QWidget(parent) {
        setMinimumSize(240, 180);
        setFocusPolicy(Qt::TabFocus);
    }
    void setBars(std::vector<meter::Band> bands, std::vector<double> levels, double shiftDb,
                 QString unit) {
        bands_ = std::move(bands);
        levels_ = std::move(levels);
        shift_ = shiftDb;
        unit_ = std::move(unit);
        setAccessibleName(QStringLiteral("Band levels (%1)").arg(unit_));
        QStringList parts;
        for (std::size_t b = 0; b < bands_.size() && b < levels_.size(); ++b) {
            parts << QStringLiteral("%1 Hz %2 %3")
                         .arg(QString::fromStdString(bands_[b].label))
                         .arg(levels_[b] + shift_, 0, 'f', 1)
                         .arg(unit_);
        }
        setAccessibleDescription(parts.join(QStringLiteral(", ")));
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().base());
        const QFontMetrics fm(font());
        const int left = fm.horizontalAdvance(QStringLiteral("-000")) + 6;
        const int top = 2 * fm.height();
        const int bottom = height() - fm.height() - 6;
        const int right = width() - 4;
        if (bottom <= top || right <= left) {
            return;
        }
        double highest = -1e9;
        for (const double l : levels_) {
            highest = std::max(highest, l + shift_);
        }
        const double axisTop =
            levels_.empty() ? 0.0 : std::ceil((highest + 1.0) / kAxisStepDb) * kAxisStepDb;
        const double axisBottom = axisTop - kAxisSpanDb;
        const auto yOf = [&](double db) {
            const double f = std::clamp((axisTop - db) / kAxisSpanDb, 0.0, 1.0);
            return top + static_cast<int>(std::lround(f * (bottom - top)));
        };
        p.setPen(palette().text().color());
        p.drawText(QRect(0, 0, left + 40, top), Qt::AlignLeft | Qt::AlignVCenter, unit_);
        for (double db = axisBottom; db <= axisTop + 0.01; db += kAxisStepDb) {
            const int y = yOf(db);
            p.setPen(palette().mid().color());
            p.drawLine(left, y, right, y);
            p.setPen(palette().text().color());
            p.drawText(QRect(0, y - fm.height() / 2, left - 4, fm.height()),
                       Qt::AlignRight | Qt::AlignVCenter, QString::number(db, 'f', 0));
        }
        const auto n = static_cast<int>(std::min(bands_.size(), levels_.size()));
        if (n == 0) {
            return;
        }
        const double slot = static_cast<double>(right - left) / n;
        // Every k-th band is labelled, as many as fit side by side.
        const int labelWidth = fm.horizontalAdvance(QStringLiteral("12.5k")) + 4;
        const int every = std::max(1, static_cast<int>(std::ceil(labelWidth / slot)));
        for (int b = 0; b < n; ++b) {
            const int x0 = left + static_cast<int>(b * slot) + 1;
            const int x1 = left + static_cast<int>((b + 1) * slot) - 1;
            const int y = yOf(levels_[static_cast<std::size_t>(b)] + shift_);
            p.fillRect(QRect(QPoint(x0, y), QPoint(std::max(x0, x1), bottom)),
                       palette().highlight());
            if (b % every == 0) {
                p.setPen(palette().text().color());
                p.drawText(QRect(x0 - labelWidth / 2 + static_cast<int>(slot / 2), bottom + 3,
                                 labelWidth, fm.height()),
                           Qt::AlignCenter, bandAxisLabel(bands_[static_cast<std::size_t>(b)]));
            }
        }
    }

  private:
    std::vector<meter::Band> bands_;
    std::vector<double> levels_;
    double shift_ = 0.0;
    QString unit_;
};

SoundLevelWindow::SoundLevelWindow(Preferences& preferences, std::function<void()> changed,
                                   std::function<void(bool)> logRequested, QWidget* parent)
    : QWidget(parent, Qt::Window), preferences_(preferences), changed_(std::move(changed)),
      logRequested_(std::move(logRequested)) {
    setObjectName(QStringLiteral("soundLevelWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    header_ = new QLabel(this);
    header_->setObjectName(QStringLiteral("soundLevelHeader"));
    header_->setAccessibleName(QStringLiteral("Measurement"));
    QFont bold = header_->font();
    bold.setBold(true);
    header_->setFont(bold);
    header_->setWordWrap(true);
    source_ = new QLabel(QStringLiteral("Nothing measured yet: run Scan File, Scan Input or "
                                        "Analyze File"),
                         this);
    source_->setAccessibleName(QStringLiteral("Measured"));
    source_->setWordWrap(true);
    layout->addWidget(header_);
    layout->addWidget(source_);

    auto* values = new QGridLayout;
    const auto row = [&](int r, QLabel*& name, QLabel*& value, const QString& accessible) {
        name = new QLabel(this);
        value = valueLabel(accessible, this);
        name->setBuddy(value);
        values->addWidget(name, r, 0);
        values->addWidget(value, r, 1, Qt::AlignRight);
    };
    row(0, nowName_, now_, QStringLiteral("Level now"));
    row(1, leqName_, leq_, QStringLiteral("Leq"));
    row(2, lmaxName_, lmax_, QStringLiteral("Lmax"));
    row(3, lminName_, lmin_, QStringLiteral("Lmin"));
    QLabel* peakName = nullptr;
    row(4, peakName, lcpeak_, QStringLiteral("LCpeak"));
    peakName->setText(QStringLiteral("LCpeak"));
    row(5, bandLimitedName_, bandLimited_, QStringLiteral("Band-limited Leq"));
    layout->addLayout(values);
    bars_ = new BarGraph(this);
    bars_->setObjectName(QStringLiteral("soundLevelBars"));
    layout->addWidget(bars_, 1);
    note_ = new QLabel(this);
    note_->setAccessibleName(QStringLiteral("Note"));
    note_->setWordWrap(true);
    layout->addWidget(note_);
    buildSettings();
    resize(kFirstWidth, kFirstHeight);
    if (parent != nullptr) {
        placeBeside(*parent);
    }
    refresh();
}

// Beside `main` on its screen: at its right when the screen has room; else `main` moves to
// the screen's left edge and this window takes the width left, when that is at least its
// least width (a 1366-wide laptop); else at the screen's right edge, over part of `main`.
void SoundLevelWindow::placeBeside(QWidget& main) {
    const QScreen* screen = main.screen();
    if (screen == nullptr) {
        return;
    }
    const QRect free = screen->availableGeometry();
    ensurePolished(); // its least width with the fonts it is shown in
    // This window is not shown yet: its frame is taken to be as wide and tall as main's.
    const QSize frame = main.frameGeometry().size() - main.size();
    const int height = std::min(kFirstHeight, free.height() - frame.height());
    int width = kFirstWidth;
    int left = main.frameGeometry().right() + 1;
    if (left + width + frame.width() > free.right() + 1) {
        const int room = free.width() - main.frameGeometry().width() - frame.width();
        if (room >= minimumSizeHint().width()) {
            main.move(free.left(), main.pos().y());
            width = std::min(width, room);
            left = free.left() + main.frameGeometry().width();
        } else {
            left = free.right() + 1 - width - frame.width();
        }
    }
    resize(width, height);
    move(left, std::clamp(main.pos().y(), free.top(), free.bottom() + 1 - height - frame.height()));
}

void SoundLevelWindow::buildSettings() {
    auto* form = new QFormLayout;
    // Fields under their labels where the window is narrow (beside a main window on a laptop).
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    weighting_ = new QComboBox(this);
    for (const auto w : kWeightings) {
        weighting_->addItem(QString::fromLatin1(weightingText(w)));
    }
    weighting_->setAccessibleName(QStringLiteral("Frequency weighting"));
    timeWeighting_ = new QComboBox(this);
    for (const auto t : kTimeWeightings) {
        timeWeighting_->addItem(QString::fromLatin1(timeWeightingText(t)));
    }
    timeWeighting_->setAccessibleName(QStringLiteral("Time weighting"));
    bandWidth_ = new QComboBox(this);
    for (const int b : kBandWidths) {
        bandWidth_->addItem(bandWidthText(b), b);
    }
    bandWidth_->setAccessibleName(QStringLiteral("Band width"));
    interval_ = new QDoubleSpinBox(this);
    interval_->setRange(0.0, 86400.0);
    interval_->setDecimals(3);
    interval_->setSuffix(QStringLiteral(" s"));
    interval_->setSpecialValueText(QStringLiteral("whole run"));
    interval_->setAccessibleName(QStringLiteral("Interval"));
    fullScaleEdit_ = new QLineEdit(this);
    fullScaleEdit_->setPlaceholderText(QStringLiteral("not calibrated"));
    fullScaleEdit_->setAccessibleName(QStringLiteral("Full-scale level (dB SPL)"));
    log_ = new QPushButton(QStringLiteral("Log to File…"), this);
    log_->setCheckable(true);
    log_->setAccessibleName(QStringLiteral("Log to File"));
    logFile_ = new QLabel(this);
    logFile_->setAccessibleName(QStringLiteral("Log file"));
    logFile_->setWordWrap(true);
    auto* weights = new QHBoxLayout;
    weights->addWidget(weighting_);
    weights->addWidget(timeWeighting_);
    weights->addWidget(bandWidth_);
    auto* weightsLabel = new QLabel(QStringLiteral("&Weighting:"), this);
    weightsLabel->setBuddy(weighting_);
    form->addRow(weightsLabel, weights);
    auto* intervalLabel = new QLabel(QStringLiteral("&Interval:"), this);
    intervalLabel->setBuddy(interval_);
    form->addRow(intervalLabel, interval_);
    auto* fullScaleLabel = new QLabel(QStringLiteral("&Full scale (dB SPL):"), this);
    fullScaleLabel->setBuddy(fullScaleEdit_);
    form->addRow(fullScaleLabel, fullScaleEdit_);
    form->addRow(log_, logFile_);
    static_cast<QVBoxLayout*>(layout())->addLayout(form);

    const auto at = [](const auto& list, auto value) {
        const auto* found = std::find(std::begin(list), std::end(list), value);
        return static_cast<int>(found == std::end(list) ? 0 : found - std::begin(list));
    };
    weighting_->setCurrentIndex(at(kWeightings, preferences_.meterWeighting));
    timeWeighting_->setCurrentIndex(at(kTimeWeightings, preferences_.meterTimeWeighting));
    bandWidth_->setCurrentIndex(at(kBandWidths, preferences_.meterBandsPerOctave));
    interval_->setValue(preferences_.meterIntervalSeconds);
    for (QComboBox* box : {weighting_, timeWeighting_, bandWidth_}) {
        connect(box, &QComboBox::currentIndexChanged, this, [this](int) { settingsChanged(); });
    }
    connect(interval_, &QDoubleSpinBox::valueChanged, this, [this](double) { settingsChanged(); });
    connect(fullScaleEdit_, &QLineEdit::editingFinished, this, [this] { fullScaleTyped(); });
    connect(log_, &QPushButton::clicked, this, [this](bool on) {
        log_->setChecked(!on); // the log's state is the program's to set
        logRequested_(on);
    });
}

void SoundLevelWindow::settingsChanged() {
    preferences_.meterWeighting = kWeightings[std::max(weighting_->currentIndex(), 0)];
    preferences_.meterTimeWeighting = kTimeWeightings[std::max(timeWeighting_->currentIndex(), 0)];
    preferences_.meterBandsPerOctave = kBandWidths[std::max(bandWidth_->currentIndex(), 0)];
    preferences_.meterIntervalSeconds = interval_->value();
    refresh();
    if (changed_) {
        changed_();
    }
}

void SoundLevelWindow::fullScaleTyped() {
    const QString text = fullScaleEdit_->text().trimmed();
    bool ok = false;
    const double db = text.toDouble(&ok);
    if (text.isEmpty()) {
        fullScale_.reset();
    } else if (ok && std::isfinite(db) && db > 0.0 && db < 250.0) {
        fullScale_ = db;
    } else {
        note_->setText(QStringLiteral("\"%1\" is no full-scale level: give the dB SPL a "
                                      "full-scale sine reads (0 to 250)")
                           .arg(text));
        fullScaleEdit_->setText(fullScale_ ? QString::number(*fullScale_, 'f', 1) : QString());
        return;
    }
    refresh();
}

void SoundLevelWindow::setFullScale(std::optional<double> fullScaleDb) {
    fullScale_ = fullScaleDb;
    fullScaleEdit_->setText(fullScale_ ? QString::number(*fullScale_, 'f', 1) : QString());
    refresh();
}

void SoundLevelWindow::setRunning(bool running) {
    for (QWidget* w : std::initializer_list<QWidget*>{weighting_, timeWeighting_, bandWidth_,
                                                      interval_, fullScaleEdit_}) {
        w->setEnabled(!running);
    }
}

void SoundLevelWindow::setLogFile(const std::optional<QString>& path) {
    log_->setChecked(path.has_value());
    logFile_->setText(path ? *path : QString());
}

QString SoundLevelWindow::unit() const {
    return fullScale_ ? QStringLiteral("dB") : QStringLiteral("dBFS");
}

QString SoundLevelWindow::header() const {
    const QString w = QString::fromLatin1(weightingText(preferences_.meterWeighting));
    const QString t = QString::fromLatin1(timeWeightingText(preferences_.meterTimeWeighting));
    const QString scale =
        fullScale_ ? QStringLiteral("dB SPL (full scale %1 dB)").arg(*fullScale_, 0, 'f', 1)
                   : QStringLiteral("dBFS (not calibrated)");
    return QStringLiteral("L%1%2, %3, %4, %5")
        .arg(w, t, bandWidthText(preferences_.meterBandsPerOctave),
             secondsText(preferences_.meterIntervalSeconds), scale);
}

QString SoundLevelWindow::level(double dbfs) const {
    if (dbfs <= meter::kSilenceFloorDbFs) {
        return QStringLiteral("silence (below %1 %2)")
            .arg(meter::kSilenceFloorDbFs + fullScale_.value_or(0.0), 0, 'f', 0)
            .arg(unit());
    }
    return QStringLiteral("%1 %2").arg(dbfs + fullScale_.value_or(0.0), 0, 'f', 1).arg(unit());
}

void SoundLevelWindow::showReading(const SoundLevelReading& reading) {
    reading_ = reading;
    refresh();
}

void SoundLevelWindow::refresh() {
    const QString h = header();
    header_->setText(h);
    setWindowTitle(QStringLiteral("Sound Level — ") + h);
    const QString w = QString::fromLatin1(weightingText(preferences_.meterWeighting));
    const QString wt = w + QString::fromLatin1(timeWeightingText(preferences_.meterTimeWeighting));
    nowName_->setText(QStringLiteral("L%1 now").arg(wt));
    leqName_->setText(QStringLiteral("L%1eq").arg(w));
    lmaxName_->setText(QStringLiteral("L%1max").arg(wt));
    lminName_->setText(QStringLiteral("L%1min").arg(wt));
    now_->setAccessibleName(nowName_->text());
    leq_->setAccessibleName(leqName_->text());
    lmax_->setAccessibleName(lmaxName_->text());
    lmin_->setAccessibleName(lminName_->text());
    const bool measured = reading_.seconds > 0.0;
    if (measured) {
        source_->setText(
            QStringLiteral("%1, %2 s").arg(reading_.source).arg(reading_.seconds, 0, 'f', 1));
    }
    now_->setText(reading_.levelNow ? level(*reading_.levelNow) : QStringLiteral("—"));
    leq_->setText(measured ? level(reading_.leq) : QStringLiteral("—"));
    lmax_->setText(measured ? level(reading_.lmax) : QStringLiteral("—"));
    lmin_->setText(measured ? level(reading_.lmin) : QStringLiteral("—"));
    lcpeak_->setText(measured ? level(reading_.lcpeak) : QStringLiteral("—"));
    const bool limited = reading_.bandLimitedLeq.has_value();
    bandLimitedName_->setVisible(limited);
    bandLimited_->setVisible(limited);
    if (limited) {
        bandLimitedName_->setText(reading_.bandLimitedName);
        bandLimited_->setAccessibleName(reading_.bandLimitedName);
        bandLimited_->setText(level(*reading_.bandLimitedLeq));
    }
    for (QLabel* l : {now_, leq_, lmax_, lmin_, lcpeak_, bandLimited_}) {
        l->setAccessibleDescription(l->text());
    }
    note_->setText(reading_.note);
    bars_->setBars(reading_.bands, reading_.bandLevels, fullScale_.value_or(0.0), unit());
}

SoundLevelWindow* soundLevelWindow(const QWidget* parent) {
    if (parent == nullptr) {
        return nullptr;
    }
    for (QObject* child : parent->children()) {
        if (auto* w = dynamic_cast<SoundLevelWindow*>(child)) {
            return w;
        }
    }
    return nullptr;
}

} // namespace korv
