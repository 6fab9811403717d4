// Alerts in the database: a row of tallyphon.alerts for each, which the web
// view's page "Тревоги" shows.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "alerts/alert.h"
#include "db/connection.h"
#include "db/db_config.h"

class TDbSink : public IAlertSink {
  public:
    // config is the office's, as the shipper has it: its connection string
    // and its site, which every row carries (an office's role may add rows
    // of its own site only). Connecting and each statement wait timeout
    // at most.
    explicit TDbSink(TDbConfig config, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    ~TDbSink() override;
    TDbSink(const TDbSink&) = delete;
    TDbSink& operator=(const TDbSink&) = delete;

    // Adds the alert's row, keyed by the site and the alert's Key, through
    // a connection of the sink's own; a row already there is kept as it is,
    // so a delivery repeated after a lost answer adds nothing. Empty when
    // the row is there, else why not (UTF-8, one line, naming the server
    // and no password). A connection the server closed is opened anew on
    // the next call. Safe to call from any thread.
    std::string Deliver(const TAlert& alert) override;

  private:
    std::mutex mutex_;
    const TDbConfig config_;
    const std::chrono::milliseconds timeout_;
    std::unique_ptr<TDbConnection> connection_;
};
