#include "web/page_bill.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

#include <QCoreApplication>

#include "billing/bill_print.h"
#include "billing/rating.h"
#include "db/db_report.h"
#include "reports/report_session.h"
#include "web/html.h"
#include "web/office_files.h"

namespace {

const char* const kNoDepartment = "Без отдела";

// The office a bill is asked for: the one chosen, or the only one the user
// has; Error when the arguments are wrong or several are left to choose.
struct TBillChoice {
    TSiteChoice Choice;
    std::string Error;
};

TBillChoice ChooseOffice(pqxx::connection_base& db, const TPageRequest& request) {
    TBillChoice c{ChooseSites(db, request), {}};
    if (!c.Choice.Error.empty())
        c.Error = c.Choice.Error;
    else if (c.Choice.Site.empty() && c.Choice.Allowed.size() == 1)
        c.Choice.Site = c.Choice.Allowed.front();
    else if (c.Choice.Allowed.empty())
        c.Error = "Нет ни одного офиса.";
    else if (c.Choice.Site.empty())
        c.Error = "Выберите один офис: счёт составляется для одного офиса.";
    return c;
}

// The day number of the local date of t.
int32_t DayOf(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    int32_t day = 0;
    ParseIsoDate(text, day);
    return day;
}

std::string Hms(int64_t seconds) {
    if (seconds < 0) seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

void Add(TBillLine& sum, const TBillLine& line) {
    sum.Calls += line.Calls;
    sum.Seconds += line.Seconds;
    sum.Billed += line.Billed;
    sum.Cost += line.Cost;
}

// The figures of a line: calls, durations, cost (empty when not priced).
std::string Figures(const TBillLine& line) {
    return "<td class=\"n\">" + Html(std::to_string(line.Calls)) + "</td><td class=\"n\">" +
           Html(Hms(line.Seconds)) + "</td><td class=\"n\">" + Html(Hms(line.Billed)) +
           "</td><td class=\"n\">" + (line.Priced ? Html(KopecksText(line.Cost)) : "") + "</td>";
}

// The bill as the printed one lays it out: a table per department (by
// name, "Без отдела" last; one without a heading when nobody has one),
// per subscriber its zones and "Итого", the department's total, and the
// total of the bill.
std::string BillTables(const TBill& bill) {
    std::string page;
    const bool departments =
        std::any_of(bill.Subscribers.begin(), bill.Subscribers.end(),
                    [](const TBillSubscriber& s) { return !s.Department.empty(); });
    std::map<std::string, std::vector<const TBillSubscriber*>> named;
    std::vector<const TBillSubscriber*> none;
    for (const TBillSubscriber& s : bill.Subscribers)
        (s.Department.empty() ? none : named[s.Department]).push_back(&s);
    std::vector<std::pair<std::string, std::vector<const TBillSubscriber*>>> sections(named.begin(),
                                                                                      named.end());
    if (!none.empty()) sections.emplace_back(departments ? kNoDepartment : "", std::move(none));
    if (sections.empty()) page += "<p>Исходящих звонков за период нет.</p>\n";
    for (const auto& [name, subscribers] : sections) {
        page += "<section>\n";
        if (!name.empty()) page += "<h2>Отдел: " + Html(name) + "</h2>\n";
        page +=
            "<table>\n<tr><th>Абонент</th><th>Имя</th><th>Отдел</th><th>Зона</th>"
            "<th>Звонков</th><th>Длительность</th><th>Тарифицировано</th><th>Стоимость</th>"
            "</tr>\n";
        TBillLine total;
        for (const TBillSubscriber* s : subscribers) {
            bool first = true;
            for (const TBillLine& zone : s->Zones) {
                page += "<tr>";
                page += first ? "<td>" + Html(BillSubscriberLabel(bill, *s)) + "</td><td>" +
                                    Html(s->Name) + "</td><td>" + Html(s->Department) + "</td>"
                              : std::string("<td></td><td></td><td></td>");
                page += "<td>" + Html(zone.Zone) + "</td>" + Figures(zone) + "</tr>\n";
                first = false;
            }
            page += "<tr class=\"total\"><td></td><td></td><td></td><th>Итого</th>" +
                    Figures(s->Total) + "</tr>\n";
            Add(total, s->Total);
        }
        page += "<tr class=\"total\"><th colspan=\"4\">Итого по отделу</th>" + Figures(total) +
                "</tr>\n</table>\n</section>\n";
    }
    page +=
        "<table>\n<tr><th></th><th>Звонков</th><th>Длительность</th><th>Тарифицировано</th>"
        "<th>Стоимость</th></tr>\n<tr class=\"total\"><th>Итого по счёту</th>" +
        Figures(bill.Total) + "</tr>\n</table>\n";
    return page;
}

// The bill a download asks for, or the answer that says why there is none.
bool DownloadBill(pqxx::connection_base& db, const TPageRequest& request, TBill& bill,
                  TBillChoice& c, TPageAnswer& refused) {
    c = ChooseOffice(db, request);
    std::string error = c.Error;
    if (error.empty() && OfficeBill(db, c.Choice.Site, c.Choice.Period, bill, error)) return true;
    refused = ErrorAnswer(error == c.Error ? 400 : 409, "Счёт не составлен", error);
    return false;
}

}  // namespace

bool OfficeBill(pqxx::connection_base& db, const std::string& site, const TPeriod& period,
                TBill& bill, std::string& error) {
    const TOfficeBilling billing = LoadOfficeBilling(db, site);
    if (!billing.Error.empty()) {
        error = "Файл тарифов или справочник офиса " + site + " не читается: " + billing.Error;
        return false;
    }
    if (!billing.Tariffs) {
        error = "Для офиса " + site +
                " не загружен файл тарифов, счёт не составить. Его загружает администратор "
                "на странице «Тарифы».";
        return false;
    }
    TReportModel model;
    if (const TDbReportResult loaded = LoadDbCalls(db, {site}, period, model); !loaded.Ok()) {
        error = "Звонки офиса " + site + " не прочитаны: " + loaded.Error;
        return false;
    }
    // As tallyphon-report does: every call rated once, the bill taking
    // each call's rating.
    RateCalls(*billing.Tariffs, model.Calls());
    static const TDirectory kNoDirectory;
    bill = MakeBill(model.LineList(), *billing.Tariffs,
                    billing.Directory ? *billing.Directory : kNoDirectory, period, model.Sites());
    return true;
}

TPageAnswer BillPage(pqxx::connection_base& db, const TPageRequest& request) {
    TBillChoice c = ChooseOffice(db, request);
    std::string body = ChoiceForm(c.Choice, "/bill");
    TBill bill;
    // A wrong choice is told by the form already.
    std::string error = c.Choice.Error.empty() ? c.Error : "";
    if (c.Error.empty() && OfficeBill(db, c.Choice.Site, c.Choice.Period, bill, error)) {
        const TBillTitle title = BillTitleOf(c.Choice.Period, "", DayOf(request.Now));
        const std::string query = c.Choice.QueryString();
        body += "<p>Офис: " + Html(c.Choice.Site) + "    Период: " + Html(title.Period) +
                "    Составлен: " + Html(title.MadeOn) + "</p>\n<p><a href=\"" +
                Html("/bill.csv?" + query) + "\">Скачать CSV</a> <a href=\"" +
                Html("/bill.pdf?" + query) + "\">Скачать PDF</a></p>\n" + BillTables(bill);
    } else if (!error.empty()) {
        body += "<p class=\"error\">" + Html(error) + "</p>\n";
    }
    TPageAnswer answer;
    answer.Body = Framed("Счёт", "/bill", request.UserLabel(),
                         request.Role.Kind == TWebRole::TKind::Admin, request.Csrf, body);
    return answer;
}

TPageAnswer BillCsvPage(pqxx::connection_base& db, const TPageRequest& request) {
    TBill bill;
    TBillChoice c;
    TPageAnswer refused;
    if (!DownloadBill(db, request, bill, c, refused)) return refused;
    return Download(BillCsv(bill), "text/csv; charset=utf-8", "bill.csv");
}

TPageAnswer BillPdfPage(pqxx::connection_base& db, const TPageRequest& request) {
    TBill bill;
    TBillChoice c;
    TPageAnswer refused;
    if (!DownloadBill(db, request, bill, c, refused)) return refused;
    // Painting needs the fonts of the application main() made; pages are
    // painted one at a time, as the font database is shared.
    static std::mutex painting;
    std::string pdf;
    bool painted = false;
    if (QCoreApplication::instance()) {
        std::lock_guard<std::mutex> lock(painting);
        painted = BillPdf(bill, BillTitleOf(c.Choice.Period, "", DayOf(request.Now)), pdf);
    }
    if (!painted)
        return ErrorAnswer(500, "Счёт не составлен", "PDF не нарисован: нет шрифтов сервера.");
    return Download(std::move(pdf), "application/pdf", "bill.pdf");
}
