#include "app/command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <tuple>

#include "db/db_config.h"

namespace {

bool Set(const char* value) {
    return value != nullptr && *value != '\0';
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    TCommandLine cl;
    bool dirGiven = false;
    auto refuse = [&cl](const std::string& why) {
        cl.Action = TCommandAction::BadOption;
        cl.Error = why;
        return cl;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string dir;
        if (a == "--headless") {
            cl.Headless = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            cl.Action = TCommandAction::Help;
            continue;
        }
        if (a == "--version") {
            cl.Action = TCommandAction::Version;
            continue;
        }
        // --db CONNINFO and --site NAME (each once, only together), and
        // --trace-link FILE.
        bool valued = false;
        for (const auto& [option, field, what] :
             {std::tuple{"--db", &cl.DbConnInfo, "строку подключения к базе данных"},
              std::tuple{"--site", &cl.DbSite, "имя площадки"},
              std::tuple{"--trace-link", &cl.TraceLink, "имя файла"}}) {
            const std::string name(option), withEq = name + "=";
            std::string value;
            if (a == name) {
                if (i + 1 >= args.size())
                    return refuse("Параметр " + name + " требует " + what + ".");
                value = args[++i];
            } else if (a.rfind(withEq, 0) == 0) {
                value = a.substr(withEq.size());
            } else {
                continue;
            }
            if (value.empty()) return refuse("Параметр " + name + " требует " + what + ".");
            if (!field->empty()) return refuse("Параметр " + name + " указан дважды.");
            *field = value;
            valued = true;
        }
        if (valued) continue;
        if (a == "--dir") {
            if (i + 1 >= args.size()) return refuse("Параметр --dir требует имя каталога.");
            dir = args[++i];
        } else if (a.rfind("--dir=", 0) == 0) {
            dir = a.substr(6);
        } else {
            return refuse("Неизвестный параметр: " + a);
        }
        if (dir.empty()) return refuse("Параметр --dir требует имя каталога.");
        if (dirGiven) return refuse("Параметр --dir указан дважды.");
        dirGiven = true;
        cl.Dir = dir;
    }
    if (cl.DbConnInfo.empty() != cl.DbSite.empty())
        return refuse(cl.DbSite.empty() ? "Параметр --db требует и --site."
                                        : "Параметр --site требует и --db.");
    if (!cl.DbSite.empty()) {
        const std::string why = CheckSiteName(cl.DbSite);
        if (!why.empty()) return refuse("Параметр --site: " + why + ".");
    }
    // Help and version win over a run, never over a refused option.
    return cl;
}

std::string UsageText() {
    return "Использование: tallyphon [--headless] [--dir КАТАЛОГ] [--db СТРОКА --site ИМЯ]\n"
           "                 [--trace-link ФАЙЛ]\n"
           "\n"
           "  --headless      работать без окна: сообщения в стандартный поток ошибок,\n"
           "                  без указанного действия при запуске - непрерывное считывание\n"
           "  --dir КАТАЛОГ   каталог запуска с файлами настроек (по умолчанию текущий;\n"
           "                  из домашнего каталога без Tallyphon.cfg - ~/.local/share/tallyphon)\n"
           "  --db СТРОКА     отправлять каждый записанный звонок и в базу данных\n"
           "                  PostgreSQL (строка подключения libpq или URI). Пароль\n"
           "                  держите в ~/.pgpass (права 0600), в файле из PGPASSFILE\n"
           "                  или passfile=: командную строку видит каждый (ps)\n"
           "  --site ИМЯ      имя площадки (офиса), под которым звонки лежат в базе\n"
           "                  (без --db и --site - как в TallyphonDb.cfg каталога запуска:\n"
           "                  строки CONNINFO=... и SITE=...)\n"
           "  --trace-link ФАЙЛ  дописывать в файл каждый байт, посланный в АТС и\n"
           "                  принятый от нее, с отметкой монотонного времени (для\n"
           "                  разбора, когда настоящая АТС ведет себя неожиданно)\n"
           "  --help          показать эту справку\n"
           "  --version       показать версию\n"
           "\n"
           "Без окна (--headless или без дисплея) каждое сообщение - одна строка\n"
           "в стандартном потоке ошибок, с приоритетом журнала systemd впереди:\n"
           "<3> ошибка, <4> предупреждение, <6> сведения (journalctl -p warning\n"
           "покажет только неполадки).\n"
           "\n"
           "Код возврата: 0 после остановки или считывания всех данных, 1 когда при\n"
           "запуске СОМ-порт не открылся или АТС не ответила, 2 при неверных параметрах\n"
           "или каталоге запуска, а с --headless и без настроек (нет Tallyphon.cfg или\n"
           "строки TARIF_FNAME= в TallyphonOut.cfg).\n";
}

TStartDirCheck CheckStartDir(const std::string& dir) {
    struct stat st = {};
    if (stat(dir.c_str(), &st) != 0) return TStartDirCheck::Missing;
    if (!S_ISDIR(st.st_mode)) return TStartDirCheck::NotADirectory;
    // Files are created, replaced and removed in it: write and search.
    if (access(dir.c_str(), W_OK | X_OK) != 0) return TStartDirCheck::NotWritable;
    return TStartDirCheck::Usable;
}

std::string StartDirErrorText(TStartDirCheck check, const std::string& dir) {
    switch (check) {
        case TStartDirCheck::Usable:
            return "";
        case TStartDirCheck::Missing:
            return "Каталог запуска не найден: " + dir;
        case TStartDirCheck::NotADirectory:
            return "Каталог запуска не является каталогом: " + dir;
        case TStartDirCheck::NotWritable:
            return "Нет права записи в каталог запуска: " + dir;
    }
    return "";
}

bool NeedsOffscreenPlatform(bool headless, const char* display, const char* waylandDisplay,
                            const char* qpaPlatform) {
    if (headless) return true;
    return !Set(display) && !Set(waylandDisplay) && !Set(qpaPlatform);
}

std::string UserStartDir(bool headless, bool inHome, bool holdsSettings, const char* home,
                         const char* xdgDataHome) {
    // A service or a script names its directory or prepares the one it starts in.
    if (headless || !inHome || holdsSettings || !Set(home) || home[0] != '/') return "";
    if (Set(xdgDataHome) && xdgDataHome[0] == '/') return std::string(xdgDataHome) + "/tallyphon";
    return std::string(home) + "/.local/share/tallyphon";
}

bool SameDirectory(const std::string& cwd, const char* home) {
    struct stat a = {};
    struct stat b = {};
    if (!Set(home) || stat(cwd.c_str(), &a) != 0 || stat(home, &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string MakeUserStartDir(const std::string& dir) {
    // The parents are the user's own data directories; only the last is
    // the program's, holding call logs nobody else should read.
    for (size_t slash = dir.find('/', 1); slash != std::string::npos;
         slash = dir.find('/', slash + 1)) {
        const std::string parent = dir.substr(0, slash);
        if (mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST)
            return "Не удалось создать каталог " + parent + ": " + std::strerror(errno);
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return "Не удалось создать каталог " + dir + ": " + std::strerror(errno);
    return "";
}
