#include "dialogs/scope_markers_dialog.h"

#include "dialogs/dialog_frame.h"
#include "platform/prompts.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>

namespace korv {
namespace {

constexpr int MOVED_UP = 30; // centred on the screen, then this much higher

QLineEdit* markerRow(QWidget* owner, QVBoxLayout* into, int id, const char* label,
                     std::int32_t hz) {
    auto* row = new QHBoxLayout;
    auto* caption = new QLabel(QString::fromLatin1(label), owner);
    auto* line = new QLineEdit(owner);
    line->setObjectName(controlName(id));
    line->setMaxLength(MARKER_EDIT_MAX_CHARS);
    line->setValidator(new QRegularExpressionValidator(QRegularExpression("\\d*"), line));
    line->setText(QString::number(static_cast<std::uint32_t>(std::max(hz, 0))));
    // The label names the field for a screen reader too.
    caption->setBuddy(line);
    line->setAccessibleName(caption->text());
    row->addWidget(caption);
    row->addWidget(line);
    into->addLayout(row);
    return line;
}

} // namespace

std::int32_t markerFromText(const std::string& text) {
    // atoi without its undefined overflow: sign and digits, saturated far above the limit.
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0; ++i) {
        value = std::min(value * 10 + (text[i] - '0'), 1'000'000L);
    }
    return negative ? 0 : static_cast<std::int32_t>(std::min(value, long{MARKER_MAX_HZ}));
}

ScopeMarkersDialog::ScopeMarkersDialog(AppSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
    setObjectName(controlName(SCOPE_MARKERS_DIALOG_ID));
    setWindowTitle(QStringLiteral("Scope Markers"));
    setModal(true);
    auto* top = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Fixed Frequencies"), this);
    auto* fields = new QVBoxLayout(group);
    marker1_ = markerRow(this, fields, ID_MARKER1_EDIT, "Marker 1 (Hz)", settings.marker1Hz);
    marker2_ = markerRow(this, fields, ID_MARKER2_EDIT, "Marker 2 (Hz)", settings.marker2Hz);
    top->addWidget(group);
    addOkCancelRow(*this, *top);
    presentTitle(*this);
    adjustSize();
    centreDialogOnScreen(*this, MOVED_UP);
}

void ScopeMarkersDialog::accept() {
    settings_.marker1Hz = markerFromText(marker1_->text().toStdString());
    settings_.marker2Hz = markerFromText(marker2_->text().toStdString());
    QDialog::accept();
}

bool runScopeMarkersDialog(Prompts& prompts, AppSettings& settings) {
    ScopeMarkersDialog box(settings);
    return prompts.runDialog(box);
}

} // namespace korv
