#include "dialogs/calibration_dialog.h"

#include "analysis/calibration_edit.h"
#include "audio/calibration_file.h"
#include "dialogs/dialog_frame.h"
#include "platform/prompts.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <vector>

namespace korv {

namespace {

constexpr int kPickDistance = 5; // pixels around a point that pick it
constexpr int kLabelGap = 4;     // pixels between the graph and its axis labels
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
    auto* l = new QLabel(QString::fromLatin1(text), parent);
    l->adjustSize();
    return l;
}

// The graph with its axis labels, each beside the point it names: the levels at their heights
// on the left, the frequencies under their points.
QWidget* labelledGraph(QWidget* graph, QWidget* parent) {
    struct Mark {
        const char* text;
        float value; // dB, or the index of the curve point
    };
    constexpr Mark kLevels[] = {{"+30 dB", 30.0f},
                                {"+15 dB", 15.0f},
                                {"  0  dB", 0.0f},
                                {"-15 dB", -15.0f},
                                {"-30 dB", -30.0f}};
    // 10 Hz, 100 Hz, 1 kHz and 10 kHz are every tenth third-octave point; 20 kHz the last.
    constexpr Mark kFrequencies[] = {
        {"10 Hz", 0.0f}, {"100 Hz", 10.0f}, {"1 kHz", 20.0f}, {"10 kHz", 30.0f}, {"20 kHz", 33.0f}};
    auto* box = new QWidget(parent);
    const auto g = CalibrationGraph::forSize(graph->width(), graph->height());
    std::vector<QLabel*> levels;
    std::vector<QLabel*> freqs;
    int left = 0;
    int lineHeight = 0;
    int rightReach = 0;
    for (const Mark& m : kLevels) {
        levels.push_back(label(m.text, box));
        left = std::max(left, levels.back()->width());
        lineHeight = std::max(lineHeight, levels.back()->height());
    }
    for (const Mark& m : kFrequencies) {
        freqs.push_back(label(m.text, box));
        const int x = g.pointX(static_cast<int>(m.value));
        rightReach = std::max(rightReach, x + (freqs.back()->width() + 1) / 2 - graph->width());
    }
    left += kLabelGap;
    const int top = lineHeight / 2;
    graph->setParent(box);
    graph->move(left, top);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        QLabel* l = levels[i];
        l->move(left - kLabelGap - l->width(), top + g.pointY(kLevels[i].value) - l->height() / 2);
    }
    // A label that would run into the one before it (10 and 20 kHz are three points apart)
    // goes a line lower.
    int rows = 1;
    int previousRight = -kLabelGap;
    for (std::size_t i = 0; i < freqs.size(); ++i) {
        QLabel* l = freqs[i];
        const int x = left + g.pointX(static_cast<int>(kFrequencies[i].value)) - l->width() / 2;
        const bool lower = x < previousRight + kLabelGap;
        rows = lower ? 2 : rows;
        l->move(x, top + graph->height() + kLabelGap / 2 + (lower ? lineHeight : 0));
        previousRight = lower ? previousRight : x + l->width();
    }
    box->setFixedSize(left + graph->width() + std::max(rightReach, 0),
                      top + graph->height() + kLabelGap / 2 + rows * lineHeight);
    return box;
}

} // namespace

CalibrationDialog::CalibrationDialog(CalibrationCurve& stored, Prompts& prompts, QWidget* parent)
    : QDialog(parent), stored_(stored), prompts_(prompts), working_(stored) {
    setObjectName(controlName(CALIBRATION_DIALOG_ID));
    setWindowTitle(QStringLiteral("Frequency Calibration"));
    setModal(true);
    auto* top = new QVBoxLayout(this);
    graph_ = new Graph(*this, this);
    top->addWidget(labelledGraph(graph_, this));
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
    const CalibrationImport result =
        readCalibrationFile(QFile::encodeName(*path).toStdString(), working_,
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
