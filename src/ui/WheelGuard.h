#pragma once
// Spin boxes and combo boxes take the mouse wheel only when they have the
// focus. Otherwise the wheel goes on to the scroll box around them, so that
// scrolling a page past a control never changes the value under the pointer
// (which the next write would send to the unit).
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QEvent>
#include <QObject>
#include <QWidget>

class TWheelGuard : public QObject {
public:
    explicit TWheelGuard(QObject* parent) : QObject(parent) {}

    // Guards every spin and combo box inside `root`.
    void Guard(QWidget* root)
    {
        const auto guard = [this](QWidget* w) {
            // Without the wheel in the focus policy, a wheel turn does not
            // take the focus either.
            w->setFocusPolicy(Qt::StrongFocus);
            w->installEventFilter(this);
        };
        for (QAbstractSpinBox* spin : root->findChildren<QAbstractSpinBox*>())
            guard(spin);
        for (QComboBox* combo : root->findChildren<QComboBox*>())
            guard(combo);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Wheel) {
            auto* w = static_cast<QWidget*>(watched);
            if (!w->hasFocus()) {
                // Not taken here: the application hands it to the parents.
                event->ignore();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};
