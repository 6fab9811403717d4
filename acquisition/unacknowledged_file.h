// The record of each unit handed on last and not yet acknowledged by the
// exchange, with where its line went, kept in a small file in the start-up
// directory. The exchange drops a record only when the next-record request
// arrives, so after Stop, closing the program or a kill it offers the last
// record again; read at start-up, this file lets that record be skipped
// instead of written twice, but only when its line really is in the
// call-log file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/fd.h"

inline constexpr char kUnacknowledgedFileName[] = "Tallyphon.state";

// One unit's record and the place of its line in the call-log file.
struct TUnacknowledged {
    std::vector<uint8_t> Payload;
    // Where the line begins in the file, and the line as it is there
    // (Windows-1251, with its CR LF).
    uint64_t Offset = 0;
    std::string Line;

    bool operator==(const TUnacknowledged& o) const {
        return Payload == o.Payload && Offset == o.Offset && Line == o.Line;
    }
};

class TUnacknowledgedFile {
  public:
    explicit TUnacknowledgedFile(std::string path);

    // The records the file holds, per unit; empty when the file is missing,
    // not a regular file or damaged in any way (then nothing is skipped,
    // and nothing said).
    std::map<int, TUnacknowledged> Load() const;

    // Replaces the file by one holding records: a new file made beside it
    // (never through a link planted under the temporary name), written
    // whole and renamed over it, so a reader finds the old file or the new
    // one, never half of one. With nothing to keep the file is moved aside
    // under the retired name (at once: freeing a file takes the file system
    // a while, which RemoveRetired spends later, off the reading's way).
    // Returns the new file, still open, for the caller to force to the disk
    // with its directory; not open when nothing was kept or writing failed,
    // with errno then (no file is left: an old record could be taken for a
    // new call identical to it, and keeping nothing costs at most one line
    // twice).
    TFd Save(const std::map<int, TUnacknowledged>& records) const;

    // Removes the file moved aside, if any.
    void RemoveRetired() const;

    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// Whether the file at callLog ends with record's line, at its place, or
// with that line followed only by title blocks (each start of a reading
// writes one before the record is offered again): only then was the record
// written.
bool CallLogEndsWith(const std::string& callLog, const TUnacknowledged& record);
