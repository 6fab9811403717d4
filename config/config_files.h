// The program's two settings files in the start-up directory: the binary
// "Tallyphon.cfg" (port and two call-log options) and the text file
// "TallyphonOut.cfg" (call-log path, real-time log path, start-up action).
// These functions move the settings between a TSettings and the files; the
// files are looked up in its StartDir. None of them raises.
#pragma once

#include <string>

#include "settings.h"

inline constexpr char kConfigFileName[] = "Tallyphon.cfg";
inline constexpr char kOutConfigFileName[] = "TallyphonOut.cfg";
// "Tallyphon.cfg" is exactly this long; any other length counts as damaged.
inline constexpr int kConfigFileSize = 30;
// Byte 0 of "Tallyphon.cfg" holds the port number, COM1 to COM32.
inline constexpr int kMaxPortNumber = 32;
// How often a damaged "Tallyphon.cfg" is deleted before the defaults are kept.
inline constexpr int kMaxDeleteTries = 3;

// Reads "Tallyphon.cfg" into PortName, SaveTitle and AltFormat. A missing or
// damaged (not 30 bytes) file is replaced by the default one (port 1, title
// on, alternative format off) and sets FirstStart. Returns 1 when the settings
// came from a file or a new default file was written; -1 when no usable file
// could be read or written: with PortName "COM" when the name is not a
// regular file or nothing could be created, with the defaults in memory when
// a damaged file could not be deleted after kMaxDeleteTries tries.
int ReadConfig(TSettings& s);

// Stores port, saveTitle and altFormat in the context and in "Tallyphon.cfg",
// creating the file when absent; bytes 3 to 29 of an existing file are kept.
// Returns 1 when written; -1, with nothing written or stored, when port is not
// "COM1" to "COM32" or the file can be neither opened nor created; -1 also
// when a write fails (the context already holds the new values then).
int WriteConfig(TSettings& s, const std::string& port, bool saveTitle, bool altFormat);

// Reads "TallyphonOut.cfg" into TarifFileName, RealTimeFileName and
// AutoStart. Returns 1 when read; -2 when there is no such regular file
// (TarifFileName is emptied); -1 when it cannot be read, with the fields
// unchanged. The process's current directory is left alone.
int ReadOutConfig(TSettings& s);

// Rewrites "TallyphonOut.cfg" with the two paths and the current AutoStart.
// Returns 1 when every byte was written; -2 when the file cannot be opened
// for writing (nothing written); -1 when a path holds a line end or NUL
// (nothing written) or a write fails.
int WriteOutConfig(TSettings& s, const std::string& tarifPath, const std::string& realTimePath);
