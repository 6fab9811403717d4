#include "ui_test_support.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <stdexcept>

#include <QApplication>

#include "main_form.h"

namespace ui_test {

void PrintTo(const TShownMessage& m, std::ostream* os) {
    *os << "[" << m.Caption << "] " << m.Text;
}

TRecorder::TRecorder() {
    seam::SetMessageSink(this);
    seam::SetExitHook([this](int status) { Exits.push_back(status); });
}

TRecorder::~TRecorder() {
    seam::SetExitHook(nullptr);
    seam::SetMessageSink(nullptr);
}

int TRecorder::Message(const std::string& text, const std::string& caption, seam::TButtons) {
    Messages.push_back({text, caption});
    return seam::kAnswerOk;
}

bool TRecorder::FileDialog(const seam::TFileRequest& request, std::string& chosen) {
    FileRequests.push_back(request);
    if (FileAnswers.empty()) return false;
    std::optional<std::string> answer = FileAnswers.front();
    FileAnswers.pop_front();
    if (!answer) return false;
    chosen = *answer;
    return true;
}

std::string ConfigBytes(int port, int saveTitle, int altFormat) {
    std::string b(30, '\0');
    b[0] = static_cast<char>(port);
    b[1] = static_cast<char>(saveTitle);
    b[2] = static_cast<char>(altFormat);
    return b;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

TStartDir::TStartDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tp_ui_XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TStartDir::~TStartDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void TStartDir::WriteSettings(const std::string& autoValue) {
    WriteFile(File("Tallyphon.cfg"), ConfigBytes(1, 1, 0));
    WriteFile(File("TallyphonOut.cfg"), "TARIF_FNAME=" + File("calls.txt") + "\r\nREALTIME_FNAME=" +
                                            File("rt.log") + "\r\nAUTO=" + autoValue);
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

std::unique_ptr<TMainForm> CreateMainForm(const std::string& dir) {
    std::unique_ptr<TMainForm> form;
    InDirectory(dir, [&] { form = std::make_unique<TMainForm>(); });
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
