#include "alerts/db_sink.h"

#include <poll.h>

#include <algorithm>

#include <pqxx/except>
#include <pqxx/nontransaction>

#include "db/schema.h"

namespace {

// connInfo with connect_timeout set to seconds unless it names one: an
// alert is not to wait the shipper's ten seconds for a server out of
// reach.
std::string WithConnectTimeout(const std::string& connInfo, long long seconds) {
    if (connInfo.find("connect_timeout") != std::string::npos) return connInfo;
    const bool uri =
        connInfo.rfind("postgresql://", 0) == 0 || connInfo.rfind("postgres://", 0) == 0;
    const std::string option = "connect_timeout=" + std::to_string(seconds < 2 ? 2 : seconds);
    if (!uri) return connInfo + " " + option;
    return connInfo + (connInfo.find('?') == std::string::npos ? "?" : "&") + option;
}

}  // namespace

TDbSink::TDbSink(TDbConfig config, std::chrono::milliseconds timeout)
    : config_(std::move(config)), timeout_(timeout) {}

TDbSink::~TDbSink() = default;

std::string TDbSink::Deliver(const TAlert& alert) {
    std::lock_guard<std::mutex> lock(mutex_);
    // An idle connection's server never speaks unasked: something to read
    // means it ended the session or went away.
    if (connection_) {
        pollfd socket{connection_->sock(), POLLIN, 0};
        if (socket.fd < 0 || poll(&socket, 1, 0) != 0) connection_.reset();
    }
    try {
        if (!connection_) {
            auto c = ConnectDb(WithConnectTimeout(
                config_.ConnInfo,
                std::chrono::duration_cast<std::chrono::seconds>(timeout_).count()));
            // 0 would be no limit at all.
            const std::string ms = std::to_string(std::max<long long>(timeout_.count(), 100));
            pqxx::nontransaction(*c).exec("SET statement_timeout = " + ms +
                                          "; SET lock_timeout = " + ms);
            connection_ = std::move(c);
        }
        pqxx::nontransaction n(*connection_);
        n.exec_params(
            "INSERT INTO tallyphon.alerts (site, key, kind, cleared, raised_at, text, call_line)"
            " VALUES ($1, $2, $3, $4, to_timestamp($5), $6, $7) ON CONFLICT DO NOTHING",
            config_.Site, alert.Key, std::string(AlertKindName(alert.Kind)), alert.Cleared,
            static_cast<long long>(alert.At), alert.Text, alert.CallLine);
        return {};
    } catch (const std::exception& e) {
        const bool lost = connection_ && !connection_->is_open();
        connection_.reset();
        std::string why = lost ? "связь с сервером потеряна" : DbErrorText(e);
        const auto* sql = dynamic_cast<const pqxx::sql_error*>(&e);
        if (sql && sql->sqlstate() == "42P01")
            why =
                "в базе данных нет таблицы tallyphon.alerts; ее делает владелец базы данных "
                "командой tallyphon-report --db СТРОКА --create-schema";
        return HidePassword("тревога не записана в базу данных (" +
                                ConnInfoForDisplay(config_.ConnInfo) + "): " + why,
                            config_.ConnInfo);
    }
}
