#include "LabelAccessible.h"

#include <QLabel>
#include <QPixmap>

#include "Accessibility.h"

TLabelAccessible::TLabelAccessible(QLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

QLabel* TLabelAccessible::Label() const
{
    return static_cast<QLabel*>(widget());
}

QString TLabelAccessible::Shown() const
{
    const QLabel* label = Label();
    // A label with a buddy draws "&" as its mnemonic; any other shows it.
    return label->buddy() ? accessibility::SpokenCaption(label->text()) : label->text().simplified();
}

QAccessible::Role TLabelAccessible::role() const
{
    return Label()->pixmap().isNull() ? QAccessible::StaticText : QAccessible::Graphic;
}

QString TLabelAccessible::text(QAccessible::Text t) const
{
    const QString given = Label()->accessibleName();
    switch (t) {
    case QAccessible::Name:
        return given.isEmpty() ? Shown() : given;
    case QAccessible::Value:
        // Named by something else than its text: what it shows is its value.
        return given.isEmpty() || given == Shown() ? QString() : Shown();
    default:
        return QAccessibleWidget::text(t);
    }
}

QList<QPair<QAccessibleInterface*, QAccessible::Relation>> TLabelAccessible::relations(
    QAccessible::Relation match) const
{
    auto related = QAccessibleWidget::relations(match);
    if ((match & QAccessible::Labelled) && Label()->buddy()) {
        if (QAccessibleInterface* buddy = QAccessible::queryAccessibleInterface(Label()->buddy()))
            related.append({buddy, QAccessible::Labelled});
    }
    return related;
}

QAccessibleInterface* TLabelAccessible::Factory(const QString& className, QObject* object)
{
    if (className != QLatin1String("QLabel"))
        return nullptr;
    auto* label = qobject_cast<QLabel*>(object);
    return label ? new TLabelAccessible(label) : nullptr;
}
