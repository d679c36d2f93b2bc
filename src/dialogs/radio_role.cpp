#include "dialogs/radio_role.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>

namespace korv {

namespace {

constexpr const char* kRadioRoleProperty = "korvRadioRole";

class RadioRoleButton : public QAccessibleWidget {
  public:
    explicit RadioRoleButton(QAbstractButton* button)
        : QAccessibleWidget(button, QAccessible::RadioButton), button_(button) {}
    [[nodiscard]] QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name && button_->accessibleName().isEmpty()
                   ? button_->text()
                   : QAccessibleWidget::text(t);
    }
    [[nodiscard]] QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button_->isChecked();
        return s;
    }
    [[nodiscard]] QStringList actionNames() const override {
        return {QAccessibleActionInterface::pressAction()};
    }
    void doAction(const QString& name) override {
        if (name == QAccessibleActionInterface::pressAction()) {
            button_->setChecked(true);
        }
    }

  private:
    QAbstractButton* button_;
};

QAccessibleInterface* radioRoleFactory(const QString& key, QObject* object) {
    auto* button = qobject_cast<QAbstractButton*>(object);
    if (key != QStringLiteral("QPushButton") || button == nullptr ||
        !button->property(kRadioRoleProperty).toBool()) {
        return nullptr;
    }
    return new RadioRoleButton(button);
}

} // namespace

void markRadioRole(QAbstractButton* button) {
    static const bool factoryInstalled = (QAccessible::installFactory(radioRoleFactory), true);
    (void)factoryInstalled;
    button->setProperty(kRadioRoleProperty, true);
}

} // namespace korv
