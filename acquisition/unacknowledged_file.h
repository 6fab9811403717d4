// The record of each unit handed on last and not yet acknowledged by the
// exchange, kept in a small file in the start-up directory. The exchange
// drops a record only when the next-record request arrives, so after Stop,
// closing the program or a kill it offers the last record written again;
// read at start-up, this file lets that record be skipped instead of
// written twice.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "low_level.h"

inline constexpr char kUnacknowledgedFileName[] = "Tallyphon.state";

class TUnacknowledgedFile : public IUnacknowledgedStore {
  public:
    explicit TUnacknowledgedFile(std::string path);

    // The records the file holds, per unit; empty when the file is missing
    // or damaged in any way (then nothing is skipped, and nothing said).
    std::map<int, std::vector<uint8_t>> Load();

    // Each change rewrites the file: a temporary file, written whole, renamed
    // over it. With nothing left to keep, the file is removed.
    void Remember(int unit, const std::vector<uint8_t>& payload) override;
    void Forget(int unit) override;

  private:
    void Save();

    std::string path_;
    std::map<int, std::vector<uint8_t>> records_;
};
