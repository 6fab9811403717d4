// An office's tariff file and subscriber directory, kept in
// tallyphon.office_files as their bytes were uploaded and read by the same
// parsers as the files of the desktop program and tallyphon-report.
#pragma once

#include <memory>
#include <string>

#include <pqxx/connection_base>

#include "billing/directory.h"
#include "billing/tariffs.h"

// What an office is billed by. Tariffs is null when none was uploaded;
// Directory empty when none was.
struct TOfficeBilling {
    std::shared_ptr<const TTariffs> Tariffs;
    std::shared_ptr<const TDirectory> Directory;
    std::string TariffsName, DirectoryName;  // the uploaded files' names
    // Why a stored file could not be read (it was accepted when uploaded,
    // so only a parser grown stricter since gives one); empty when none.
    std::string Error;
};

// site's tariffs and directory. Parsed once per upload: later calls with
// the same upload give the same objects. Throws what libpqxx throws.
TOfficeBilling LoadOfficeBilling(pqxx::connection_base& db, const std::string& site);
