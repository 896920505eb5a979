#include "FileDialogs.h"

#include <QFileDialog>

QString DialogFilter(const QString& filter)
{
    // "description|pattern", pairs after each other: "Image File|*.img|All files|*".
    const QStringList parts = filter.split(QLatin1Char('|'));
    if (parts.size() < 2)
        return filter;
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        filters << parts[i] + QStringLiteral(" (") + parts[i + 1] + QLatin1Char(')');
    return filters.join(QStringLiteral(";;"));
}

namespace {

std::optional<QString> Chosen(QFileDialog& dialog)
{
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

}  // namespace

std::optional<QString> AskOpenFileName(QWidget* parent, const RFileRequest& request)
{
    QFileDialog dialog(parent, request.title, request.folder, DialogFilter(request.filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(request.defaultSuffix);
    return Chosen(dialog);
}

std::optional<QString> AskSaveFileName(QWidget* parent, const RFileRequest& request)
{
    QFileDialog dialog(parent, request.title, request.folder, DialogFilter(request.filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    return Chosen(dialog);
}
