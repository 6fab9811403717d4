// Writing a file the user asked for (an export, a bill): made beside its
// target and put in place only once complete, never through a FIFO, over
// the file a report was loaded from or through a link of another user, and
// the messages of what went wrong.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/file_result.h"

class TStagedFiles;

// Told how far an export has come (rows written so far, rows in all);
// returning false cancels it.
using TWriteProgress = std::function<bool(uint64_t done, uint64_t total)>;

// What an export is told besides its target.
struct TWriteControl {
    // A file that no export may replace, such as the call log the report
    // was loaded from: a target that is the same file (device and inode,
    // looked at when the export runs) is refused.
    std::string Keep;
    // Called now and then from the thread that writes; may be empty.
    TWriteProgress Progress;
    // When set, a complete new file is handed to it, to be put in place
    // with the others, instead of being renamed over its target at once.
    TStagedFiles* Stage = nullptr;
};

// Done when path may be written; NotAFile when it is a FIFO or a socket,
// IsKept when it is the file keep (device and inode), ForeignLink when it
// leads there through a symbolic link MayFollowLinks refuses.
TFileResult ExportRefusal(const std::string& path, const std::string& keep);

// Fills a file that replaces path once complete. fill gets the descriptor
// of the new file and its name (for writers that open it by name themselves)
// and gives Done when it wrote everything, else its failure. The new file is
// made beside the target and renamed over it (a link's target, when path is
// a symbolic link) only after fill succeeded and the file was closed (or
// handed to control.Stage then); on any failure it is removed and an
// earlier file stays as it was. The new file
// keeps the mode, owner and group of the file it replaces (the owner only
// where the process may give it away). A device is written in place; a FIFO
// or a socket is refused (NotAFile), and so are control.Keep (IsKept) and a
// file reached through a link MayFollowLinks refuses (ForeignLink), before
// anything is written. Gives Done when written; CannotOpen when the file
// cannot be created there (no permission, no such directory, path is a
// directory); CannotWrite when writing or closing it failed (full file
// system); Failed on any other failure, an exception from fill included;
// what fill gave when it failed or cancelled.
using TFileFill = std::function<TFileResult(int fd, const std::string& name)>;
TFileResult WriteFileReplacing(const std::string& path, const TFileFill& fill,
                               const TWriteControl& control = {});

// The message of a failed export: Failed "Непонятное исключение. errno = ",
// CannotOpen "Не создать или не открыть файл. errno = ", any other
// "Не закрыть файл. errno = ", each followed by the error in decimal.
std::string ExportFailureText(const TFileResult& result);

// Whether status is one of an export's refusals (NotAFile, IsKept,
// ForeignLink).
bool IsRefusal(TFileStatus status);

// The message of a refused export, naming the file.
std::string ExportRefusalText(TFileStatus refusal, const std::string& path);

// The message of any failed export of path, for a log or a terminal: the
// refusal, or "Не удалось сохранить файл", the name in quotes, the failure
// text and the system's text of the error in the language of the locale.
std::string ExportFailureMessage(const TFileResult& result, const std::string& path);
