// The report window's own settings: which tariff and subscriber files it
// rates and names the calls with. Kept in a file of its own beside the
// exchange's, so that nothing of the exchange's files changes: UTF-8 lines
// "key=value", unknown keys and lines without "=" passed over.
#pragma once

#include <string>

#include "config/config_files.h"

inline constexpr const char* kReportSettingsFile = "TallyphonReports.cfg";

struct TReportSettings {
    std::string Tariffs;      // path of the tariff file; empty: none
    std::string Subscribers;  // path of the subscriber directory; empty: none
};

// The settings in path; a missing or unreadable file gives none.
TReportSettings ReadReportSettings(const std::string& path);
// Replaces path with settings (made beside it and renamed over it): Done, or
// Failed with errno when it cannot be written.
TConfigResult WriteReportSettings(const std::string& path, const TReportSettings& settings);
