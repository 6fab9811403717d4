// The exchange's end of a pseudo-terminal, for the tests of the real port.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

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

}  // namespace testing_support
