// What the database tests share: the cluster of the test run and a fresh
// database per test.
#pragma once

#include <string>

#include "tools/pg_cluster/pg_cluster.h"

// The run's cluster, made on first use.
TPgCluster& Cluster();
// A new, empty database named after the running test; its connection
// string.
std::string FreshDatabase();

#include <chrono>
#include <functional>

// Whether condition came true within timeout, asked every 10 ms.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));
