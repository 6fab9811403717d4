#include "test_support.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TTempDir::TTempDir() {
    char tmpl[] = "/tmp/tp_reports_test.XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
}

TTempDir::~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string CallLine(int hw, const std::string& prg, const std::string& trunk,
                     const std::string& dial, int dh, int dm, int ds) {
    TGenCall c;
    c.Year = 2007;
    c.Month = 3;
    c.Day = 5;
    c.Hour = 14;
    c.Minute = 2;
    c.Second = 7;
    c.DurHour = dh;
    c.DurMin = dm;
    c.DurSec = ds;
    c.HwLine = hw;
    c.PrgNumber = prg;
    c.Trunk = trunk;
    c.DialNumber = dial;
    return FormatStandardLine(c);
}
