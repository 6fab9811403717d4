#include "base/message_seam.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace seam {
namespace {

class StderrSink : public IMessageSink {
  public:
    int Message(const std::string& text, const std::string& caption, TButtons) override {
        std::fprintf(stderr, "%s\n", UnattendedLine(text, caption).c_str());
        return kAnswerOk;
    }
};

// One line a message, so that a log keeps them apart.
std::string OneLine(std::string line) {
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    return line;
}

StderrSink g_default;
std::atomic<IMessageSink*> g_sink{&g_default};
std::atomic<bool> g_unattended{false};
std::mutex g_exitMutex;
std::function<void(int)> g_exitHook;

}  // namespace

void SetMessageSink(IMessageSink* sink) {
    g_sink = sink ? sink : &g_default;
}
IMessageSink* MessageSink() {
    return g_sink;
}

void SetUnattended(bool on) {
    g_unattended = on;
}
bool Unattended() {
    return g_unattended;
}

std::string UnattendedLine(const std::string& text, const std::string& caption) {
    static const char* const warnings[] = {"Внимание!", "Предупреждение", "Предупреждение!",
                                           "Уведомление"};
    const char* priority = "<3>";
    for (const char* w : warnings)
        if (caption == w) priority = "<4>";
    return priority + OneLine("[" + caption + "] " + text);
}

void IMessageSink::Journal(TPriority priority, const std::string& text) {
    std::fprintf(stderr, "<%d>%s\n", static_cast<int>(priority), OneLine(text).c_str());
}

void Journal(TPriority priority, const std::string& text) {
    if (g_unattended) return g_default.Journal(priority, text);
    g_sink.load()->Journal(priority, text);
}

int ShowMessage(const std::string& text, const std::string& caption, TButtons buttons) {
    if (g_unattended) return g_default.Message(text, caption, buttons);
    return g_sink.load()->Message(text, caption, buttons);
}

bool FileDialog(const TFileRequest& request, std::string& chosen) {
    if (g_unattended) return false;
    return g_sink.load()->FileDialog(request, chosen);
}

bool ChooseFile(const TFileRequest& request, TFileChoice& choice) {
    if (g_unattended) return false;
    return g_sink.load()->ChooseFile(request, choice);
}

void SetExitHook(std::function<void(int)> hook) {
    std::lock_guard<std::mutex> lock(g_exitMutex);
    g_exitHook = std::move(hook);
}

void ExitProgram(int status) {
    std::function<void(int)> hook;
    {
        std::lock_guard<std::mutex> lock(g_exitMutex);
        hook = g_exitHook;
    }
    if (hook) {
        hook(status);
        return;
    }
    std::exit(status);
}

}  // namespace seam
