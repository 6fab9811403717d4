// libFuzzer harness: each settings file, whatever bytes it holds, is read,
// written back from what was read, and read again to the same settings.
//
// Input: the bytes of both "Tallyphon.cfg" and "TallyphonOut.cfg".
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/com_name.h"
#include "config/config_files.h"
#include "tests/fuzz/fuzz_dir.h"
#include "tests/fuzz/fuzz_require.h"

namespace {

// Settings as at start-up, in the harness's directory.
TSettings Fresh() {
    TSettings s;
    s.StartDir = FuzzDir().Path();
    return s;
}

// "Tallyphon.cfg": a damaged file is replaced, a sound one read; writing
// back what was read succeeds for a real port and leaves the file alone
// otherwise, so the next reading agrees.
void RoundTripConfig() {
    TSettings first = Fresh();
    FuzzRequire(ReadConfig(first).Ok(), "Tallyphon.cfg read or replaced");

    const int port = ComPortNumber(first.PortName);
    const bool realPort = port >= 1 && port <= kMaxPortNumber;
    TSettings written = Fresh();
    const TConfigResult w = WriteConfig(written, first.PortName, first.SaveTitle, first.AltFormat);
    FuzzRequire(w.Ok() == realPort, "Tallyphon.cfg written for a real port");

    TSettings again = Fresh();
    FuzzRequire(ReadConfig(again).Ok(), "Tallyphon.cfg read again");
    FuzzRequire(!again.FirstStart, "the file read again is sound");
    FuzzRequire(again.PortName == first.PortName && again.SaveTitle == first.SaveTitle &&
                    again.AltFormat == first.AltFormat,
                "Tallyphon.cfg reads back as it was read");
}

// "TallyphonOut.cfg": whatever lines it holds, the paths and start-up
// action read from it are written and read back unchanged.
void RoundTripOutConfig() {
    TSettings first = Fresh();
    FuzzRequire(ReadOutConfig(first).Ok(), "TallyphonOut.cfg read");
    FuzzRequire(WriteOutConfig(first, first.TarifFileName, first.RealTimeFileName).Ok(),
                "paths read from a line can be written");
    TSettings again = Fresh();
    FuzzRequire(ReadOutConfig(again).Ok(), "TallyphonOut.cfg read again");
    FuzzRequire(again.TarifFileName == first.TarifFileName, "call-log path reads back");
    FuzzRequire(again.RealTimeFileName == first.RealTimeFileName, "real-time path reads back");
    FuzzRequire(again.AutoStart == first.AutoStart, "start-up action reads back");
}

}  // namespace

// Writes the input as both settings files and round-trips each.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    testing_support::WriteFile(FuzzDir().File(kConfigFileName), bytes);
    testing_support::WriteFile(FuzzDir().File(kOutConfigFileName), bytes);
    RoundTripConfig();
    RoundTripOutConfig();
    return 0;
}
