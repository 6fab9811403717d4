// A call-log file's identity from its content: what the database's shipper
// and the alerts keep of a file to know it again after a rename, a copy or
// a restart, and to tell a file replaced or cut and written anew.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Bytes of a file's first line that name the file at most.
inline constexpr size_t kCallLogHeadLength = 4096;

// The identity of a file whose first bytes (at most kCallLogHeadLength;
// fewer only when that is the whole file) are head, salted with salt (the
// shipper's office, so that two offices' equal files stay apart): a 64-bit
// hash (FNV-1a, then mixed) of the bytes up to the end of its first line
// that is not blank (a title line, or the first call, with the exchange's
// clock in it), or of all kCallLogHeadLength when no such line ends there.
// A file only grows, so its head never changes. False while the head is
// not complete.
bool HeadIdentity(std::string_view salt, std::string head, int64_t& id);
// The same for the file open as fd, size bytes long; false also when it
// cannot be read.
bool FileIdentity(std::string_view salt, int fd, off_t size, int64_t& id);
