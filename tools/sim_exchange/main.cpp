// sim_exchange: a simulated VERANTA exchange on a pseudo-terminal, for the
// demo and for trying the program by hand.
#include <getopt.h>
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>

#include "base/calendar.h"
#include "tools/sim_exchange/scenario.h"
#include "tools/sim_exchange/sim_exchange.h"

namespace {

const char kUsage[] =
    "Использование: tallyphon-sim [параметры]\n"
    "Модель АТС VERANTA на псевдотерминале, до SIGINT или SIGTERM.\n"
    "\n"
    "  --link ПУТЬ          символическая ссылка на терминал, например КАТАЛОГ/COM1\n"
    "  --type N             код модели (4 QTV610, 5 QS800, 6 QTV930-1, 7 QS16, 8 QS20,\n"
    "                       9 QS31, 10 QS53, 2 по имени из --name, 3 C); по умолчанию 4\n"
    "  --name ТЕКСТ         имя АТС (тип 2: \"3B...\" - АТС из трех блоков)\n"
    "  --key N              ключ шифрования 0..255; по умолчанию 90 (0x5A)\n"
    "  --tick N             байт длины такта 0..255 (0 - 6 с); по умолчанию 1\n"
    "  --serial N           серийный номер 0..65535; по умолчанию 4321\n"
    "  --units N            число блоков 1..3 (по умолчанию по имени типа 2, иначе 1)\n"
    "  --capacity N         емкость буфера тарификации каждого блока; по умолчанию 500\n"
    "  --calls N            рабочий день офиса из N звонков, поровну по блокам\n"
    "  --seed N             начальное число для звонков; по умолчанию 1\n"
    "  --rejected-every N   каждая N-я запись забракована (0F FF)\n"
    "  --short-every N      каждая N-я запись укорочена до 2..11 байтов\n"
    "  --twins-every N      за каждой N-й записью идет ее точная копия\n"
    "  --arrive-every СЕК   каждые СЕК секунд начинается новый звонок: ответ о состоянии\n"
    "                       линий показывает его, пока он длится (от СЕК до 6 x СЕК\n"
    "                       секунд, каждый четвертый - внутренний, из двух линий), затем\n"
    "                       его запись попадает в буфер со временем начала и длительностью\n"
    "  --clock ВРЕМЯ        часы АТС при запуске, \"ГГГГ-ММ-ДД ЧЧ:ММ:СС\" (по умолчанию\n"
    "                       местное время); рабочий день --calls - накануне\n"
    "  --scenario ФАЙЛ      записи из ФАЙЛА, по одной в строке:\n"
    "                         unit=U days=D ticks=T dur=D hw=H prg=ЦИФРЫ trunk=B dial=ЦИФРЫ\n"
    "                         rejected\n"
    "                         hex=02 26 ...\n"
    "                       у каждой может быть unit=U и repeat=N (запись N раз подряд;\n"
    "                       перед hex=); или строки сбоев, как параметры ниже:\n"
    "                         lose-reply=N flip-reply=N (сколько угодно)\n"
    "                         hide-link-at=СЕК hide-link-for=СЕК hide-link-to=ПУТЬ (один раз)\n"
    "                       ('#' начинает комментарий)\n"
    "  --paced              передавать байты с темпом линии 19200 бод 8N2\n"
    "  --line-state HEX     постоянный ответ о состоянии линий (вместо идущих звонков),\n"
    "                       например \"02 44 05 00 46 02 01 00\"\n"
    "  --line-state-fault F сбой ответов о состоянии линий: no-reply или bad-checksum\n"
    "\n"
    "Сбои (ответы с записями - на 02 и 03, счет с 1 от запуска):\n"
    "  --lose-reply N       N-й ответ с записью выполняется, но не посылается (можно\n"
    "                       повторять)\n"
    "  --flip-reply N       в N-м ответе с записью средний байт искажен при контрольной\n"
    "                       сумме верных байтов (можно повторять)\n"
    "  --hide-link-at СЕК   через СЕК секунд после запуска имя ссылки исчезает (нужен\n"
    "                       --link), а терминал продолжает отвечать тому, кто его держит\n"
    "  --hide-link-for СЕК  имя возвращается через СЕК секунд (по умолчанию никогда)\n"
    "  --hide-link-to ПУТЬ  тем временем имя указывает на ПУТЬ (приманку)\n"
    "                       (параметры важнее строки hide-link сценария)\n"
    "  --help               показать эту справку\n";

[[noreturn]] void Die(const std::string& message) {
    std::fprintf(stderr, "sim_exchange: %s\n", message.c_str());
    std::exit(2);
}

// A whole-string decimal (or 0x hexadecimal) number within [lo, hi].
long Number(const char* option, const char* text, long lo, long hi) {
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi)
        Die(std::string("--") + option + ": '" + text + "' is not a number from " +
            std::to_string(lo) + " to " + std::to_string(hi));
    return v;
}

// Non-negative seconds of an option, or dies naming it.
double Seconds(const char* option, const char* text) {
    try {
        return sim::ParseSeconds(std::string("--") + option + ":", text);
    } catch (const std::invalid_argument& e) {
        Die(e.what());
    }
}

// Arms the record-reply faults, refusing two on one reply (only one of them
// could happen).
void ArmFaults(sim::TSimExchange& exchange, const sim::TScenarioFaults& faults) {
    std::set<int> taken;
    auto arm = [&](const std::vector<int>& replies, sim::TReplyFault fault) {
        for (int n : replies) {
            if (!taken.insert(n).second)
                Die("record reply " + std::to_string(n) + " is given two faults");
            exchange.ArmRecordFault(fault, n);
        }
    };
    arm(faults.LoseReply, sim::TReplyFault::Lost);
    arm(faults.FlipReply, sim::TReplyFault::FlippedByte);
}

// Seconds since 1980-01-01 of TIME ("YYYY-MM-DD HH:MM:SS"), or of the local
// time now when TIME is empty; dies on anything else.
uint64_t ClockStart(const std::string& text) {
    int y, mo, d, h, mi, sec;
    if (text.empty()) {
        const time_t t = time(nullptr);
        tm local{};
        localtime_r(&t, &local);
        y = local.tm_year + 1900, mo = local.tm_mon + 1, d = local.tm_mday;
        h = local.tm_hour, mi = local.tm_min, sec = local.tm_sec;
    } else {
        char tail = 0;
        if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &sec, &tail) !=
                6 ||
            y < 1980 || y > 2159 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || h < 0 ||
            mi < 0 || mi > 59 || sec < 0 || sec > 59)
            Die("--clock: '" + text + "' is not a time \"YYYY-MM-DD HH:MM:SS\" from 1980 on");
    }
    const long days = DaysFromCivil(y, mo, d) - DaysFromCivil(1980, 1, 1);
    if (days > 0xFFFF) Die("--clock: beyond the exchange's calendar");
    return static_cast<uint64_t>(days) * 86400 + static_cast<uint64_t>(h * 3600 + mi * 60 + sec);
}

}  // namespace

int main(int argc, char** argv) {
    sim::TExchangeConfig cfg;
    std::string link, scenario;
    int units = 0, calls = 0, capacity = 500;
    uint32_t seed = 1;
    double arriveEvery = 0;
    int rejectedEvery = 0, shortEvery = 0, twinsEvery = 0;
    sim::TScenarioFaults faults;
    bool hideDetails = false;  // --hide-link-for or --hide-link-to given
    std::string clock;

    enum {
        kLink = 1000,
        kType,
        kName,
        kKey,
        kTick,
        kSerial,
        kUnits,
        kCapacity,
        kCalls,
        kSeed,
        kArrive,
        kScenario,
        kPaced,
        kLineState,
        kLineStateFault,
        kClock,
        kRejected,
        kShort,
        kTwins,
        kLoseReply,
        kFlipReply,
        kHideAt,
        kHideFor,
        kHideTo,
        kHelp
    };
    static const option kOptions[] = {
        {"link", required_argument, nullptr, kLink},
        {"type", required_argument, nullptr, kType},
        {"name", required_argument, nullptr, kName},
        {"key", required_argument, nullptr, kKey},
        {"tick", required_argument, nullptr, kTick},
        {"serial", required_argument, nullptr, kSerial},
        {"units", required_argument, nullptr, kUnits},
        {"capacity", required_argument, nullptr, kCapacity},
        {"calls", required_argument, nullptr, kCalls},
        {"seed", required_argument, nullptr, kSeed},
        {"arrive-every", required_argument, nullptr, kArrive},
        {"scenario", required_argument, nullptr, kScenario},
        {"paced", no_argument, nullptr, kPaced},
        {"line-state", required_argument, nullptr, kLineState},
        {"line-state-fault", required_argument, nullptr, kLineStateFault},
        {"clock", required_argument, nullptr, kClock},
        {"rejected-every", required_argument, nullptr, kRejected},
        {"short-every", required_argument, nullptr, kShort},
        {"twins-every", required_argument, nullptr, kTwins},
        {"lose-reply", required_argument, nullptr, kLoseReply},
        {"flip-reply", required_argument, nullptr, kFlipReply},
        {"hide-link-at", required_argument, nullptr, kHideAt},
        {"hide-link-for", required_argument, nullptr, kHideFor},
        {"hide-link-to", required_argument, nullptr, kHideTo},
        {"help", no_argument, nullptr, kHelp},
        {nullptr, 0, nullptr, 0}};
    int opt;
    while ((opt = getopt_long(argc, argv, "", kOptions, nullptr)) != -1) {
        switch (opt) {
            case kLink:
                link = optarg;
                break;
            case kType:
                cfg.TypeCode = static_cast<uint8_t>(Number("type", optarg, 0, 255));
                break;
            case kName:
                cfg.Name = optarg;
                if (cfg.Name.size() > 238) Die("--name: longer than 238 bytes");
                break;
            case kKey:
                cfg.Key = static_cast<uint8_t>(Number("key", optarg, 0, 255));
                break;
            case kTick:
                cfg.TickByte = static_cast<uint8_t>(Number("tick", optarg, 0, 255));
                break;
            case kSerial:
                cfg.Serial = static_cast<uint16_t>(Number("serial", optarg, 0, 65535));
                break;
            case kUnits:
                units = static_cast<int>(Number("units", optarg, 1, 3));
                break;
            case kCapacity:
                capacity = static_cast<int>(Number("capacity", optarg, 0, 65535));
                break;
            case kCalls:
                calls = static_cast<int>(Number("calls", optarg, 0, 1000000));
                break;
            case kSeed:
                seed = static_cast<uint32_t>(Number("seed", optarg, 0, 0x7FFFFFFF));
                break;
            case kArrive: {
                char* end = nullptr;
                arriveEvery = std::strtod(optarg, &end);
                if (end == optarg || *end != '\0' || !(arriveEvery > 0) || arriveEvery > 86400)
                    Die(std::string("--arrive-every: '") + optarg +
                        "' is not a number of seconds above 0");
                break;
            }
            case kScenario:
                scenario = optarg;
                break;
            case kPaced:
                cfg.Paced = true;
                break;
            case kLineState:
                try {
                    cfg.LineState = sim::ParseHexBytes(optarg);
                } catch (const std::exception& e) {
                    Die(std::string("--line-state: ") + e.what());
                }
                if (cfg.LineState.size() > 255) Die("--line-state: more than 255 bytes");
                break;
            case kLineStateFault: {
                const std::string f = optarg;
                if (f == "no-reply")
                    cfg.LineStateFault = sim::TLineStateFault::NoReply;
                else if (f == "bad-checksum")
                    cfg.LineStateFault = sim::TLineStateFault::BadChecksum;
                else
                    Die("--line-state-fault: '" + f + "' is neither no-reply nor bad-checksum");
                break;
            }
            case kClock:
                clock = optarg;
                if (clock.empty()) Die("--clock: needs a time");
                break;
            case kRejected:
                rejectedEvery = static_cast<int>(Number("rejected-every", optarg, 0, 1000000));
                break;
            case kShort:
                shortEvery = static_cast<int>(Number("short-every", optarg, 0, 1000000));
                break;
            case kTwins:
                twinsEvery = static_cast<int>(Number("twins-every", optarg, 0, 1000000));
                break;
            case kLoseReply:
                faults.LoseReply.push_back(
                    static_cast<int>(Number("lose-reply", optarg, 1, 1000000)));
                break;
            case kFlipReply:
                faults.FlipReply.push_back(
                    static_cast<int>(Number("flip-reply", optarg, 1, 1000000)));
                break;
            case kHideAt:
                faults.HideLinkAt = Seconds("hide-link-at", optarg);
                break;
            case kHideFor:
                faults.HideLinkFor = Seconds("hide-link-for", optarg);
                hideDetails = true;
                break;
            case kHideTo:
                faults.HideLinkTo = optarg;
                if (faults.HideLinkTo.empty()) Die("--hide-link-to: needs a path");
                hideDetails = true;
                break;
            case kHelp:
                std::fputs(kUsage, stdout);
                return 0;
            default:
                std::fputs(kUsage, stderr);
                return 2;
        }
    }
    if (optind < argc) Die(std::string("unexpected argument '") + argv[optind] + "' (see --help)");
    if (hideDetails && faults.HideLinkAt < 0)
        Die("--hide-link-for and --hide-link-to go with --hide-link-at");

    // A type-2 name beginning with 2 or 3 names an exchange of that many units.
    if (units == 0)
        units =
            (cfg.TypeCode == 2 && !cfg.Name.empty() && (cfg.Name[0] == '2' || cfg.Name[0] == '3'))
                ? cfg.Name[0] - '0'
                : 1;
    cfg.Units.assign(static_cast<size_t>(units), sim::TUnit{});
    for (sim::TUnit& u : cfg.Units)
        u.Capacity = static_cast<uint16_t>(capacity);
    const int tickLength = cfg.TickByte == 0 ? 6 : cfg.TickByte;
    // The clock runs from the start time; the calls already in the buffer
    // are the day before's.
    const uint64_t clockStart = ClockStart(clock);
    cfg.ClockRuns = true;
    const sim::TClockStamp stamp = sim::ClockStampAt(clockStart, tickLength);
    cfg.Days = stamp.Days;
    cfg.Ticks = stamp.Ticks;
    const uint16_t officeDay = cfg.Days > 0 ? static_cast<uint16_t>(cfg.Days - 1) : cfg.Days;

    for (int u = 0; u < units; ++u) {
        sim::TDayOptions day;
        day.Calls = calls / units + (u < calls % units ? 1 : 0);
        day.Seed = seed + static_cast<uint32_t>(u);
        day.Days = officeDay;
        day.TickLength = tickLength;
        day.TypeCode = cfg.TypeCode;
        day.Unit = u;
        day.RejectedEvery = rejectedEvery;
        day.ShortEvery = shortEvery;
        day.TwinsEvery = twinsEvery;
        for (auto& r : sim::GenerateOfficeDay(day))
            cfg.Units[static_cast<size_t>(u)].Records.push_back(std::move(r));
    }

    if (!scenario.empty()) {
        std::ifstream in(scenario, std::ios::binary);
        if (!in) Die(scenario + ": cannot be read");
        std::stringstream text;
        text << in.rdbuf();
        try {
            sim::TScenario parsed = sim::ParseScenario(text.str(), officeDay);
            for (auto& r : parsed.Records) {
                if (r.Unit >= units)
                    Die(scenario + ": line " + std::to_string(r.Line) + ": unit " +
                        std::to_string(r.Unit) + " does not exist (" + std::to_string(units) +
                        " units; see --units)");
                cfg.Units[static_cast<size_t>(r.Unit)].Records.push_back(std::move(r.Payload));
            }
            const sim::TScenarioFaults& f = parsed.Faults;
            faults.LoseReply.insert(faults.LoseReply.end(), f.LoseReply.begin(), f.LoseReply.end());
            faults.FlipReply.insert(faults.FlipReply.end(), f.FlipReply.begin(), f.FlipReply.end());
            if (faults.HideLinkAt < 0) {
                faults.HideLinkAt = f.HideLinkAt;
                faults.HideLinkFor = f.HideLinkFor;
                faults.HideLinkTo = f.HideLinkTo;
            }
        } catch (const std::runtime_error& e) {
            Die(scenario + ": " + e.what());
        }
    }

    if (faults.HideLinkAt >= 0 && link.empty()) Die("hiding the link needs --link");
    // A link's relative target counts from the link's folder, not from here.
    if (!faults.HideLinkTo.empty())
        faults.HideLinkTo = std::filesystem::absolute(faults.HideLinkTo).string();

    // Block the stop signals before the serving thread exists, so only
    // sigtimedwait below ever takes them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::TSimExchange exchange(cfg);
    if (!exchange.Start(link)) Die("cannot start: " + exchange.LastError());
    ArmFaults(exchange, faults);

    size_t held = 0;
    for (int u = 0; u < units; ++u)
        held += exchange.RecordCount(u);
    std::printf("sim_exchange: type %d \"%s\", key 0x%02X, %d unit(s), %zu record(s)%s\n",
                cfg.TypeCode, cfg.Name.c_str(), cfg.Key, units, held, cfg.Paced ? ", paced" : "");
    std::printf("slave %s\n", exchange.SlavePath().c_str());
    if (!link.empty()) std::printf("link %s\n", link.c_str());
    std::fflush(stdout);

    // The stop signals are waited for until the next timed event: a call
    // arriving, the link name going.
    using Clock = std::chrono::steady_clock;
    auto ToDuration = [](double seconds) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    };
    const Clock::time_point start = Clock::now();
    Clock::time_point nextArrival =
        arriveEvery > 0 ? start + ToDuration(arriveEvery) : Clock::time_point::max();
    Clock::time_point hideAt =
        faults.HideLinkAt >= 0 ? start + ToDuration(faults.HideLinkAt) : Clock::time_point::max();
    uint32_t arrivalSeed = seed + 1000;
    int arrivals = 0;
    int nextUnit = 0;
    for (;;) {
        const Clock::time_point next = std::min(nextArrival, hideAt);
        int sig;
        if (next == Clock::time_point::max()) {
            sig = sigwaitinfo(&stopSignals, nullptr);
        } else {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::max(next - Clock::now(), Clock::duration::zero()))
                                .count();
            timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
            sig = sigtimedwait(&stopSignals, nullptr, &wait);
        }
        if (sig == SIGINT || sig == SIGTERM) break;
        const Clock::time_point now = Clock::now();
        if (now >= hideAt) {
            hideAt = Clock::time_point::max();
            // Rounded up: a short stay must not become "never back".
            const auto back =
                std::chrono::ceil<std::chrono::milliseconds>(ToDuration(faults.HideLinkFor));
            if (faults.HideLinkTo.empty())
                exchange.HideLink(back);
            else
                exchange.RelinkTo(faults.HideLinkTo, back);
            std::printf("link hidden%s%s\n", faults.HideLinkTo.empty() ? "" : ", pointing at ",
                        faults.HideLinkTo.c_str());
            std::fflush(stdout);
        }
        if (now >= nextArrival) {
            nextArrival += ToDuration(arriveEvery);
            sim::TDayOptions one;
            one.Calls = 1;
            one.Seed = arrivalSeed++;
            one.TickLength = tickLength;
            one.TypeCode = cfg.TypeCode;
            one.Unit = nextUnit;
            // The generated record gives the line, numbers and trunk; its
            // times come from the running clock when the call ends.
            const std::vector<uint8_t> rec = sim::GenerateOfficeDay(one).front();
            sim::TSimCall call;
            call.HwLine = static_cast<uint16_t>(rec[6] | rec[7] << 8);
            char prg[8];
            std::snprintf(prg, sizeof prg, "%02d", call.HwLine % 100);
            call.PrgDigits = prg;
            call.TrunkCode = rec[10];
            std::mt19937 pick(one.Seed);
            const double lengthSec =
                std::min(600.0, arriveEvery * (1.0 + 5.0 * (pick() % 1000) / 1000.0));
            uint16_t partner = 0;
            if (++arrivals % 4 == 0) {
                partner = static_cast<uint16_t>(1 + (call.HwLine + 1 + pick() % 60) % 64);
                call.DialDigits = std::to_string(200 + partner - 1);
            } else {
                call.DialDigits =
                    std::to_string(2 + pick() % 8) + std::to_string(100000 + pick() % 900000);
            }
            exchange.BeginCall(nextUnit, call,
                               std::chrono::ceil<std::chrono::milliseconds>(ToDuration(lengthSec)),
                               partner);
            nextUnit = (nextUnit + 1) % units;
        }
    }
    exchange.Stop();
    std::printf("sim_exchange: stopped\n");
    return 0;
}
