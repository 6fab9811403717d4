#include "tools/pg_cluster/pg_cluster.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef TALLYPHON_PG_BINDIR
#define TALLYPHON_PG_BINDIR "/usr/lib/postgresql/15/bin"
#endif

namespace {

const char* const kPrefix = "tallyphon-pg-";

std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

// The command line that runs a server program as the cluster's owner.
std::string AsOwner(const std::string& program) {
    const std::string path = std::string(TALLYPHON_PG_BINDIR) + "/" + program;
    return geteuid() == 0 ? "cd /tmp && runuser -u postgres -- " + path : "cd /tmp && " + path;
}

int Run(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return status;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void StopAndRemove(const std::string& dir) {
    Run(AsOwner("pg_ctl") + " -D " + Quoted(dir + "/data") + " -m immediate -w stop");
    Run("rm -rf " + Quoted(dir));
}

}  // namespace

void StopStaleClusters() {
    DIR* d = opendir("/tmp");
    if (!d) return;
    std::vector<std::string> stale;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.rfind(kPrefix, 0) != 0) continue;
        const long pid = std::strtol(name.c_str() + std::strlen(kPrefix), nullptr, 10);
        if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            stale.push_back("/tmp/" + name);
    }
    closedir(d);
    for (const std::string& dir : stale)
        StopAndRemove(dir);
}

TPgCluster::TPgCluster(bool durable) : durable_(durable) {
    StopStaleClusters();
    std::string templ = "/tmp/" + std::string(kPrefix) + std::to_string(getpid()) + "-XXXXXX";
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = templ;
    if (geteuid() == 0 && Run("chown postgres: " + Quoted(dir_)) != 0)
        throw std::runtime_error("cannot give " + dir_ + " to the postgres user");
    if (Run(AsOwner("initdb") + " -D " + Quoted(dir_ + "/data") +
            " -A trust -U tallyphon -E UTF8 --locale=C --no-sync") != 0)
        throw std::runtime_error("initdb failed in " + dir_);
    Start();
}

TPgCluster::~TPgCluster() {
    if (!dir_.empty()) StopAndRemove(dir_);
}

void TPgCluster::Start() {
    const std::string options =
        "-k " + dir_ + " -c listen_addresses='' -c max_connections=40" +
        (durable_ ? std::string() : " -c fsync=off -c full_page_writes=off");
    if (Run(AsOwner("pg_ctl") + " -D " + Quoted(dir_ + "/data") + " -l " + Quoted(dir_ + "/log") +
            " -w -t 60 -o " + Quoted(options) + " start") != 0)
        throw std::runtime_error("the server did not start:\n" + Slurp(dir_ + "/log"));
    running_ = true;
}

void TPgCluster::Stop(bool crash) {
    Run(AsOwner("pg_ctl") + " -D " + Quoted(dir_ + "/data") + " -m " +
        (crash ? "immediate" : "fast") + " -w stop");
    running_ = false;
}

std::string TPgCluster::ConnInfo(const std::string& dbname) const {
    return "host=" + dir_ + " user=tallyphon dbname=" + dbname;
}

std::string TPgCluster::CreateDatabase(const std::string& name) {
    Psql("postgres", "DROP DATABASE IF EXISTS \"" + name + "\"");
    Psql("postgres", "CREATE DATABASE \"" + name + "\"");
    return ConnInfo(name);
}

std::string TPgCluster::Psql(const std::string& dbname, const std::string& sql) const {
    const std::string command = "psql -X -q -A -t -v ON_ERROR_STOP=1 " + Quoted(ConnInfo(dbname)) +
                                " -c " + Quoted(sql) + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    if (!p) throw std::runtime_error("psql could not be started");
    std::string out;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p))
        out.append(buf, n);
    if (pclose(p) != 0) throw std::runtime_error("psql failed: " + sql + "\n" + out);
    return out;
}
