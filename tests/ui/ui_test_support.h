// Helpers of the window tests: the program's two settings files in a
// start-up directory, the simulated exchange linked into it as a port name,
// the main window created there, waits that serve events, and a window's
// widgets by name.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include <QObject>
#include <QString>

#include "acquisition/program_controller.h"
#include "tests/common/sim_line.h"
#include "tests/common/test_support.h"
#include "tools/sim_exchange/sim_exchange.h"

class TMainForm;

namespace ui_test {

// "Tallyphon.cfg" bytes: port, save-title, alternative format, 27 zeros.
std::string ConfigBytes(int port, int saveTitle, int altFormat);

// Writes the usual settings into dir: COM1, titles on, standard format;
// the call-log file calls.txt; the start-up action autoValue ("" /
// "AUTOSTART_UNINTERRUPT" / "AUTOSTART_1").
void WriteSettings(const testing_support::TTempDir& dir, const std::string& autoValue = "");

// Runs f with the current directory set to dir, then restores it.
void InDirectory(const std::string& dir, const std::function<void()>& f);

// A simulated exchange linked as dir/linkName; throws std::runtime_error
// when it cannot start.
std::unique_ptr<sim::TSimExchange> StartExchange(const std::string& dir,
                                                 sim::TExchangeConfig config = {},
                                                 const std::string& linkName = "COM1");

// The program's port as an in-memory device found by name, to exchange
// (which outlives it), on a test clock: no terminal and no real waits.
struct TSimPort {
    explicit TSimPort(sim::TSimExchange& exchange, const std::string& name = "COM1");
    // Makes links over the device as the program makes its own.
    TLinkFactory Factory() const;
    std::shared_ptr<testing_support::TTestClock> Clock;
    std::shared_ptr<testing_support::TSimDevice> Device;
};

// Creates the main window in dir (its start-up runs there), over the links
// makeLink makes (by default on the serial port).
std::unique_ptr<TMainForm> CreateMainForm(const std::string& dir,
                                          const TLinkFactory& makeLink = {});

// Serves events until condition holds or timeout passes; true when it held.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(30));

// The child of window named name (its objectName): the windows keep their
// widgets to themselves. Throws std::runtime_error when there is none.
template <class T>
T* Child(const QObject& window, const char* name) {
    T* child = window.findChild<T*>(QString::fromUtf8(name));
    if (!child) throw std::runtime_error(std::string("no child named ") + name);
    return child;
}

}  // namespace ui_test
