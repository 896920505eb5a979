#include "PdfPage.h"

#include <QPageSize>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPageWidth = 210.0;
constexpr double kPageHeight = 297.0;
constexpr double kMargin = 18.0;
constexpr double kRow = 6.0;
constexpr double kLabelWidth = 52.0;
constexpr double kFooterTop = kPageHeight - 22.0;
const QColor kInk(0x1F, 0x2A, 0x37);
const QColor kRule(0xB8, 0xC2, 0xCC);
const QColor kBand(0x1F, 0x3A, 0x5F);
const QColor kPass(0x1B, 0x7F, 0x3B);
const QColor kFail(0xB0, 0x1E, 0x1E);
const QColor kNeutral(0x6B, 0x72, 0x80);

QFont Font(double points, bool bold = false)
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

}  // namespace

void PrepareDocument(QPdfWriter& writer, const QString& title)
{
    writer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(300);
    writer.setTitle(title);
    writer.setCreator(QStringLiteral("Beamdock"));
}

TPdfPage::TPdfPage(QPdfWriter& writer)
    : FWriter(writer),
      FPainter(&writer),
      FBody(Font(10)),
      FBold(Font(10, true)),
      FSmall(Font(7.5)),
      FHeading(Font(11, true)),
      FTitle(Font(20, true)),
      FVerdict(Font(30, true))
{
    FY = kMargin;
}

double TPdfPage::Px(double mm) const
{
    return mm * FWriter.resolution() / 25.4;
}

void TPdfPage::Text(double x, double y, double w, double h, const QString& text, const QFont& font, int flags,
                    const QColor& colour)
{
    FPainter.setFont(font);
    FPainter.setPen(colour);
    FPainter.drawText(QRectF(Px(x), Px(y), Px(w), Px(h)), flags, text);
}

void TPdfPage::Title(const QString& title, const QString& subtitle)
{
    FPainter.fillRect(QRectF(0, 0, Px(kPageWidth), Px(kMargin + 16)), kBand);
    Text(kMargin, 8, 120, 12, title, FTitle, Qt::AlignLeft | Qt::AlignVCenter, Qt::white);
    Text(kMargin, 20, 120, 8, subtitle, FBody, Qt::AlignLeft | Qt::AlignVCenter, QColor(0xDD, 0xE6, 0xF0));
    Text(kPageWidth - kMargin - 50, 8, 50, 12, QStringLiteral("BEAMDOCK"), FHeading,
         Qt::AlignRight | Qt::AlignVCenter, Qt::white);
    FY = kMargin + 22;
}

void TPdfPage::Section(const QString& heading)
{
    NewPageIfBelow(2 * kRow + 4);
    FY += 3;
    Text(kMargin, FY, kPageWidth - 2 * kMargin, kRow, heading.toUpper(), FHeading, Qt::AlignLeft | Qt::AlignBottom,
         kBand);
    FY += kRow + 0.8;
    FPainter.setPen(QPen(kRule, Px(0.3)));
    FPainter.drawLine(QPointF(Px(kMargin), Px(FY)), QPointF(Px(kPageWidth - kMargin), Px(FY)));
    FY += 1.2;
}

void TPdfPage::Field(const QString& label, const QString& value)
{
    // A long value (a pass rule) wraps onto further lines of its own.
    const double width = kPageWidth - 2 * kMargin - kLabelWidth;
    FPainter.setFont(FBold);
    const QRectF needed = FPainter.boundingRect(QRectF(0, 0, Px(width), Px(kRow * 4)), Qt::TextWordWrap, value);
    const double lines = std::max(1.0, std::ceil(needed.height() / Px(kRow * 0.72)));
    const double height = lines > 1 ? kRow * 0.72 * lines + kRow * 0.28 : kRow;
    NewPageIfBelow(height);
    const double top = lines > 1 ? 0.8 : 0.0;
    const int vertical = lines > 1 ? Qt::AlignTop : Qt::AlignVCenter;
    Text(kMargin, FY + top, kLabelWidth, height, label, FBody, Qt::AlignLeft | vertical, kNeutral);
    Text(kMargin + kLabelWidth, FY + top, width, height, value, FBold, Qt::AlignLeft | vertical | Qt::TextWordWrap,
         kInk);
    FY += height;
}

void TPdfPage::Verdict(const QString& result)
{
    NewPageIfBelow(26);
    FY += 4;
    const QColor colour = result.startsWith(QStringLiteral("PASS")) || result == QStringLiteral("CHECK PASSED")
                              ? kPass
                              : (result.startsWith(QStringLiteral("FAIL")) ? kFail : kNeutral);
    const QRectF box(Px(kMargin), Px(FY), Px(kPageWidth - 2 * kMargin), Px(18));
    FPainter.setPen(QPen(colour, Px(0.8)));
    FPainter.setBrush(Qt::NoBrush);
    FPainter.drawRect(box);
    Text(kMargin + 5, FY, 40, 18, QStringLiteral("RESULT"), FHeading, Qt::AlignLeft | Qt::AlignVCenter, kNeutral);
    Text(kMargin, FY, kPageWidth - 2 * kMargin, 18, result, FVerdict, Qt::AlignCenter, colour);
    FY += 22;
}

void TPdfPage::Signature(const QString& label)
{
    const double y = std::max(FY + 12, kFooterTop - 14);
    FPainter.setPen(QPen(kInk, Px(0.3)));
    FPainter.drawLine(QPointF(Px(kMargin), Px(y)), QPointF(Px(kMargin + 80), Px(y)));
    FPainter.drawLine(QPointF(Px(kPageWidth - kMargin - 50), Px(y)), QPointF(Px(kPageWidth - kMargin), Px(y)));
    Text(kMargin, y + 1, 80, 5, label, FSmall, Qt::AlignLeft | Qt::AlignTop, kNeutral);
    Text(kPageWidth - kMargin - 50, y + 1, 50, 5, QStringLiteral("Date"), FSmall, Qt::AlignLeft | Qt::AlignTop,
         kNeutral);
}

void TPdfPage::Footer(const QStringList& lines)
{
    FPainter.setPen(QPen(kRule, Px(0.3)));
    FPainter.drawLine(QPointF(Px(kMargin), Px(kFooterTop)), QPointF(Px(kPageWidth - kMargin), Px(kFooterTop)));
    double y = kFooterTop + 1.5;
    for (const QString& line : lines) {
        Text(kMargin, y, kPageWidth - 2 * kMargin, 4.5, line, FSmall, Qt::AlignLeft | Qt::AlignVCenter, kNeutral);
        y += 4.5;
    }
}

void TPdfPage::TableHeader(const QStringList& cells, const std::vector<double>& widths)
{
    FHeader = cells;
    FHeaderWidths = widths;
    NewPageIfBelow(2 * kRow);
    FPainter.fillRect(QRectF(Px(kMargin), Px(FY), Px(kPageWidth - 2 * kMargin), Px(kRow)), QColor(0xE8, 0xEE, 0xF4));
    double x = kMargin;
    for (int i = 0; i < cells.size() && i < static_cast<int>(widths.size()); ++i) {
        Text(x + 1, FY, widths[static_cast<std::size_t>(i)] - 2, kRow, cells[i], Font(7.5, true),
             Qt::AlignLeft | Qt::AlignVCenter, kInk);
        x += widths[static_cast<std::size_t>(i)];
    }
    FY += kRow;
}

void TPdfPage::TableRow(const QStringList& cells, const std::vector<double>& widths, const QColor& tint)
{
    if (FY + kRow > kFooterTop - 2) {
        FWriter.newPage();
        FY = kMargin;
        if (!FHeader.isEmpty())
            TableHeader(FHeader, FHeaderWidths);
    }
    if (tint.alpha() > 0)
        FPainter.fillRect(QRectF(Px(kMargin), Px(FY), Px(kPageWidth - 2 * kMargin), Px(kRow)), tint);
    double x = kMargin;
    for (int i = 0; i < cells.size() && i < static_cast<int>(widths.size()); ++i) {
        Text(x + 1, FY, widths[static_cast<std::size_t>(i)] - 2, kRow, cells[i], FSmall,
             Qt::AlignLeft | Qt::AlignVCenter, kInk);
        x += widths[static_cast<std::size_t>(i)];
    }
    FY += kRow;
}

void TPdfPage::Line(const QString& text)
{
    NewPageIfBelow(kRow);
    Text(kMargin, FY, kPageWidth - 2 * kMargin, kRow, text, FBody, Qt::AlignLeft | Qt::AlignVCenter, kInk);
    FY += kRow;
}

void TPdfPage::NewPageIfBelow(double height)
{
    if (FY + height <= kFooterTop - 2)
        return;
    FWriter.newPage();
    FY = kMargin;
}
