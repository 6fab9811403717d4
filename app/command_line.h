// The program's command line and the start-up directory it names. Nothing
// here changes a file but MakeUserStartDir: the caller acts on the outcome.
#pragma once

#include <string>
#include <vector>

enum class TCommandAction {
    Run,        // start the program
    Help,       // print the usage and end
    Version,    // print the version and end
    BadOption,  // print Error and end with status 2
};

struct TCommandLine {
    TCommandAction Action = TCommandAction::Run;
    // No window and no message box: the offscreen platform, every message
    // on standard error, continuous reading when the settings name no
    // start-up action.
    bool Headless = false;
    // The start-up directory; empty for the current directory.
    std::string Dir;
    // The database the calls are shipped to and this office's site name
    // there (--db, --site); empty: as TallyphonDb.cfg says, if there is one.
    std::string DbConnInfo;
    std::string DbSite;
    // Where each byte to and from the exchange is traced (--trace-link);
    // empty: nothing is.
    std::string TraceLink;
    // Why the command line was refused (UTF-8, one line).
    std::string Error;
};

// Reads the arguments that follow the program's name: --headless,
// --dir DIR (or --dir=DIR), --db CONNINFO and --site NAME (only together),
// --trace-link FILE, --help, --version. Anything else, a missing or empty value, an option
// given twice, or a site name that CheckSiteName refuses, is BadOption with
// the reason in Error.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

// The usage text printed for --help (UTF-8, ends with a line end).
std::string UsageText();

// What is wrong with dir as the start-up directory, where the program
// keeps its settings and state files.
enum class TStartDirCheck {
    Usable,
    Missing,        // no such entry (a dangling link included)
    NotADirectory,  // it exists but is no directory
    NotWritable,    // the program may not create or change files in it
};

// Checks dir without changing anything in it.
TStartDirCheck CheckStartDir(const std::string& dir);

// The message for a start-up directory that cannot be used (dir named in
// it); empty for Usable.
std::string StartDirErrorText(TStartDirCheck check, const std::string& dir);

// The start-up directory of a program started with its window and without
// --dir, in the directory cwd. Desktop launchers start programs in the home
// directory, where the program's files do not belong: when cwd is home
// (inHome) and holds no "Tallyphon.cfg" (a home that does keeps working as
// before), the files go to $XDG_DATA_HOME/tallyphon, by default
// $HOME/.local/share/tallyphon. Otherwise, and when home is unknown, empty:
// the current directory, as ever. A relative XDG_DATA_HOME counts as unset.
std::string UserStartDir(bool headless, bool inHome, bool holdsSettings, const char* home,
                         const char* xdgDataHome);

// Whether the directory cwd is the directory home (symbolic links followed).
bool SameDirectory(const std::string& cwd, const char* home);

// Creates dir and its missing parents, dir itself open to its owner only
// (0700). Empty when it exists or was made, else why not (UTF-8).
std::string MakeUserStartDir(const std::string& dir);

// Whether the program must run on the offscreen platform: when asked to be
// headless, or when there is neither an X nor a Wayland display and no
// platform was chosen by QT_QPA_PLATFORM. Empty values count as unset.
bool NeedsOffscreenPlatform(bool headless, const char* display, const char* waylandDisplay,
                            const char* qpaPlatform);
