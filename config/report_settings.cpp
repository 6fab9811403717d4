#include "config/report_settings.h"

#include <sys/stat.h>

#include <cerrno>
#include <fstream>

#include "base/fd.h"

namespace {

constexpr const char* kTariffsKey = "tariffs";
constexpr const char* kSubscribersKey = "subscribers";

}  // namespace

TReportSettings ReadReportSettings(const std::string& path) {
    TReportSettings settings;
    // Only a regular file: a FIFO put in its place must not hold the window.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return settings;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq);
        if (key == kTariffsKey) settings.Tariffs = line.substr(eq + 1);
        if (key == kSubscribersKey) settings.Subscribers = line.substr(eq + 1);
    }
    return settings;
}

TConfigResult WriteReportSettings(const std::string& path, const TReportSettings& settings) {
    const std::string text = std::string(kTariffsKey) + '=' + settings.Tariffs + '\n' +
                             kSubscribersKey + '=' + settings.Subscribers + '\n';
    if (ReplaceFile(path, text)) return {};
    return {TConfigStatus::Failed, errno};
}
