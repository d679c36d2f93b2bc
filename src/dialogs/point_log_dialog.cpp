#include "dialogs/point_log_dialog.h"

#include "dialogs/dialog_frame.h"
#include "platform/prompts.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace korv {

namespace {

QLineEdit* valueRow(QWidget* owner, QFormLayout* into, int id, const char* label) {
    auto* line = new QLineEdit(owner);
    line->setObjectName(controlName(id));
    line->setReadOnly(true);
    line->setAccessibleName(QString::fromLatin1(label));
    into->addRow(QString::fromLatin1(label), line);
    return line;
}

} // namespace

PointLogDialog::PointLogDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(controlName(POINT_LOG_DIALOG_ID));
    setWindowTitle(QStringLiteral("Point Log - Click Point on Korvanthile"));
    setModal(false);
    auto* top = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Point Values"), this);
    auto* fields = new QFormLayout(group);
    time_ = valueRow(this, fields, ID_POINT_TIME_EDIT, "Time (msec)");
    frequency_ = valueRow(this, fields, ID_POINT_FREQUENCY_EDIT, "Frequency (Hz)");
    level_ = valueRow(this, fields, ID_POINT_LEVEL_EDIT, "Amplitude ");
    top->addWidget(group);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(controlName(kCancelButtonId));
    connect(cancel, &QPushButton::clicked, this, &PointLogDialog::reject);
    buttons->addWidget(cancel);
    top->addLayout(buttons);
    presentTitle(*this);
}

void PointLogDialog::showPoint(long timeMsec, long frequencyHz, long levelDb) {
    time_->setText(QString::number(timeMsec));
    frequency_->setText(QString::number(frequencyHz));
    level_->setText(QString::number(levelDb));
}

} // namespace korv
