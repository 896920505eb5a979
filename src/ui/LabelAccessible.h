#pragma once
// The accessible side of every QLabel of the tool. A caption is spoken as
// its text, as Qt does; a value display that a caption names (its buddy, or
// a name given in a form's table) is spoken by that name, and what it shows
// (a serial number, "1.3", a reading) is its value, so naming it does not
// silence it.
#include <QAccessibleWidget>

class QLabel;

class TLabelAccessible final : public QAccessibleWidget {
public:
    explicit TLabelAccessible(QLabel* label);

    QAccessible::Role role() const override;
    QString text(QAccessible::Text t) const override;
    QList<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(
        QAccessible::Relation match = QAccessible::AllRelations) const override;

    // For QAccessible::installFactory.
    static QAccessibleInterface* Factory(const QString& className, QObject* object);

private:
    QLabel* Label() const;
    QString Shown() const;
};
