#include "cp1251_text.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace {

// One conversion direction; opened once per thread, since iconv_open is slow
// next to converting a short field.
class TConverter {
  public:
    TConverter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("iconv_open failed: ") + from + " -> " + to);
    }
    ~TConverter() { iconv_close(cd_); }
    TConverter(const TConverter&) = delete;
    TConverter& operator=(const TConverter&) = delete;

    // Converts text; an input sequence that cannot be converted is skipped
    // (one byte, or one whole UTF-8 character) and "?" is written instead.
    std::string Convert(std::string_view text, bool utf8Input) {
        std::string out;
        out.resize(text.size() * 3 + 4);
        char* in = const_cast<char*>(text.data());
        size_t inLeft = text.size();
        char* dst = &out[0];
        size_t outLeft = out.size();
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        while (inLeft > 0) {
            if (iconv(cd_, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1)) break;
            if (errno == E2BIG) {  // cannot happen with three bytes per input byte
                const size_t used = static_cast<size_t>(dst - out.data());
                out.resize(out.size() * 2);
                dst = &out[used];
                outLeft = out.size() - used;
                continue;
            }
            size_t skip = 1;
            if (utf8Input && errno == EILSEQ) skip = Utf8SequenceLength(in, inLeft);
            if (errno == EINVAL) skip = inLeft;  // incomplete sequence at the end
            in += skip;
            inLeft -= skip;
            if (outLeft == 0) {
                const size_t used = static_cast<size_t>(dst - out.data());
                out.resize(out.size() + 16);
                dst = &out[used];
                outLeft = out.size() - used;
            }
            *dst++ = '?';
            --outLeft;
        }
        out.resize(static_cast<size_t>(dst - out.data()));
        return out;
    }

  private:
    // Length of a well-formed UTF-8 lead sequence at p (1 for a stray byte).
    static size_t Utf8SequenceLength(const char* p, size_t left) {
        const unsigned char c = static_cast<unsigned char>(p[0]);
        size_t n = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 1;
        if (n > left) return 1;
        for (size_t i = 1; i < n; ++i)
            if ((static_cast<unsigned char>(p[i]) & 0xC0) != 0x80) return 1;
        return n;
    }

    iconv_t cd_;
};

}  // namespace

bool IsAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

std::string Cp1251ToUtf8(std::string_view text) {
    if (IsAscii(text)) return std::string(text);
    thread_local TConverter conv("UTF-8", "CP1251");
    return conv.Convert(text, false);
}

std::string Utf8ToCp1251(std::string_view text) {
    if (IsAscii(text)) return std::string(text);
    thread_local TConverter conv("CP1251", "UTF-8");
    return conv.Convert(text, true);
}
