// libFuzzer harness: a call-log loaded from a file and from the same bytes
// as text gives the same records, and the file and the text readers never
// read outside their input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "calllog/calllog_loader.h"
#include "tests/fuzz/fuzz_dir.h"
#include "tests/fuzz/fuzz_require.h"

namespace {

// Doubles compared bit for bit, so that two equal NaNs compare equal too.
bool SameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameRecord(const TExtStr_rep& a, const TExtStr_rep& b) {
    return SameBits(a.StartTime, b.StartTime) && SameBits(a.Duration(), b.Duration()) &&
           a.Rate == b.Rate && a.DurTotalSec == b.DurTotalSec && a.HwLine == b.HwLine &&
           a.PrgLine == b.PrgLine && a.Trunk == b.Trunk && a.ExtNumber == b.ExtNumber;
}

}  // namespace

// Loads the input as a file and as text; aborts when the two differ.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string path = FuzzDir().File("calllog.txt");
    testing_support::WriteFile(path, bytes);

    TCallLogContent fromFile;
    FuzzRequire(ReadCallLogFile(path, fromFile).Ok(), "a regular file loads");
    const TCallLogContent fromText = ReadCallLogText(bytes);

    FuzzRequire(fromFile.LineCount == fromText.LineCount, "same number of lines");
    FuzzRequire(fromFile.LineList.Count() == fromText.LineList.Count(), "same number of records");
    FuzzRequire(fromText.LineList.Count() <= fromText.LineCount, "no more records than lines");
    for (size_t i = 0; i < fromText.LineList.Count(); ++i)
        FuzzRequire(SameRecord(fromFile.LineList[i], fromText.LineList[i]), "same records");
    return 0;
}
