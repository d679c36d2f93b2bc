#pragma once
// The dialogs' controls found by their ids or their accessible names and used as a user does:
// clicks on the real buttons, typing into the real fields.

#include "dialogs/control_ids.h"
#include "dialogs/dialog_values.h"
#include "platform/prompts.h" // controlName

#include <QAbstractButton>
#include <QDialog>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdint>

namespace korv::test {

template <typename W> W* control(QDialog& dialog, int id) {
    W* widget = dialog.findChild<W*>(controlName(id));
    EXPECT_NE(widget, nullptr) << "control " << id;
    return widget;
}

// The first child of type W whose accessible name is `name`: what a screen reader finds.
template <typename W> W* named(QWidget& parent, const QString& name) {
    for (W* w : parent.findChildren<W*>()) {
        if (w->accessibleName() == name) {
            return w;
        }
    }
    ADD_FAILURE() << "no control named " << name.toStdString();
    return nullptr;
}

inline QRadioButton* radio(QDialog& d, int id) {
    return control<QRadioButton>(d, id);
}
inline QScrollBar* bar(QDialog& d, int id) {
    return control<QScrollBar>(d, id);
}
inline QString editText(QDialog& d, int id) {
    return control<QLineEdit>(d, id)->text();
}
inline void click(QDialog& d, int id) {
    // A real mouse click on the indicator (a stretched radio button hits only its indicator
    // and text, not its middle); the dialog is shown so it is laid out.
    if (!d.isVisible()) {
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
    }
    QAbstractButton* button = control<QAbstractButton>(d, id);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(4, button->height() / 2));
}
inline void typeInto(QDialog& d, int id, const QString& text) {
    QLineEdit* line = control<QLineEdit>(d, id);
    line->clear();
    QTest::keyClicks(line, text);
}

inline RunValues fileRun(std::int32_t rate, std::int64_t begin, std::int64_t end) {
    RunValues run;
    run.sampleRateHz = rate;
    run.beginMsec = begin;
    run.endMsec = end;
    return run;
}

} // namespace korv::test
