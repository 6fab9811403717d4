// What the database tests share: the cluster of the test run and a fresh
// database per test.
#pragma once

#include <initializer_list>
#include <string>

#include "tools/pg_cluster/pg_cluster.h"

// The run's cluster, made on first use.
TPgCluster& Cluster();
// A new, empty database named after the running test; its connection
// string.
std::string FreshDatabase();

// The call-log file's bytes of lines (UTF-8 here): Windows-1251, each line
// ended by CR LF.
std::string Lines(std::initializer_list<std::string> lines);
