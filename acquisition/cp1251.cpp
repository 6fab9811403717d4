#include "cp1251.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace {

// Runs text through iconv from one code set to another; an unconvertible or
// broken sequence gives "?" and the conversion goes on after it.
std::string Convert(const std::string& text, const char* to, const char* from, size_t skipOnError) {
    std::string out;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return text;
    std::vector<char> buf(text.size() * 4 + 16);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    while (inLeft > 0) {
        char* o = buf.data();
        size_t oLeft = buf.size();
        const size_t rc = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buf.data(), static_cast<size_t>(o - buf.data()));
        if (rc == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            out += '?';
            // Skip the offending input: one byte, or a whole UTF-8 sequence.
            size_t skip = 1;
            if (skipOnError > 1) {
                const unsigned char c = static_cast<unsigned char>(*in);
                skip = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            }
            if (skip > inLeft) skip = inLeft;
            in += skip;
            inLeft -= skip;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

}  // namespace

std::string ToCp1251(const std::string& utf8) {
    return Convert(utf8, "CP1251", "UTF-8", 4);
}

std::string FromCp1251(const std::string& cp1251) {
    return Convert(cp1251, "UTF-8", "CP1251", 1);
}
