// The program's two settings files in the start-up directory: the binary
// "Tallyphon.cfg" (port and two call-log options) and the text file
// "TallyphonOut.cfg" (call-log path, real-time log path, start-up action).
// These functions move the settings between a TSettings and the files; the
// files are looked up in its StartDir.
//
// A file is never written in place: its new contents go to a new file made
// beside it, which is renamed over it. A symbolic link under a file's name is
// read through, and replaced by the new file when written, so what it leads
// to is never changed; a link that leads nowhere or to anything but a regular
// file is left as it is, like a directory or a FIFO under the name. Nothing
// waits on a FIFO: such a name is refused at once.
#pragma once

#include <string>

#include "config/settings.h"

inline constexpr char kConfigFileName[] = "Tallyphon.cfg";
inline constexpr char kOutConfigFileName[] = "TallyphonOut.cfg";
// "Tallyphon.cfg" is exactly this long; any other length counts as damaged.
inline constexpr int kConfigFileSize = 30;
// Byte 0 of "Tallyphon.cfg" holds the port number, COM1 to COM32.
inline constexpr int kMaxPortNumber = 32;
// How often a damaged "Tallyphon.cfg" is deleted before the defaults are kept.
inline constexpr int kMaxDeleteTries = 3;

// How an operation of the settings code ended, for every function of
// config/: the outcome and, beside it, the system's error number of a
// failure (as libserialport pairs sp_return with sp_last_error_code()), so
// that callers switch over the outcome and only messages look at the number.
// A failure to allocate comes back as Failed with ENOMEM, a system error
// raised as std::system_error as Failed with its code.
enum class TConfigStatus : int {
    Done = 1,
    Failed = -1,
    NoFile = -2,
};

struct [[nodiscard]] TConfigResult {
    TConfigStatus Status = TConfigStatus::Done;
    // errno of a failure the system reported; 0 when done, or when the
    // settings code itself refused (a port name, a path it cannot store).
    int Error = 0;

    bool Ok() const { return Status == TConfigStatus::Done; }
    friend bool operator==(const TConfigResult& a, const TConfigResult& b) {
        return a.Status == b.Status && a.Error == b.Error;
    }
};

// Reads "Tallyphon.cfg" into PortName, SaveTitle and AltFormat. A missing or
// damaged (not 30 bytes) file is replaced by the default one (port 1, title
// on, alternative format off) and sets FirstStart. Done when the settings
// came from a file or a new default file was written; Failed when no usable
// file could be read or written: with PortName "COM" when the name is not a
// regular file or nothing could be created, with the defaults in memory when
// a damaged file could not be deleted after kMaxDeleteTries tries.
TConfigResult ReadConfig(TSettings& s);

// Stores port, saveTitle and altFormat in s and in "Tallyphon.cfg", creating
// the file when absent; bytes 3 to 29 of an existing file are kept. Done when
// written; Failed, with nothing written or stored, when port is not "COM1" to
// "COM32", the name holds something other than a regular file, the file may
// not be written or no new file can be made; Failed also when a write fails
// (s already holds the new values then).
TConfigResult WriteConfig(TSettings& s, const std::string& port, bool saveTitle, bool altFormat);

// Reads "TallyphonOut.cfg" into TarifFileName, RealTimeFileName and
// AutoStart. Done when read; NoFile when there is no such regular file
// (TarifFileName is emptied); Failed when it cannot be read or is far larger
// than the program ever writes it, with the fields unchanged. A path that
// cannot be stored (see StorablePath) is passed over: the one in force stays.
// The process's current directory is left alone.
TConfigResult ReadOutConfig(TSettings& s);

// Whether path can be stored as a line of "TallyphonOut.cfg": neither a line
// end nor a NUL (the one would read back as further lines, the other would
// cut the name short), and shorter than PATH_MAX (no longer name can be
// opened).
bool StorablePath(const std::string& path);

// Rewrites "TallyphonOut.cfg" with the two paths and the current AutoStart.
// Done when every byte was written; NoFile when the name holds something
// other than a regular file, the file may not be written or no new file can
// be made (nothing written); Failed when a path cannot be stored (nothing
// written) or a write fails (the old file stays).
TConfigResult WriteOutConfig(TSettings& s, const std::string& tarifPath,
                             const std::string& realTimePath);
