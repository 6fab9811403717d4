#include "calllog/file_identity.h"

#include <algorithm>

#include "base/fd.h"

bool HeadIdentity(std::string_view salt, std::string head, int64_t& id) {
    const size_t text = head.find_first_not_of("\r\n");
    const size_t end = text == std::string::npos ? text : head.find('\n', text);
    if (end != std::string::npos)
        head.resize(end + 1);
    else if (head.size() < kCallLogHeadLength)
        return false;
    uint64_t h = 0xcbf29ce484222325u;
    const auto add = [&h](std::string_view bytes) {
        for (const char c : bytes)
            h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
    };
    add(salt);
    add(std::string_view("\0", 1));
    add(head);
    h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9u;
    h = (h ^ (h >> 27)) * 0x94d049bb133111ebu;
    id = static_cast<int64_t>(h ^ (h >> 31));
    return true;
}

bool FileIdentity(std::string_view salt, int fd, off_t size, int64_t& id) {
    std::string head(static_cast<size_t>(std::min<off_t>(size, kCallLogHeadLength)), '\0');
    return ReadAll(fd, head.data(), head.size(), 0) && HeadIdentity(salt, std::move(head), id);
}
