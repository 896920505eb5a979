#include "Accessibility.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QWidget>

#include <algorithm>

#include "LabelAccessible.h"

namespace accessibility {

QString SpokenCaption(const QString& caption)
{
    QString spoken;
    spoken.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption.at(i) != QLatin1Char('&')) {
            spoken += caption.at(i);
        } else if (i + 1 < caption.size() && caption.at(i + 1) == QLatin1Char('&')) {
            spoken += QLatin1Char('&');
            ++i;
        }
    }
    return spoken.simplified();
}

namespace {

void NameByOwnCaptions(QWidget* form)
{
    for (QAbstractButton* button : form->findChildren<QAbstractButton*>()) {
        if (!button->text().isEmpty())
            button->setAccessibleName(SpokenCaption(button->text()));
    }
    for (QGroupBox* group : form->findChildren<QGroupBox*>()) {
        if (!group->title().isEmpty())
            group->setAccessibleName(SpokenCaption(group->title()));
    }
    for (QTabWidget* tabs : form->findChildren<QTabWidget*>()) {
        for (int i = 0; i < tabs->count(); ++i)
            tabs->widget(i)->setAccessibleName(SpokenCaption(tabs->tabText(i)));
    }
}

void NameByBuddyLabels(QWidget* form)
{
    for (QLabel* label : form->findChildren<QLabel*>()) {
        if (label->buddy() && !label->text().isEmpty())
            label->buddy()->setAccessibleName(SpokenCaption(label->text()));
    }
}

QWidget* FindControl(QWidget* form, const char* objectName)
{
    const QString name = QString::fromLatin1(objectName);
    return form->objectName() == name ? form : form->findChild<QWidget*>(name);
}

}  // namespace

QStringList NameControls(QWidget* form, std::span<const RAccessibleText> texts)
{
    NameByOwnCaptions(form);
    NameByBuddyLabels(form);
    QStringList missing;
    for (const RAccessibleText& row : texts) {
        QWidget* control = FindControl(form, row.objectName);
        if (!control) {
            missing << QString::fromLatin1(row.objectName);
            continue;
        }
        if (row.name)
            control->setAccessibleName(QString::fromUtf8(row.name));
        if (row.description)
            control->setAccessibleDescription(QString::fromUtf8(row.description));
    }
    return missing;
}

void ShowStatusText(QLabel* status, const QString& text)
{
    status->setText(text);
    const QString name = text.isEmpty() ? QString::fromLatin1(kIdleStatusName) : text;
    if (status->accessibleName() != name) {
        // Qt sends the name-change event itself.
        status->setAccessibleName(name);
        return;
    }
    QAccessibleEvent changed(status, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
}

void PressButtonsOnEnter(QWidget* form)
{
    // A plain window has no default button; an auto-default push button
    // takes Enter (and keypad Enter) itself while it has the focus.
    for (QPushButton* button : form->findChildren<QPushButton*>())
        button->setAutoDefault(true);
}

QWidget* NextInTabOrder(const std::vector<QWidget*>& order, QWidget* focus, bool forward)
{
    const auto count = static_cast<std::ptrdiff_t>(order.size());
    std::ptrdiff_t current = -1;
    for (QWidget* w = focus; w && current < 0; w = w->parentWidget()) {
        const auto found = std::find(order.begin(), order.end(), w);
        if (found != order.end())
            current = found - order.begin();
    }
    if (current < 0)
        return nullptr;
    for (std::ptrdiff_t step = 1; step < count; ++step) {
        const std::ptrdiff_t i = ((current + (forward ? step : -step)) % count + count) % count;
        QWidget* candidate = order[static_cast<std::size_t>(i)];
        if (candidate->isVisible() && candidate->isEnabled() && (candidate->focusPolicy() & Qt::TabFocus))
            return candidate;
    }
    return nullptr;
}

void InstallLabelInterface()
{
    static const bool installed = [] {
        QAccessible::installFactory(&TLabelAccessible::Factory);
        return true;
    }();
    (void)installed;
}

}  // namespace accessibility
