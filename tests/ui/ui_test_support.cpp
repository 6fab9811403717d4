#include "tests/ui/ui_test_support.h"

#include <filesystem>
#include <stdexcept>

#include <QApplication>

#include "ui/main_form.h"

namespace ui_test {

std::string ConfigBytes(int port, int saveTitle, int altFormat) {
    std::string b(30, '\0');
    b[0] = static_cast<char>(port);
    b[1] = static_cast<char>(saveTitle);
    b[2] = static_cast<char>(altFormat);
    return b;
}

void WriteSettings(const testing_support::TTempDir& dir, const std::string& autoValue) {
    testing_support::WriteFile(dir.File("Tallyphon.cfg"), ConfigBytes(1, 1, 0));
    testing_support::WriteFile(dir.File("TallyphonOut.cfg"),
                               "TARIF_FNAME=" + dir.File("calls.txt") + "\r\nREALTIME_FNAME=" +
                                   dir.File("rt.log") + "\r\nAUTO=" + autoValue);
}

void InDirectory(const std::string& dir, const std::function<void()>& f) {
    // The program changes to its start-up directory by itself later, and a
    // test's directory goes away: come back to one that stays.
    const std::filesystem::path old = std::filesystem::temp_directory_path();
    std::filesystem::current_path(dir);
    try {
        f();
    } catch (...) {
        std::filesystem::current_path(old);
        throw;
    }
    std::filesystem::current_path(old);
}

std::unique_ptr<sim::TSimExchange> StartExchange(const std::string& dir,
                                                 sim::TExchangeConfig config,
                                                 const std::string& linkName) {
    auto ex = std::make_unique<sim::TSimExchange>(std::move(config));
    if (!ex->Start(dir + "/" + linkName))
        throw std::runtime_error("simulated exchange: " + ex->LastError());
    return ex;
}

TSimPort::TSimPort(sim::TSimExchange& exchange, const std::string& name)
    : Clock(std::make_shared<testing_support::TTestClock>()),
      Device(std::make_shared<testing_support::TSimDevice>(exchange, *Clock, name)) {}

TLinkFactory TSimPort::Factory() const {
    return [clock = Clock, device = Device] { return CreateLowLevel(device, clock); };
}

std::unique_ptr<TMainForm> CreateMainForm(const std::string& dir, const TLinkFactory& makeLink) {
    std::unique_ptr<TMainForm> form;
    InDirectory(dir, [&] { form = std::make_unique<TMainForm>(TStartMode::Window, makeLink); });
    return form;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

}  // namespace ui_test
