#include "dialogs/dialog_frame.h"

#include "dialogs/parameter_rules.h"
#include "platform/prompts.h"

#include <QBoxLayout>
#include <QDialog>
#include <QFont>
#include <QFontMetrics>
#include <QLayout>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QSpacerItem>

#include <algorithm>

namespace korv {

void addOkCancelRow(QDialog& dialog, QBoxLayout& top) {
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setObjectName(controlName(kOkButtonId));
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
    cancel->setObjectName(controlName(kCancelButtonId));
    cancel->setAutoDefault(false);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    top.addLayout(buttons);
}

void centreDialogOnScreen(QDialog& dialog, int raisedBy) {
    const QScreen* where = dialog.screen();
    if (where == nullptr) {
        return;
    }
    const QRect area = where->geometry();
    const QSize size = dialog.frameGeometry().size();
    const ScreenPoint at =
        centredOnScreen(area.width(), area.height(), size.width(), size.height());
    dialog.move(area.x() + at.x, area.y() + std::max(0, at.y - raisedBy));
}

void presentTitle(QDialog& dialog, const char* name) {
    const QString title = dialog.windowTitle();
    dialog.setAccessibleName(title.isEmpty() && name != nullptr ? QString::fromLatin1(name)
                                                                : title);
    // Title bars use a bold font on most desktops; the buttons take about five lines' height.
    // A strut in the layout, so the layout still gives the dialog its least size.
    QFont bold = dialog.font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    QLayout* layout = dialog.layout();
    const int needed = metrics.horizontalAdvance(title) + 5 * metrics.height();
    if (layout == nullptr || layout->totalMinimumSize().width() >= needed) {
        return;
    }
    // Side by side the strut adds to the width; one above the other it sets it.
    const auto* box = qobject_cast<QBoxLayout*>(layout);
    const bool across = box != nullptr && (box->direction() == QBoxLayout::LeftToRight ||
                                           box->direction() == QBoxLayout::RightToLeft);
    const int strut = across ? needed - layout->totalMinimumSize().width() : needed;
    layout->addItem(new QSpacerItem(strut, 0, QSizePolicy::Fixed, QSizePolicy::Fixed));
}

void showReadOnly(QLineEdit& line, bool readOnly) {
    line.setReadOnly(readOnly);
    QPalette colours =
        line.parentWidget() != nullptr ? line.parentWidget()->palette() : line.palette();
    if (readOnly) {
        colours.setColor(QPalette::Base, colours.color(QPalette::Window));
    }
    line.setPalette(colours);
}

} // namespace korv
