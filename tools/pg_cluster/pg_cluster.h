// A throw-away PostgreSQL cluster for tests and benchmarks: made by initdb in a new
// directory under /tmp, its server listening on a Unix socket in that
// directory only. The server refuses to run as root, so a root test runs it
// as the "postgres" user of Debian's package.
#pragma once

#include <string>

class TPgCluster {
  public:
    // Makes and starts the cluster. Throws std::runtime_error, with the
    // server's log, when either fails. A durable cluster forces its writes
    // to the disk as a real server does (for benchmarks); else it leaves
    // that to the system, which is quicker for tests.
    explicit TPgCluster(bool durable = false);
    // Stops the server at once and removes the directory.
    ~TPgCluster();
    TPgCluster(const TPgCluster&) = delete;
    TPgCluster& operator=(const TPgCluster&) = delete;

    // Starts the stopped server; throws when it does not come up.
    void Start();
    // Stops the server: fast (sessions ended, a checkpoint) or, with
    // crash, at once, as a power cut would.
    void Stop(bool crash = false);
    // Whether the server runs (started and not stopped since).
    bool Running() const { return running_; }

    // A new, empty database and the connection string that reaches it.
    std::string CreateDatabase(const std::string& name);
    // The connection string of database dbname.
    std::string ConnInfo(const std::string& dbname = "postgres") const;
    // Runs sql in database dbname through psql and gives its output
    // (unaligned, tuples only, "|" between fields). Throws on failure.
    std::string Psql(const std::string& dbname, const std::string& sql) const;

    const std::string& Dir() const { return dir_; }

  private:
    std::string dir_;
    bool durable_ = false;
    bool running_ = false;
};

// Stops the clusters that test processes which no longer run have left
// behind, and removes their directories.
void StopStaleClusters();
