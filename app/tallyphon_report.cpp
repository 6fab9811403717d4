// tallyphon-report: the report window's work without a window, for reports
// made on a schedule. It loads a call-log file, sorts the lists, runs the
// subscriber query and writes the same export files, byte for byte, as the
// window does after the same commands: the fixed-column files, the CSV files
// and (but for its creation time) the spreadsheet workbook.
#include <algorithm>
#include <array>
#include <cerrno>
#include <clocale>
#include <ctime>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QGuiApplication>

#include "base/staged_files.h"
#include "billing/directory.h"
#include "billing/period.h"
#include "billing/tariffs.h"
#include "calllog/calllog_loader.h"
#include "db/db_config.h"
#include "db/db_report.h"
#include "db/schema.h"
#include "reports/output_clash.h"
#include "reports/report_export.h"
#include "reports/report_locale.h"
#include "reports/report_session.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kExportFailed = 1;

const char* const kUsage =
    "Использование: tallyphon-report ЖУРНАЛ [параметры]\n"
    "       tallyphon-report --db СТРОКА [--site ПЛОЩАДКА ...] [параметры]\n"
    "       tallyphon-report --db СТРОКА --create-schema\n"
    "\n"
    "Загружает журнал звонков, записанный Tallyphon, и, как окно выборки данных,\n"
    "сортирует списки абонентских и соединительных линий, выбирает звонки\n"
    "одного абонента и записывает файлы с колонками постоянной ширины\n"
    "(Windows-1251, CR LF). Без параметров записи печатает число звонков, для\n"
    "файла ещё число его строк и сколько из них не звонки, и оба списка.\n"
    "\n"
    "  --sort-lines hw|prg|out|in|total  сортировать абонентские линии по\n"
    "                                    аппаратному номеру, программному номеру,\n"
    "                                    исходящему, входящему или общему трафику\n"
    "  --sort-trunks trunk|out|in|total  сортировать соединительные линии по\n"
    "                                    номеру, исходящему, входящему или общему\n"
    "                                    трафику\n"
    "  --number ЦИФРЫ     оставить звонки этого абонента (не больше 4 цифр),\n"
    "                     сравнивая с программным номером\n"
    "  --hardware         сравнивать --number с аппаратным номером\n"
    "  --prefix ЦИФРЫ     оставить звонки, набранный номер которых начинается\n"
    "                     с ЦИФР\n"
    "  --calls ФАЙЛ       записать звонки (все или выбранные)\n"
    "  --lines ФАЙЛ       записать абонентские линии\n"
    "  --trunks ФАЙЛ      записать соединительные линии\n"
    "\n"
    "Те же три таблицы для электронных таблиц:\n"
    "  --xlsx ФАЙЛ        записать одну книгу XLSX с листами \"Звонки\", \"АЛ\"\n"
    "                     и \"СЛ\" (даты, время и трафик ячейками даты и\n"
    "                     длительности, номера текстом)\n"
    "  --csv-calls ФАЙЛ   записать звонки в CSV (UTF-8 с меткой порядка байтов,\n"
    "                     поля через ';', концы строк CR LF)\n"
    "  --csv-lines ФАЙЛ   записать абонентские линии в CSV\n"
    "  --csv-trunks ФАЙЛ  записать соединительные линии в CSV\n"
    "\n"
    "Стоимость, имена и период:\n"
    "  --tariffs ФАЙЛ     оценить звонки по этому файлу тарифов (CSV, ';');\n"
    "                     файлы CSV и книга получают колонки зоны и стоимости\n"
    "  --subscribers ФАЙЛ имена и отделы абонентов (CSV, номер;имя;отдел)\n"
    "  --from ГГГГ-ММ-ДД  оставить звонки, начавшиеся в этот день или позже\n"
    "  --to ГГГГ-ММ-ДД    оставить звонки, начавшиеся в этот день или раньше;\n"
    "                     --from и --to ограничивают каждую запись\n"
    "  --bill-csv ФАЙЛ    записать счёт за период в CSV (нужен --tariffs)\n"
    "  --bill-pdf ФАЙЛ    записать печатный счёт за период в PDF формата A4\n"
    "                     (нужен --tariffs)\n"
    "  --exchange ИМЯ     название станции в заголовке печатного счёта\n"
    "                     (в журнале звонков его нет)\n"
    "  -h, --help         показать эту справку\n"
    "\n"
    "Звонки из базы данных PostgreSQL вместо журнала:\n"
    "  --db СТРОКА        строка подключения libpq (\"host=... dbname=...\" или\n"
    "                     postgresql://...); те же отчёты по звонкам площадок.\n"
    "                     Пароль держите в ~/.pgpass (права 0600), в файле из\n"
    "                     PGPASSFILE или passfile=: командную строку видит\n"
    "                     каждый (ps)\n"
    "  --site ПЛОЩАДКА    взять звонки этой площадки (можно повторять; без\n"
    "                     --site - всех площадок базы). Если площадок больше\n"
    "                     одной, у каждой свои абонентские и соединительные\n"
    "                     линии, а файлы CSV и книга получают первой колонку\n"
    "                     \"Площадка\"; файлы с колонками постоянной ширины - нет\n"
    "  --create-schema    сделать (или обновить) схему tallyphon, её таблицы и\n"
    "                     индексы, роли tallyphon_office, tallyphon_reader и\n"
    "                     tallyphon_web и их права; запускает владелец базы\n"
    "                     данных один раз\n"
    "\n"
    "Даты пишутся в кратком формате даты языковых настроек (LANG); без них или\n"
    "в локали C - как дд.ММ.гггг (05.03.2007), как в русской.\n"
    "Все файлы записи пишутся рядом с прежними и заменяют их вместе, только\n"
    "когда записаны все; журнал звонков, файлы тарифов и абонентов, канал или\n"
    "сокет не перезаписываются никогда.\n"
    "Код возврата: 0 готово, 1 запись не удалась или база данных недоступна\n"
    "(прежние файлы остаются), 2 неверные параметры, нечитаемый журнал\n"
    "звонков, площадка, которой нет в базе, отвергнутый файл тарифов или\n"
    "абонентов, или файл записи, который совпадает с входным файлом или с\n"
    "другим файлом записи (ни один файл не записан).\n";

struct TArguments {
    std::string CallLog;
    std::optional<std::string> Db;
    std::vector<std::string> Sites;
    std::optional<TALSortKey> SortLines;
    std::optional<TSLSortKey> SortTrunks;
    std::optional<std::string> Number;
    bool Hardware = false;
    std::optional<std::string> Prefix;
    std::optional<std::string> Calls, Lines, Trunks;
    std::optional<std::string> Xlsx, CsvCalls, CsvLines, CsvTrunks;
    std::optional<std::string> Tariffs, Subscribers, From, To, BillCsv, BillPdf;
    std::optional<std::string> Exchange;
    TPeriod Period;
    bool Help = false;
    bool CreateSchema = false;
};

// Every file an export option names.
std::array<const std::optional<std::string>*, 9> Outputs(const TArguments& args) {
    return {&args.Calls,    &args.Lines,     &args.Trunks,  &args.Xlsx,   &args.CsvCalls,
            &args.CsvLines, &args.CsvTrunks, &args.BillCsv, &args.BillPdf};
}

// Why the outputs named may not be written, before any is: one that would
// replace an input or another output; empty when none would.
std::string RefusedOutputs(const TArguments& args) {
    static const char* const options[] = {"--calls",      "--lines",     "--trunks",
                                          "--xlsx",       "--csv-calls", "--csv-lines",
                                          "--csv-trunks", "--bill-csv",  "--bill-pdf"};
    std::vector<TNamedFile> outputs;
    const auto files = Outputs(args);
    for (size_t i = 0; i < files.size(); ++i)
        if (*files[i]) outputs.push_back({**files[i], options[i]});
    const std::vector<TNamedFile> inputs = {
        {args.CallLog, "загруженный журнал звонков"},
        {args.Tariffs.value_or(""), "файл тарифов"},
        {args.Subscribers.value_or(""), "справочник абонентов"}};
    return OutputsClash(outputs, inputs);
}

// Qt's notes about the environment (no XDG_RUNTIME_DIR under cron) would
// have cron mail every bill; only its errors are told.
void QtErrorsOnly(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::cerr << "tallyphon-report: " << text.toStdString() << "\n";
}

// Today's day number, as the period counts days.
int32_t Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    int32_t day = 0;
    ParseIsoDate(text, day);
    return day;
}

bool AllDigits(std::string_view s) {
    return s.find_first_not_of("0123456789") == std::string_view::npos;
}

std::optional<TALSortKey> LineSortKey(const std::string& word) {
    if (word == "hw") return TALSortKey::HwLine;
    if (word == "prg") return TALSortKey::PrgLine;
    if (word == "out") return TALSortKey::OutTraffic;
    if (word == "in") return TALSortKey::InTraffic;
    if (word == "total") return TALSortKey::TotalTraffic;
    return std::nullopt;
}

std::optional<TSLSortKey> TrunkSortKey(const std::string& word) {
    if (word == "trunk") return TSLSortKey::Trunk;
    if (word == "out") return TSLSortKey::OutTraffic;
    if (word == "in") return TSLSortKey::InTraffic;
    if (word == "total") return TSLSortKey::TotalTraffic;
    return std::nullopt;
}

// Reads the command line into args; on a mistake returns its description.
std::optional<std::string> Parse(int argc, char** argv, TArguments& args) {
    std::vector<std::string_view> rest(argv + 1, argv + argc);
    for (size_t i = 0; i < rest.size(); ++i) {
        std::string_view arg = rest[i];
        // A call log named "-h" is given as "-- -h" or "./-h".
        if (arg == "-h") {
            args.Help = true;
            continue;
        }
        if (arg.substr(0, 2) != "--" || arg == "--") {
            if (!args.CallLog.empty()) return "указано больше одного журнала звонков";
            if (arg == "--" && i + 1 < rest.size()) arg = rest[++i];
            if (arg.empty() || arg == "--") return "пустое имя журнала звонков";
            args.CallLog = std::string(arg);
            continue;
        }
        std::string_view name = arg;
        std::optional<std::string_view> inlineValue;
        if (const size_t eq = arg.find('='); eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        if (name == "--help" || name == "--hardware" || name == "--create-schema") {
            if (inlineValue) return std::string(name) + " не принимает значения";
            (name == "--help"       ? args.Help
             : name == "--hardware" ? args.Hardware
                                    : args.CreateSchema) = true;
            continue;
        }
        const auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) return std::string(*inlineValue);
            if (i + 1 < rest.size()) return std::string(rest[++i]);
            return std::nullopt;
        };
        const auto once = [&](auto& slot) -> std::optional<std::string> {
            if (slot) return std::string(name) + " указан дважды";
            auto v = value();
            if (!v) return std::string(name) + " требует значения";
            slot = std::move(*v);
            return std::nullopt;
        };
        std::optional<std::string> text, error;
        if (name == "--sort-lines") {
            if (args.SortLines) return "--sort-lines указан дважды";
            if ((error = once(text))) return error;
            args.SortLines = LineSortKey(*text);
            if (!args.SortLines) return "--sort-lines принимает hw, prg, out, in или total";
        } else if (name == "--sort-trunks") {
            if (args.SortTrunks) return "--sort-trunks указан дважды";
            if ((error = once(text))) return error;
            args.SortTrunks = TrunkSortKey(*text);
            if (!args.SortTrunks) return "--sort-trunks принимает trunk, out, in или total";
        } else if (name == "--number") {
            if ((error = once(args.Number))) return error;
            if (args.Number->empty() || args.Number->size() > 4 || !AllDigits(*args.Number))
                return "--number принимает от одной до четырёх цифр, а не \"" + *args.Number + "\"";
        } else if (name == "--prefix") {
            if ((error = once(args.Prefix))) return error;
            if (args.Prefix->empty() || !AllDigits(*args.Prefix))
                return "--prefix принимает только цифры, а не \"" + *args.Prefix + "\"";
        } else if (name == "--db") {
            if ((error = once(args.Db))) return error;
            if (args.Db->empty()) return "--db требует строку подключения";
        } else if (name == "--site") {
            std::optional<std::string> site;
            if ((error = once(site))) return error;
            if (site->empty()) return "--site требует имя площадки";
            args.Sites.push_back(std::move(*site));
        } else if (name == "--calls") {
            if ((error = once(args.Calls))) return error;
        } else if (name == "--lines") {
            if ((error = once(args.Lines))) return error;
        } else if (name == "--trunks") {
            if ((error = once(args.Trunks))) return error;
        } else if (name == "--xlsx") {
            if ((error = once(args.Xlsx))) return error;
        } else if (name == "--csv-calls") {
            if ((error = once(args.CsvCalls))) return error;
        } else if (name == "--csv-lines") {
            if ((error = once(args.CsvLines))) return error;
        } else if (name == "--csv-trunks") {
            if ((error = once(args.CsvTrunks))) return error;
        } else if (name == "--tariffs") {
            if ((error = once(args.Tariffs))) return error;
        } else if (name == "--subscribers") {
            if ((error = once(args.Subscribers))) return error;
        } else if (name == "--from" || name == "--to") {
            const bool from = name == "--from";
            if ((error = once(from ? args.From : args.To))) return error;
            const std::string& date = *(from ? args.From : args.To);
            if (!ParseIsoDate(date, from ? args.Period.FromDay : args.Period.ToDay))
                return std::string(name) + " принимает дату ГГГГ-ММ-ДД, а не \"" + date + "\"";
        } else if (name == "--bill-csv") {
            if ((error = once(args.BillCsv))) return error;
        } else if (name == "--bill-pdf") {
            if ((error = once(args.BillPdf))) return error;
        } else if (name == "--exchange") {
            if ((error = once(args.Exchange))) return error;
        } else {
            return "неизвестный параметр " + std::string(name);
        }
        for (const std::optional<std::string>* file : Outputs(args))
            if (*file && (*file)->empty()) return std::string(name) + " требует имя файла";
    }
    if (args.Help) return std::nullopt;
    if (args.CreateSchema) {
        const auto outputs = Outputs(args);
        if (!args.Db || !args.Sites.empty() ||
            std::any_of(outputs.begin(), outputs.end(),
                        [](const auto* f) { return f->has_value(); }))
            return "--create-schema требует --db и не принимает --site и файлов записи";
    }
    if (args.Db && !args.CallLog.empty()) return "указаны и журнал звонков, и --db";
    if (!args.Sites.empty() && !args.Db) return "--site требует --db";
    if (args.CallLog.empty() && !args.Db) return "не указан журнал звонков";
    if (args.Hardware && !args.Number) return "--hardware требует --number";
    if (args.Period.FromDay > args.Period.ToDay)
        return "--from " + *args.From + " позже --to " + *args.To + ": в периоде нет ни одного дня";
    if (args.BillCsv && !args.Tariffs) return "--bill-csv требует --tariffs";
    if (args.BillPdf && !args.Tariffs) return "--bill-pdf требует --tariffs";
    return std::nullopt;
}

// Loads the calls of the database's offices into session; with only the
// lists asked for, and no costs to sum call by call, the server sums them
// and no call is fetched. Returns 0, or the status to end with after
// telling why.
int LoadFromDb(const TArguments& args, TReportSession::TLists lists, TReportSession& session) {
    const TDbReportSource source{*args.Db, args.Sites};
    const bool listsOnly =
        !args.Tariffs && (args.Lines || args.Trunks || args.CsvLines || args.CsvTrunks) &&
        !args.Calls && !args.Xlsx && !args.CsvCalls && !args.BillCsv && !args.BillPdf;
    auto model = std::make_shared<TReportModel>();
    const TDbReportResult loaded =
        listsOnly ? LoadDbLists(source, args.Period, args.Lines || args.CsvLines,
                                args.Trunks || args.CsvTrunks, *model)
                  : LoadDbCalls(source, args.Period, *model);
    switch (loaded.Status) {
        case TDbReportResult::TStatus::Done:
            session.Adopt(std::move(model), listsOnly ? TReportSession::TLists::Given : lists);
            return 0;
        case TDbReportResult::TStatus::UnknownSite:
            std::cerr << "tallyphon-report: " << loaded.Error << "\n";
            return kUsageError;
        default:
            std::cerr << "tallyphon-report: база данных " << ConnInfoForDisplay(*args.Db)
                      << " недоступна: " << loaded.Error << "\n";
            return kExportFailed;
    }
}

// Makes the database's schema and the roles' rights, as its owner.
int CreateSchema(const std::string& connInfo) {
    if (const TDbResult made = MakeSchemaAt(connInfo); !made.Ok()) {
        std::cerr << "tallyphon-report: схема в базе данных " << ConnInfoForDisplay(connInfo)
                  << " не сделана: " << made.Error << "\n";
        return kExportFailed;
    }
    std::cout << "Схема tallyphon готова: таблицы, индексы, права ролей tallyphon_office, "
                 "tallyphon_reader и tallyphon_web\n";
    return 0;
}

template <class Grid>
void Print(const char* title, const Grid& grid) {
    std::cout << "\n" << title << "\n";
    for (size_t i = 0; i <= grid.RowCount(); ++i)
        std::cout << grid.ExportLine(i) << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    TArguments args;
    if (const auto error = Parse(argc, argv, args)) {
        std::cerr << "tallyphon-report: " << *error << " (справка: tallyphon-report --help)\n";
        return kUsageError;
    }
    if (args.Help) {
        std::cout << kUsage;
        return 0;
    }
    if (args.CreateSchema) return CreateSchema(*args.Db);
    if (const std::string clash = RefusedOutputs(args); !clash.empty()) {
        std::cerr << "tallyphon-report: " << clash << "\n";
        return kUsageError;
    }

    // The system's error texts in the user's language, and in the
    // characters of the terminal; numbers stay the C locale's.
    std::setlocale(LC_MESSAGES, "");
    std::setlocale(LC_CTYPE, "");
    // The tables first: a refused one must leave every output as it was.
    auto tariffs = std::make_shared<TTariffs>();
    auto directory = std::make_shared<TDirectory>();
    if (args.Tariffs) {
        if (const TBillingResult loaded = tariffs->Load(*args.Tariffs); !loaded.Ok()) {
            std::cerr << "tallyphon-report: " << *args.Tariffs << ": " << loaded.Message << "\n";
            return kUsageError;
        }
    }
    if (args.Subscribers) {
        if (const TBillingResult loaded = directory->Load(*args.Subscribers); !loaded.Ok()) {
            std::cerr << "tallyphon-report: " << *args.Subscribers << ": " << loaded.Message
                      << "\n";
            return kUsageError;
        }
    }
    TReportSession session(SystemShortDate());
    // A bill alone needs the calls, not the subscriber-line and trunk lists.
    const bool billOnly = (args.BillCsv || args.BillPdf) && !args.Calls && !args.Lines &&
                          !args.Trunks && !args.Xlsx && !args.CsvCalls && !args.CsvLines &&
                          !args.CsvTrunks;
    const auto lists = billOnly ? TReportSession::TLists::Skip : TReportSession::TLists::Build;
    if (args.Db) {
        if (ConnInfoHasPassword(*args.Db))
            std::cerr << "tallyphon-report: " << kPasswordSeen << "\n";
        if (const int status = LoadFromDb(args, lists, session)) return status;
    } else if (const TFileResult loaded = session.Load(args.CallLog, nullptr, lists);
               !loaded.Ok()) {
        std::cerr << "tallyphon-report: " << LoadFailureText(loaded, args.CallLog) << "\n";
        return kUsageError;
    }
    if (args.Tariffs || args.Subscribers || !args.Period.Whole()) {
        TBillingSetup setup;
        if (args.Tariffs) setup.Tariffs = std::move(tariffs);
        if (args.Subscribers) setup.Directory = std::move(directory);
        setup.Period = args.Period;
        // Only the spreadsheets show costs; the fixed-column files never do.
        setup.RateCalls = args.Xlsx || args.CsvCalls || args.CsvLines || args.CsvTrunks;
        session.Apply(session.Prepare(setup));
    }
    if (args.SortLines) session.SortAL(*args.SortLines);
    if (args.SortTrunks) session.SortSL(*args.SortTrunks);
    if (args.Number || args.Prefix)
        session.Query(args.Number.value_or(""), args.Prefix.value_or(""), !args.Hardware);

    const auto outputs = Outputs(args);
    if (std::none_of(outputs.begin(), outputs.end(),
                     [](const auto* file) { return file->has_value(); })) {
        const TCallGrid& calls = session.CallGrid();
        // A query that selects nothing leaves one empty row, which is no call.
        const size_t count =
            calls.RowCount() == 1 && calls.Cells(0)[0].empty() ? 0 : calls.RowCount();
        // The calls, counted alike from a file and from the database; a
        // file also tells its lines that are no calls (titles, damaged
        // lines), which the database does not hold.
        std::cout << "Звонков: " << count << "\n";
        if (!args.Db) {
            const TReportModel& loaded = session.Lists();
            std::cout << "Строк в файле (от 30 знаков): " << loaded.LineCount()
                      << ", из них не звонки: " << loaded.LineCount() - loaded.LineList().Count()
                      << "\n";
        }
        Print("АЛ", session.ALGrid());
        Print("СЛ", session.SLGrid());
        return std::cout.flush() ? 0 : kExportFailed;
    }
    const std::pair<const std::optional<std::string>*, TExportKind> exports[] = {
        {&args.Calls, TExportKind::Calls},         {&args.Lines, TExportKind::Lines},
        {&args.Trunks, TExportKind::Trunks},       {&args.Xlsx, TExportKind::Workbook},
        {&args.CsvCalls, TExportKind::CallsCsv},   {&args.CsvLines, TExportKind::LinesCsv},
        {&args.CsvTrunks, TExportKind::TrunksCsv}, {&args.BillCsv, TExportKind::BillCsv},
        {&args.BillPdf, TExportKind::BillPdf}};
    std::unique_ptr<QGuiApplication> painting;
    // Every output is written beside its target first and all are put in
    // place at the end: a run that fails leaves every earlier file as it was.
    TStagedFiles staged;
    TExportOptions options;
    options.Stage = &staged;
    for (const auto& [file, kind] : exports) {
        if (!*file) continue;
        if (kind == TExportKind::BillPdf) {
            // Pages are painted with fonts, which only an application
            // gives; there is no screen under cron. Made last: it takes
            // the locale of the environment for everything after it.
            qputenv("QT_QPA_PLATFORM", "offscreen");
            qInstallMessageHandler(QtErrorsOnly);
            static int qtArgc = 1;
            painting = std::make_unique<QGuiApplication>(qtArgc, argv);
            options.BillTitle = BillTitleOf(args.Period, args.Exchange.value_or(""), Today());
        }
        const TFileResult written = session.Export(kind, **file, options);
        if (!written.Ok()) {
            std::cerr << "tallyphon-report: " << ExportFailureMessage(written, **file) << "\n";
            return kExportFailed;
        }
    }
    if (!staged.Commit()) {
        const TFileResult failed{TFileStatus::CannotOpen, errno};
        std::cerr << "tallyphon-report: " << ExportFailureMessage(failed, staged.Failed()) << "\n";
        return kExportFailed;
    }
    return 0;
}
