#include "CylinderExpiry.h"

#include <QLineEdit>
#include <QRegularExpressionValidator>

QLineEdit* NewExpiryEdit(const QDate& remembered, QWidget* parent)
{
    auto* edit = new QLineEdit(remembered.isValid() ? remembered.toString(Qt::ISODate) : QString(), parent);
    edit->setPlaceholderText(QStringLiteral("YYYY-MM-DD, from the label"));
    edit->setMaxLength(10);
    edit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,4}(-\\d{0,2}(-\\d{0,2})?)?")), edit));
    return edit;
}

QDate EnteredExpiry(const QLineEdit& edit)
{
    return QDate::fromString(edit.text().trimmed(), Qt::ISODate);
}
