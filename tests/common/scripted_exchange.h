// A minimal exchange for wire-exact tests: echoes 00 while idle; after a
// command byte it takes the command's parameter bytes and then sends the
// next reply queued for that command (the last one repeats).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace testing_support {

class TScriptedExchange {
  public:
    // Sets what command answers; an empty reply is silence.
    void Reply(uint8_t command, std::vector<std::vector<uint8_t>> replies) {
        std::lock_guard<std::mutex> lock(mutex_);
        replies_[command] = std::deque<std::vector<uint8_t>>(replies.begin(), replies.end());
    }
    // The echo answers reply to echo number n (1-based); -1 is silence.
    void Echo(int n, int reply) {
        std::lock_guard<std::mutex> lock(mutex_);
        echo_[n] = reply;
    }
    void SetSilent(bool silent) {
        std::lock_guard<std::mutex> lock(mutex_);
        silent_ = silent;
    }
    int Echoes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return echoes_;
    }

    std::vector<uint8_t> operator()(uint8_t b) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (silent_) return {};
        if (pending_ > 0) {
            if (--pending_ > 0) return {};
            return Next(command_);
        }
        if (b == 0x00) {
            ++echoes_;
            auto it = echo_.find(echoes_);
            if (it == echo_.end()) return {0x00};
            if (it->second < 0) return {};
            return {static_cast<uint8_t>(it->second)};
        }
        command_ = b;
        pending_ = b == 0x40 ? 1 : b == 0x84 ? 3 : b == 0xF0 ? 4 : 0;
        return pending_ > 0 ? std::vector<uint8_t>{} : Next(b);
    }

  private:
    std::vector<uint8_t> Next(uint8_t command) {
        auto it = replies_.find(command);
        if (it == replies_.end() || it->second.empty()) return {};
        std::vector<uint8_t> r = it->second.front();
        if (it->second.size() > 1) it->second.pop_front();
        return r;
    }

    mutable std::mutex mutex_;
    std::map<uint8_t, std::deque<std::vector<uint8_t>>> replies_;
    std::map<int, int> echo_;
    bool silent_ = false;
    int echoes_ = 0;
    int pending_ = 0;
    uint8_t command_ = 0;
};

// A reply frame: length, payload scrambled with key, checksum over the
// scrambled bytes.
inline std::vector<uint8_t> Frame(const std::vector<uint8_t>& payload, uint8_t key) {
    std::vector<uint8_t> f;
    f.push_back(static_cast<uint8_t>(payload.size()));
    uint8_t sum = 0;
    for (const uint8_t b : payload) {
        f.push_back(b ^ key);
        sum = static_cast<uint8_t>(sum + (b ^ key));
    }
    f.push_back(sum);
    return f;
}

}  // namespace testing_support
