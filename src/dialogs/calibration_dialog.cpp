#include "dialogs/calibration_dialog.h"

#include "analysis/calibration_edit.h"
#include "dialogs/dialog_frame.h"
#include "platform/prompts.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <cmath>

namespace korv {

namespace {

constexpr int kPickDistance = 5; // pixels around a point that pick it
constexpr int kGraphWidth = 34 * 12;
constexpr int kGraphHeight = 60 * 4 + 10;
const QColor kPointColour(0, 0, 0);
const QColor kPickedColour(200, 0, 0);

class Graph : public QWidget {
  public:
    Graph(CalibrationDialog& owner, QWidget* parent) : QWidget(parent), owner_(owner) {
        setObjectName(controlName(ID_CALIBRATION_GRAPH));
        setAccessibleName(QStringLiteral("Calibration curve"));
        setMouseTracking(true);
        setFixedSize(kGraphWidth, kGraphHeight);
    }

  protected:
    void paintEvent(QPaintEvent*) override { owner_.paintGraph(*this); }
    void mouseMoveEvent(QMouseEvent* e) override { owner_.mouseMovedTo(e->position().toPoint()); }
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) {
            owner_.mousePressedAt(e->position().toPoint());
        }
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) {
            owner_.mouseReleased();
        }
    }

  private:
    CalibrationDialog& owner_;
};

QLabel* label(const char* text, QWidget* parent) {
    return new QLabel(QString::fromLatin1(text), parent);
}

} // namespace

CalibrationDialog::CalibrationDialog(CalibrationCurve& stored, Prompts& prompts, QWidget* parent)
    : QDialog(parent), stored_(stored), prompts_(prompts), working_(stored) {
    setObjectName(controlName(CALIBRATION_DIALOG_ID));
    setWindowTitle(QStringLiteral("Frequency Calibration"));
    setModal(true);
    auto* top = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    graph_ = new Graph(*this, this);
    auto* levels = new QVBoxLayout;
    for (const char* text : {"+30 dB", "+15 dB", "  0  dB", "-15 dB", "-30 dB"}) {
        levels->addWidget(label(text, this));
        levels->addStretch();
    }
    grid->addLayout(levels, 0, 0);
    grid->addWidget(graph_, 0, 1);
    auto* freqs = new QHBoxLayout;
    for (const char* text : {"10 Hz", "100 Hz", "1 kHz", "10 kHz", "20 kHz"}) {
        freqs->addWidget(label(text, this));
        freqs->addStretch();
    }
    grid->addLayout(freqs, 1, 1);
    top->addLayout(grid);
    readout_ = new QLineEdit(this);
    readout_->setObjectName(controlName(ID_CALIBRATION_READOUT));
    readout_->setReadOnly(true);
    readout_->setAccessibleName(QStringLiteral("Point under the pointer"));
    top->addWidget(readout_);

    auto* row = new QHBoxLayout;
    const auto add = [this, row](int id, const char* text) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(controlName(id));
        b->setAutoDefault(false);
        row->addWidget(b);
        return b;
    };
    QPushButton* ok = add(kOkButtonId, "OK");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CalibrationDialog::accept);
    connect(add(ID_CALIBRATION_CONNECT, "Connect"), &QPushButton::clicked, this,
            [this] { connectPoints(); });
    connect(add(ID_CALIBRATION_ZERO, "Zero"), &QPushButton::clicked, this, [this] {
        zeroCalibrationCurve(working_);
        graph_->update();
    });
    connect(add(ID_CALIBRATION_RESTORE, "Restore"), &QPushButton::clicked, this, [this] {
        working_ = stored_;
        graph_->update();
    });
    connect(add(ID_CALIBRATION_IMPORT, "Import..."), &QPushButton::clicked, this,
            [this] { import(); });
    subtract_ = new QCheckBox(QStringLiteral("File lists the response (subtract it)"), this);
    subtract_->setObjectName(controlName(ID_CALIBRATION_SUBTRACT));
    row->addWidget(subtract_);
    top->addLayout(row);

    presentTitle(*this);
    adjustSize();
    if (const QScreen* where = screen()) {
        const QRect area = where->geometry();
        const QSize size = frameGeometry().size();
        move(area.x() + std::max(0, (area.width() - size.width()) / 2),
             area.y() + std::max(0, (area.height() - size.height()) / 2));
    }
}

void CalibrationDialog::paintGraph(QWidget& graph) {
    QPainter p(&graph);
    p.fillRect(graph.rect(), palette().color(QPalette::Light));
    const auto g = CalibrationGraph::forSize(graph.width(), graph.height());
    for (int i = 0; i < kCalibrationPointsUsed; ++i) {
        const bool picked = i == current_ || i == previous_;
        p.fillRect(QRect(g.pointX(i) - 1,
                         g.pointY(working_[static_cast<std::size_t>(i)].correctionDb) - 1, 3, 3),
                   picked ? kPickedColour : kPointColour);
    }
}

void CalibrationDialog::showReadout(int point, float levelDb) {
    const float hz = working_[static_cast<std::size_t>(point)].frequencyHz;
    const std::string text =
        hz <= 100.0f ? QString::asprintf("%-3.1f Frequency (Hz)    %-2.1f Level (dB)",
                                         static_cast<double>(hz), static_cast<double>(levelDb))
                           .toStdString()
                     : QString::asprintf("%-2u Frequency (Hz)    %-2.1f Level (dB)",
                                         static_cast<unsigned>(std::max(hz, 0.0f)),
                                         static_cast<double>(levelDb))
                           .toStdString();
    readout_->setText(QString::fromStdString(text));
}

void CalibrationDialog::mouseMovedTo(QPoint at) {
    const auto g = CalibrationGraph::forSize(graph_->width(), graph_->height());
    const float level = g.levelAt(at.y());
    if (dragging_) {
        working_[static_cast<std::size_t>(current_)].correctionDb = level;
        showReadout(current_, level);
        graph_->update();
        return;
    }
    const int near = static_cast<int>(g.xStep / 2.0f);
    for (int i = 0; i < kCalibrationPointsUsed; ++i) {
        if (std::abs(g.pointX(i) - at.x()) < near) {
            showReadout(i, level);
            return;
        }
    }
}

void CalibrationDialog::mousePressedAt(QPoint at) {
    const auto g = CalibrationGraph::forSize(graph_->width(), graph_->height());
    dragging_ = false;
    for (int i = 0; i < kCalibrationPointsUsed; ++i) {
        const int y = g.pointY(working_[static_cast<std::size_t>(i)].correctionDb);
        if (std::abs(g.pointX(i) - at.x()) <= kPickDistance &&
            std::abs(y - at.y()) <= kPickDistance) {
            previous_ = current_;
            current_ = i;
            dragging_ = true;
            break;
        }
    }
    graph_->update();
}

void CalibrationDialog::connectPoints() {
    connectCalibrationPoints(working_, previous_, current_);
    graph_->update();
}

void CalibrationDialog::import() {
    FileRequest request;
    request.title = QStringLiteral("Import Calibration File");
    request.filter = QStringLiteral("Calibration Files (*.txt *.cal *.frd);;All Files (*)");
    const std::optional<QString> path = prompts_.openFile(request);
    if (!path) {
        return;
    }
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly)) {
        prompts_.message(QStringLiteral("The calibration file cannot be opened."),
                         MessageIcon::Warning);
        return;
    }
    // One byte past the limit is enough to know the file is too large.
    const QByteArray bytes = file.read(static_cast<qint64>(kCalibrationFileMaxBytes) + 1);
    const CalibrationImport result = importCalibrationText(
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), working_,
        subtract_->isChecked() ? CalibrationSign::ResponseToRemove
                               : CalibrationSign::CorrectionToAdd);
    if (!result.ok) {
        prompts_.message(QString::fromStdString(result.error) +
                             QStringLiteral(" The curve is unchanged."),
                         MessageIcon::Warning);
        return;
    }
    working_ = result.curve;
    graph_->update();
    readout_->setText(QStringLiteral("%1 points read from %2")
                          .arg(result.pointsRead)
                          .arg(QFileInfo(*path).fileName()));
    if (result.pointsClamped > 0) {
        prompts_.message(QStringLiteral("%1 corrections were beyond 30 dB and have been limited "
                                        "to +30 or -30 dB.")
                             .arg(result.pointsClamped),
                         MessageIcon::None);
    }
}

void CalibrationDialog::accept() {
    stored_ = working_;
    QDialog::accept();
}

bool runCalibrationDialog(Prompts& prompts, CalibrationCurve& stored) {
    CalibrationDialog box(stored, prompts);
    return prompts.runDialog(box);
}

} // namespace korv
