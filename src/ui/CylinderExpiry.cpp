#include "CylinderExpiry.h"

#include <QDateEdit>

namespace {
// The edit's lowest date stands for "not given".
const QDate kNotGiven(2000, 1, 1);
}  // namespace

QDateEdit* NewExpiryEdit(const QDate& remembered, QWidget* parent)
{
    auto* edit = new QDateEdit(parent);
    edit->setMinimumDate(kNotGiven);
    edit->setSpecialValueText(QStringLiteral("not given"));
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    edit->setDate(remembered.isValid() && remembered > kNotGiven ? remembered : kNotGiven);
    return edit;
}

QDate EnteredExpiry(const QDateEdit& edit)
{
    return edit.date() == edit.minimumDate() ? QDate() : edit.date();
}
