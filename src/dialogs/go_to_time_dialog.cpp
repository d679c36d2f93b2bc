#include "dialogs/go_to_time_dialog.h"

#include "dialogs/dialog_frame.h"
#include "platform/prompts.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace korv {

namespace {
constexpr int kEditChars = 16; // h:mm:ss.sss of a long recording, with room to spare
} // namespace

bool runGoToTimeDialog(Prompts& prompts, std::string& text) {
    QDialog box;
    box.setObjectName(controlName(GO_TO_TIME_DIALOG_ID));
    box.setWindowTitle(QStringLiteral("Go To Time"));
    box.setModal(true);
    auto* top = new QVBoxLayout(&box);
    auto* caption = new QLabel(QStringLiteral("Time in the file (seconds, or h:mm:ss):"), &box);
    auto* edit = new QLineEdit(QString::fromStdString(text), &box);
    edit->setObjectName(controlName(ID_GO_TO_TIME_EDIT));
    edit->setMaxLength(kEditChars * 2);
    edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * kEditChars);
    edit->selectAll();
    caption->setBuddy(edit);
    edit->setAccessibleName(caption->text());
    top->addWidget(caption);
    top->addWidget(edit);
    addOkCancelRow(box, *top);
    presentTitle(box);
    box.adjustSize();
    centreDialogOnScreen(box);
    if (!prompts.runDialog(box)) {
        return false;
    }
    text = edit->text().toStdString();
    return true;
}

} // namespace korv
