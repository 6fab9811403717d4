// Helpers shared by the link tests: a recorder for message boxes and the
// exit hook, a scripted peer on a pseudo-terminal, and condition waits.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "message_seam.h"

namespace testing_support {

struct TShownMessage {
    std::string Text;
    std::string Caption;
};

// Installs itself as the message sink and exit hook for its lifetime and
// records what passes through both.
class TRecorder : public seam::IMessageSink {
  public:
    TRecorder();
    ~TRecorder() override;
    int Message(const std::string& text, const std::string& caption,
                seam::TButtons buttons) override;
    std::vector<TShownMessage> Messages() const;
    std::vector<int> Exits() const;

  private:
    mutable std::mutex mutex_;
    std::vector<TShownMessage> messages_;
    std::vector<int> exits_;
};

// A pseudo-terminal whose far end is driven by the test: each byte the
// program sends is handed to the responder, whose answer is written back.
class TPtyPeer {
  public:
    using TResponder = std::function<std::vector<uint8_t>(uint8_t)>;
    explicit TPtyPeer(TResponder responder = nullptr);
    ~TPtyPeer();
    std::string SlavePath() const { return slavePath_; }
    // Writes bytes towards the program at once.
    void Send(const std::vector<uint8_t>& bytes);
    // Every byte the program has sent so far.
    std::vector<uint8_t> Received() const;
    // The device goes away: both ends are closed.
    void Vanish();

  private:
    void Serve();
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    TResponder responder_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<uint8_t> received_;
    std::thread thread_;
};

// Polls condition until it holds or timeout passes; true when it held.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Milliseconds taken by f.
long long ElapsedMs(const std::function<void()>& f);

// A fresh empty directory under the system's temporary directory, removed
// with its contents when the object ends.
class TTempDir {
  public:
    TTempDir();
    ~TTempDir();
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace testing_support
