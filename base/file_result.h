// How a load or an export of a file ended, for every file the program
// loads or writes for the user (call logs, tables, exports), and the result
// convention of reports/, kept by every function of it that touches a file:
// the outcome and, beside it, the system's error number of a failure (as
// libserialport pairs sp_return with sp_last_error_code()), so that callers
// switch over the outcome and only messages look at the number.
#pragma once

enum class TFileStatus {
    Done,         // read or written whole
    Cancelled,    // the progress callback returned false; nothing changed
    CannotOpen,   // a load could not open the file, or it is no regular file;
                  // an export could not create or open it there
    CannotRead,   // a load failed reading the file
    CannotWrite,  // an export failed writing or closing the file
    Failed,       // an export failed otherwise, an exception included
    NotAFile,     // an export refused: the target is a FIFO or a socket
    IsKept,       // an export refused: the target is the loaded call log
    ForeignLink,  // an export refused: a symbolic link that OpenThroughLinks'
                  // rule does not follow
    Declined,     // an export was not to replace the existing file
};

struct TFileResult {
    TFileStatus Status = TFileStatus::Done;
    // errno of a failure; 0 when done, cancelled, refused or declined.
    int Error = 0;

    bool Ok() const { return Status == TFileStatus::Done; }
    friend bool operator==(const TFileResult& a, const TFileResult& b) {
        return a.Status == b.Status && a.Error == b.Error;
    }
};
