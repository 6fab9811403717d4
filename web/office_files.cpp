#include "web/office_files.h"

#include <map>
#include <mutex>

#include <pqxx/binarystring>
#include <pqxx/nontransaction>
#include <pqxx/result>

#include "billing/csv_fields.h"

namespace {

// Parsed files by site and kind, with the time of the upload they came from.
struct TParsed {
    std::string UploadedAt;
    std::shared_ptr<const void> Object;
    std::string Error;
};
std::mutex cacheMutex;
std::map<std::pair<std::string, std::string>, TParsed> cache;

template <class T>
std::shared_ptr<const T> Parsed(const std::string& site, const std::string& kind,
                                const std::string& uploadedAt, const std::string& name,
                                const pqxx::binarystring& content, std::string& error) {
    {
        std::lock_guard<std::mutex> lock(cacheMutex);
        const auto found = cache.find({site, kind});
        if (found != cache.end() && found->second.UploadedAt == uploadedAt) {
            if (error.empty()) error = found->second.Error;
            return std::static_pointer_cast<const T>(found->second.Object);
        }
    }
    std::string text;
    auto object = std::make_shared<T>();
    TBillingResult read = DecodeTable(content.str(), name, text);
    if (read.Ok()) read = object->Parse(text);
    TParsed parsed{uploadedAt, read.Ok() ? object : nullptr, read.Ok() ? "" : read.Message};
    if (error.empty()) error = parsed.Error;
    std::lock_guard<std::mutex> lock(cacheMutex);
    cache[{site, kind}] = parsed;
    return std::static_pointer_cast<const T>(parsed.Object);
}

}  // namespace

TOfficeBilling LoadOfficeBilling(pqxx::connection_base& db, const std::string& site) {
    TOfficeBilling billing;
    pqxx::nontransaction n(db);
    // The time of the upload to the microsecond tells one upload from the
    // next; the content is fetched only when it is not parsed yet.
    const pqxx::result r = n.exec_params(
        "SELECT kind, file_name, uploaded_at::text FROM tallyphon.office_files WHERE site = $1",
        site);
    for (const pqxx::row& row : r) {
        const std::string kind = row[0].as<std::string>(), name = row[1].as<std::string>(),
                          at = row[2].as<std::string>();
        bool cached = false;
        {
            std::lock_guard<std::mutex> lock(cacheMutex);
            const auto found = cache.find({site, kind});
            cached = found != cache.end() && found->second.UploadedAt == at;
        }
        pqxx::binarystring content("");
        if (!cached) {
            const pqxx::result c = n.exec_params(
                "SELECT content FROM tallyphon.office_files WHERE site = $1 AND kind = $2", site,
                kind);
            if (c.empty()) continue;
            content = pqxx::binarystring(c[0][0]);
        }
        if (kind == "tariffs") {
            billing.TariffsName = name;
            billing.Tariffs = Parsed<TTariffs>(site, kind, at, name, content, billing.Error);
        } else {
            billing.DirectoryName = name;
            billing.Directory = Parsed<TDirectory>(site, kind, at, name, content, billing.Error);
        }
    }
    return billing;
}
