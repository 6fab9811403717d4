// libFuzzer harness: Windows-1251 text survives the way to UTF-8 and back,
// ASCII is left as it is both ways, and any bytes taken for UTF-8 convert
// without harm.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/cp1251.h"
#include "tests/fuzz/fuzz_require.h"

// Converts the input both ways; aborts when a property fails.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // 0x98 is the one Windows-1251 byte without a character: it comes back
    // as "?".
    std::string expected(bytes);
    for (char& c : expected)
        if (static_cast<unsigned char>(c) == 0x98) c = '?';
    const std::string utf8 = Cp1251ToUtf8(bytes);
    FuzzRequire(Utf8ToCp1251(utf8) == expected, "Windows-1251 comes back from UTF-8");

    if (IsAscii(bytes)) {
        FuzzRequire(utf8 == bytes, "ASCII kept on the way to UTF-8");
        FuzzRequire(Utf8ToCp1251(bytes) == bytes, "ASCII kept on the way from UTF-8");
    }

    // Any bytes read as UTF-8: what comes out is Windows-1251 without 0x98,
    // which makes the way there and back again.
    const std::string cp1251 = Utf8ToCp1251(bytes);
    FuzzRequire(cp1251.size() <= bytes.size(), "never longer than the UTF-8 it came from");
    FuzzRequire(Utf8ToCp1251(Cp1251ToUtf8(cp1251)) == cp1251, "converted text round-trips");
    return 0;
}
