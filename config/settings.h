// The program's settings as the two settings files hold them. The settings
// code reads and writes them; the exchange-link context carries one copy for
// every part of the program.
#pragma once

#include <string>

// What the program does once it has started and identified the exchange.
// The values are those stored behind "AUTO=" (1 is written as no value).
enum class TAutoStart : int {
    Nothing = 1,
    ReadUninterrupt = 2,
    ReadAllAndExit = 3,
};

struct TSettings {
    std::string PortName = "COM1";
    bool SaveTitle = true;
    bool AltFormat = false;
    TAutoStart AutoStart = TAutoStart::Nothing;
    std::string TarifFileName;
    std::string RealTimeFileName;
    // The start-up directory, where the program's own files are.
    std::string StartDir;
    // Set when no usable "Tallyphon.cfg" was found and the default one made.
    bool FirstStart = false;
};

// The choices of the settings dialog: what "Tallyphon.cfg" holds.
struct TOptionsSettings {
    std::string PortName;  // empty while no port is selected
    bool SaveTitle = true;
    bool AltFormat = false;
};
