#include "billing/bill_print.h"

#include <algorithm>
#include <map>
#include <vector>

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QString>

#include "base/fd.h"

namespace {

const char* const kFontFamily = "DejaVu Sans";
const char* const kNoDepartment = "Без отдела";

QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Seconds as h:mm:ss, hours not limited.
QString Hms(int64_t seconds) {
    if (seconds < 0) seconds = 0;
    return QString("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QChar('0'))
        .arg(seconds % 60, 2, 10, QChar('0'));
}

void Add(TBillLine& sum, const TBillLine& line) {
    sum.Calls += line.Calls;
    sum.Seconds += line.Seconds;
    sum.Billed += line.Billed;
    sum.Cost += line.Cost;
}

struct TSection {
    std::string Name;  // empty when the bill knows no departments
    std::vector<const TBillSubscriber*> Subscribers;
    TBillLine Total;
};

// Departments by name, subscribers without one last under kNoDepartment;
// within each the bill's own order. One nameless section when no
// subscriber has a department.
std::vector<TSection> Sections(const TBill& bill) {
    const bool departments =
        std::any_of(bill.Subscribers.begin(), bill.Subscribers.end(),
                    [](const TBillSubscriber& s) { return !s.Department.empty(); });
    std::map<std::string, TSection> named;
    TSection none;
    none.Name = departments ? kNoDepartment : "";
    for (const TBillSubscriber& s : bill.Subscribers) {
        TSection& section = s.Department.empty() ? none : named[s.Department];
        section.Name = s.Department.empty() ? none.Name : s.Department;
        section.Subscribers.push_back(&s);
        Add(section.Total, s.Total);
    }
    std::vector<TSection> sections;
    for (auto& [name, section] : named)
        sections.push_back(std::move(section));
    if (!none.Subscribers.empty() || sections.empty()) sections.push_back(std::move(none));
    return sections;
}

enum class TRowKind { Subscriber, Zone, SubscriberTotal, SectionTotal, GrandTotal };

struct TRow {
    TRowKind Kind;
    const TBillSubscriber* Subscriber = nullptr;
    const TBillLine* Line = nullptr;
    bool Continued = false;  // a subscriber's name again on its next page
};

struct TPage {
    const TSection* Section = nullptr;
    bool Continued = false;
    std::vector<TRow> Rows;
};

// Sizes in device pixels, from the device's resolution.
struct TGeometry {
    explicit TGeometry(const QPagedPaintDevice& device)
        : Width(device.width()), Height(device.height()), Mm(device.logicalDpiY() / 25.4) {}
    double Width, Height, Mm;
};

class TBillPainter {
  public:
    TBillPainter(QPainter& painter, const TGeometry& g, const TBill& bill, const TBillTitle& title)
        : p_(painter), g_(g), bill_(bill), title_(title) {
        body_ = QFont(kFontFamily);
        body_.setPointSizeF(9);
        bold_ = body_;
        bold_.setBold(true);
        heading_ = bold_;
        heading_.setPointSizeF(13);
        small_ = body_;
        small_.setPointSizeF(8);
        p_.setFont(body_);
        line_ = QFontMetricsF(body_, p_.device()).height() * 1.35;
    }

    double RowHeight(TRowKind kind) const {
        // Room to breathe after a subscriber and before the totals.
        return kind == TRowKind::SubscriberTotal ? line_ * 1.5
               : kind == TRowKind::SectionTotal  ? line_ * 1.5
               : kind == TRowKind::GrandTotal    ? line_ * 2
                                                 : line_;
    }
    double BodyTop(const TPage& page) const { return HeaderHeight(page.Section); }
    double BodyBottom() const { return g_.Height - line_ * 1.5; }

    double HeaderHeight(const TSection* section) const {
        const QFontMetricsF heading(heading_, p_.device());
        double h = heading.height() * 1.3 + line_ * (title_.ExchangeName.empty() ? 2 : 3);
        if (!section->Name.empty()) h += line_ * 1.2;
        return h + line_ * 1.4;  // the column heads and their rule
    }

    void Paint(const TPage& page, int number, int count) {
        double y = 0;
        p_.setFont(heading_);
        const double headingHeight = QFontMetricsF(heading_, p_.device()).height();
        Text(QRectF(0, y, g_.Width, headingHeight), Qt::AlignLeft, "Счёт за телефонные переговоры");
        y += headingHeight * 1.3;
        p_.setFont(body_);
        Text(Row(y), Qt::AlignLeft, "Период: " + Q(title_.Period));
        y += line_;
        if (!title_.ExchangeName.empty()) {
            Text(Row(y), Qt::AlignLeft, "Станция: " + Q(title_.ExchangeName));
            y += line_;
        }
        Text(Row(y), Qt::AlignLeft, "Составлен: " + Q(title_.MadeOn));
        y += line_;
        if (!page.Section->Name.empty()) {
            p_.setFont(bold_);
            Text(Row(y + line_ * 0.2), Qt::AlignLeft,
                 "Отдел: " + Q(page.Section->Name) + (page.Continued ? " (продолжение)" : ""));
            y += line_ * 1.2;
        }
        y += line_ * 0.2;
        p_.setFont(bold_);
        Cells(y, "Абонент, зона", "Звонков", "Длительность", "Тарифицировано", "Стоимость");
        y += line_;
        Rule(y, 1);
        y += line_ * 0.2;
        for (const TRow& row : page.Rows)
            y = PaintRow(row, y);
        p_.setFont(small_);
        Text(QRectF(0, BodyBottom(), g_.Width, line_ * 1.5), Qt::AlignRight | Qt::AlignBottom,
             QString("Стр. %1 из %2").arg(number).arg(count));
    }

  private:
    QRectF Row(double y) const { return QRectF(0, y, g_.Width, line_); }

    void Text(const QRectF& r, int align, const QString& text) {
        const QString shown =
            p_.fontMetrics().horizontalAdvance(text) > r.width()
                ? p_.fontMetrics().elidedText(text, Qt::ElideRight, int(r.width()))
                : text;
        p_.drawText(r, align | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    }

    void Rule(double y, double weight) {
        QPen pen(Qt::black);
        pen.setWidthF(g_.Mm * 0.2 * weight);
        p_.setPen(pen);
        p_.drawLine(QPointF(0, y), QPointF(g_.Width, y));
    }

    // The five columns: text, then four right-aligned figures.
    void Cells(double y, const QString& text, const QString& calls, const QString& seconds,
               const QString& billed, const QString& cost, double indent = 0) {
        static const double edges[] = {0, 0.32, 0.43, 0.60, 0.80, 1.0};
        const QString cells[] = {text, calls, seconds, billed, cost};
        for (int i = 0; i < 5; ++i) {
            const double left = g_.Width * edges[i] + (i == 0 ? indent : g_.Mm * 2);
            const double right = g_.Width * edges[i + 1];
            Text(QRectF(left, y, right - left, line_), i == 0 ? Qt::AlignLeft : Qt::AlignRight,
                 cells[i]);
        }
    }

    void Figures(double y, const QString& text, const TBillLine& line, double indent = 0) {
        Cells(y, text, QString::number(line.Calls), Hms(line.Seconds), Hms(line.Billed),
              line.Priced ? Q(KopecksText(line.Cost)) : QString(), indent);
    }

    double PaintRow(const TRow& row, double y) {
        switch (row.Kind) {
            case TRowKind::Subscriber: {
                p_.setFont(bold_);
                const QString name = Q(row.Subscriber->Name);
                Text(Row(y), Qt::AlignLeft,
                     Q(BillSubscriberLabel(bill_, *row.Subscriber)) +
                         (name.isEmpty() ? "" : "   " + name) +
                         (row.Continued ? " (продолжение)" : ""));
                break;
            }
            case TRowKind::Zone:
                p_.setFont(body_);
                Figures(y, Q(row.Line->Zone), *row.Line, g_.Mm * 5);
                break;
            case TRowKind::SubscriberTotal:
                p_.setFont(bold_);
                Figures(y, "Итого", *row.Line, g_.Mm * 5);
                break;
            case TRowKind::SectionTotal:
                Rule(y + line_ * 0.25, 1);
                p_.setFont(bold_);
                Figures(y + line_ * 0.4, "Итого по отделу", *row.Line);
                break;
            case TRowKind::GrandTotal:
                Rule(y + line_ * 0.4, 1);
                Rule(y + line_ * 0.55, 1);
                p_.setFont(bold_);
                Figures(y + line_ * 0.8, "Итого по счёту", *row.Line);
                break;
        }
        return y + RowHeight(row.Kind);
    }

    QPainter& p_;
    const TGeometry& g_;
    const TBill& bill_;
    const TBillTitle& title_;
    QFont body_, bold_, heading_, small_;
    double line_ = 0;
};

// Splits the bill into pages: each section from a fresh page, a
// subscriber kept on one page when it fits on one.
std::vector<TPage> Layout(const TBillPainter& painter, const std::vector<TSection>& sections,
                          const TBill& bill) {
    std::vector<TPage> pages;
    double y = 0, top = 0;
    const double bottom = painter.BodyBottom();
    const auto newPage = [&](const TSection& section, bool continued) {
        pages.push_back({&section, continued, {}});
        top = y = painter.BodyTop(pages.back());
    };
    const auto place = [&](const TRow& row) {
        const double h = painter.RowHeight(row.Kind);
        // A page takes at least one row, however small the paper.
        if (y + h > bottom && !pages.back().Rows.empty()) {
            newPage(*pages.back().Section, true);
            // A subscriber's lines go on under its name.
            if (row.Kind == TRowKind::Zone || row.Kind == TRowKind::SubscriberTotal) {
                pages.back().Rows.push_back({TRowKind::Subscriber, row.Subscriber, nullptr, true});
                y += painter.RowHeight(TRowKind::Subscriber);
            }
        }
        pages.back().Rows.push_back(row);
        y += h;
    };
    for (const TSection& section : sections) {
        newPage(section, false);
        for (const TBillSubscriber* s : section.Subscribers) {
            double h = painter.RowHeight(TRowKind::Subscriber) +
                       painter.RowHeight(TRowKind::Zone) * double(s->Zones.size()) +
                       painter.RowHeight(TRowKind::SubscriberTotal);
            if (y + h > bottom && h <= bottom - top && !pages.back().Rows.empty())
                newPage(section, true);
            place({TRowKind::Subscriber, s, nullptr});
            for (const TBillLine& zone : s->Zones)
                place({TRowKind::Zone, s, &zone});
            place({TRowKind::SubscriberTotal, s, &s->Total});
        }
        if (!section.Name.empty()) place({TRowKind::SectionTotal, nullptr, &section.Total});
    }
    place({TRowKind::GrandTotal, nullptr, &bill.Total});
    return pages;
}

}  // namespace

int PaintBill(QPagedPaintDevice& device, const TBill& bill, const TBillTitle& title) {
    QPainter painter;
    if (!painter.begin(&device)) return 0;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const TGeometry geometry(device);
    TBillPainter bills(painter, geometry, bill, title);
    const std::vector<TSection> sections = Sections(bill);
    const std::vector<TPage> pages = Layout(bills, sections, bill);
    const int count = static_cast<int>(pages.size());
    for (int i = 0; i < count; ++i) {
        if (i > 0) device.newPage();
        bills.Paint(pages[size_t(i)], i + 1, count);
    }
    painter.end();
    return count;
}

bool BillPdf(const TBill& bill, const TBillTitle& title, std::string& pdf) {
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 12, 12, 12), QPageLayout::Millimeter);
        writer.setResolution(600);
        writer.setTitle("Счёт");
        writer.setCreator("Tallyphon");
        if (PaintBill(writer, bill, title) == 0) return false;
    }
    pdf.assign(bytes.constData(), size_t(bytes.size()));
    return true;
}

TFileResult WriteBillPdf(const TBill& bill, const TBillTitle& title, const std::string& path,
                         const TWriteControl& control) {
    return WriteFileReplacing(
        path,
        [&](int fd, const std::string&) -> TFileResult {
            // Made in memory first: the writer's device hides the system's
            // error of a failed write, which the message must tell.
            std::string pdf;
            if (!BillPdf(bill, title, pdf)) return {TFileStatus::Failed, 0};
            if (control.Progress && !control.Progress(0, 1)) return {TFileStatus::Cancelled, 0};
            if (!WriteAll(fd, pdf.data(), pdf.size())) return {TFileStatus::CannotWrite, errno};
            if (control.Progress) control.Progress(1, 1);
            return {};
        },
        control);
}
