// Helpers of the window tests: a recorder for message boxes, file dialogs
// and the exit hook; a temporary start-up directory with the two settings
// files; the simulated exchange linked into it as a port name.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "message_seam.h"
#include "sim_exchange.h"

class TMainForm;

namespace ui_test {

struct TShownMessage {
    std::string Text;
    std::string Caption;
    bool operator==(const TShownMessage& o) const { return Text == o.Text && Caption == o.Caption; }
};
void PrintTo(const TShownMessage& m, std::ostream* os);

// Installs itself as message sink and exit hook for its lifetime. File
// dialogs take the queued answers in turn (nullopt: cancelled); with none
// queued they are cancelled.
class TRecorder : public seam::IMessageSink {
  public:
    TRecorder();
    ~TRecorder() override;
    int Message(const std::string& text, const std::string& caption,
                seam::TButtons buttons) override;
    bool FileDialog(const seam::TFileRequest& request, std::string& chosen) override;

    std::vector<TShownMessage> Messages;
    std::vector<seam::TFileRequest> FileRequests;
    std::deque<std::optional<std::string>> FileAnswers;
    std::vector<int> Exits;
};

// "Tallyphon.cfg" bytes: port, save-title, alternative format, 27 zeros.
std::string ConfigBytes(int port, int saveTitle, int altFormat);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);

// A fresh temporary directory, removed with everything in it at the end.
class TStartDir {
  public:
    TStartDir();
    ~TStartDir();
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    // The usual settings: COM1, titles on, standard format; the call-log
    // file calls.txt; the start-up action auto ("" / "AUTOSTART_UNINTERRUPT"
    // / "AUTOSTART_1").
    void WriteSettings(const std::string& autoValue = "");

  private:
    std::string path_;
};

// Runs f with the current directory set to dir, then restores it.
void InDirectory(const std::string& dir, const std::function<void()>& f);

// A simulated exchange linked as dir/linkName.
std::unique_ptr<sim::TSimExchange> StartExchange(const std::string& dir,
                                                 sim::TExchangeConfig config = {},
                                                 const std::string& linkName = "COM1");

// Creates the main window in dir (its start-up runs there).
std::unique_ptr<TMainForm> CreateMainForm(const std::string& dir);

// Serves events until condition holds or timeout passes; true when it held.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(30));

}  // namespace ui_test
