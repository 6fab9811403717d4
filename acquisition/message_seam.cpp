#include "message_seam.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace seam {
namespace {

class StderrSink : public IMessageSink {
  public:
    int Message(const std::string& text, const std::string& caption, TButtons) override {
        std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
        return kAnswerOk;
    }
};

StderrSink g_default;
std::atomic<IMessageSink*> g_sink{&g_default};
std::mutex g_exitMutex;
std::function<void(int)> g_exitHook;

}  // namespace

void SetMessageSink(IMessageSink* sink) {
    g_sink = sink ? sink : &g_default;
}
IMessageSink* MessageSink() {
    return g_sink;
}

int ShowMessage(const std::string& text, const std::string& caption, TButtons buttons) {
    return g_sink.load()->Message(text, caption, buttons);
}

bool FileDialog(const TFileRequest& request, std::string& chosen) {
    return g_sink.load()->FileDialog(request, chosen);
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
