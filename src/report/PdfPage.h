#pragma once
// The layout of the tool's printed documents on A4: a title band, sections
// of label/value rows, a verdict in large type, a signature line, a footer,
// and tables that run over pages. Positions are kept in millimetres and
// turned into the writer's device units here.
#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPdfWriter>
#include <QString>
#include <QStringList>

#include <vector>

// Every document of the tool: PDF/A-1b, A4 without margins (the page lays
// out its own), 300 dpi, titled and signed as Beamdock's.
void PrepareDocument(QPdfWriter& writer, const QString& title);

class TPdfPage {
public:
    explicit TPdfPage(QPdfWriter& writer);

    void Title(const QString& title, const QString& subtitle);
    void Section(const QString& heading);
    void Field(const QString& label, const QString& value);
    void Verdict(const QString& result);
    void Signature(const QString& label);
    void Footer(const QStringList& lines);

    // A table row: `widths` in millimetres; a new page (with the header row
    // again) when the row would not fit.
    void TableHeader(const QStringList& cells, const std::vector<double>& widths);
    void TableRow(const QStringList& cells, const std::vector<double>& widths, const QColor& tint = Qt::transparent);
    void Line(const QString& text);

private:
    double Px(double mm) const;
    void Text(double x, double y, double w, double h, const QString& text, const QFont& font, int flags,
              const QColor& colour = Qt::black);
    void NewPageIfBelow(double height);

    QPdfWriter& FWriter;
    QPainter FPainter;
    double FY = 0;  // mm from the top
    QStringList FHeader;
    std::vector<double> FHeaderWidths;
    QFont FBody, FBold, FSmall, FHeading, FTitle, FVerdict;
};
