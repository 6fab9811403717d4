#include "base/cp1251.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace {

// Length of the well-formed UTF-8 sequence at p, or 1 when the bytes there
// are not one (a stray continuation byte, a byte that never leads, an
// overlong form, a surrogate, a value past U+10FFFF, a cut sequence).
size_t Utf8SequenceLength(const char* p, size_t left) {
    const auto byte = [p](size_t i) { return static_cast<unsigned char>(p[i]); };
    const unsigned char c = byte(0);
    size_t n = 1;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    }
    if (n == 1 || n > left || byte(1) < lo || byte(1) > hi) return 1;
    for (size_t i = 2; i < n; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 1;
    return n;
}

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

    // The converted text; an input sequence that cannot be converted is
    // skipped (one byte, or one whole well-formed UTF-8 character) and "?"
    // is written instead.
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
                Grow(out, dst, outLeft, out.size());
                continue;
            }
            size_t skip = 1;
            if (utf8Input && errno == EILSEQ) skip = Utf8SequenceLength(in, inLeft);
            if (errno == EINVAL) skip = inLeft;  // incomplete sequence at the end
            in += skip;
            inLeft -= skip;
            if (outLeft == 0) Grow(out, dst, outLeft, 16);
            *dst++ = '?';
            --outLeft;
        }
        out.resize(static_cast<size_t>(dst - out.data()));
        return out;
    }

  private:
    // Enlarges out by more bytes, keeping dst and outLeft on the same place.
    static void Grow(std::string& out, char*& dst, size_t& outLeft, size_t more) {
        const size_t used = static_cast<size_t>(dst - out.data());
        out.resize(out.size() + more);
        dst = &out[used];
        outLeft = out.size() - used;
    }

    iconv_t cd_;
};

}  // namespace

bool IsAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

bool IsUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const size_t n = Utf8SequenceLength(text.data() + i, text.size() - i);
        if (n == 1) return false;
        i += n;
    }
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
