#include "FileDialogs.h"

#include <QFileDialog>

QString DialogFilter(const QString& filter)
{
    const qsizetype bar = filter.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return filter;
    return filter.left(bar) + QStringLiteral(" (") + filter.mid(bar + 1) + QLatin1Char(')');
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
