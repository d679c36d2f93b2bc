#include "app/button_keys.h"

#include "app/command_ids.h"
#include "app/main_window.h"

#include <QPushButton>
#include <QShortcut>

namespace korv {

void installButtonKeys(MainWindow& window) {
    const std::pair<int, Qt::Key> keys[] = {{cmd::kPlay, Qt::Key_P},
                                            {cmd::kPlayWindow, Qt::Key_W},
                                            {cmd::kGrid, Qt::Key_G},
                                            {cmd::kPeakHold, Qt::Key_H}};
    for (const auto& [id, key] : keys) {
        QPushButton* button = window.button(id);
        if (button == nullptr) {
            continue;
        }
        auto* shortcut = new QShortcut(QKeySequence(key), &window);
        shortcut->setAutoRepeat(false);
        QObject::connect(shortcut, &QShortcut::activated, button, [button] {
            if (button->isEnabled()) {
                button->click();
            }
        });
        // The key stays with the button whatever it is called (PLAY is SAVE while recording).
        button->setToolTip(
            QStringLiteral("Key %1").arg(QKeySequence(key).toString(QKeySequence::NativeText)));
    }
}

} // namespace korv
