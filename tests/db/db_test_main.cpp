// The database tests of one process share one throw-away cluster, made
// before the first test that needs it and removed after the last; each test
// has a database of its own in it. Run with --stop-stale-clusters, the
// program only stops the clusters of test runs that died.
#include <cctype>
#include <clocale>
#include <cstring>
#include <iostream>
#include <memory>

#include <gtest/gtest.h>

#include "base/cp1251.h"
#include "tests/db/db_test_support.h"

namespace {

std::unique_ptr<TPgCluster> g_cluster;

class TClusterEnvironment : public ::testing::Environment {
  public:
    void TearDown() override { g_cluster.reset(); }
};

}  // namespace

TPgCluster& Cluster() {
    if (!g_cluster) g_cluster = std::make_unique<TPgCluster>();
    return *g_cluster;
}

std::string FreshDatabase() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("t_") + info->test_suite_name() + "_" + info->name();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return Cluster().CreateDatabase(name.substr(0, 60));
}

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--stop-stale-clusters") == 0) {
        StopStaleClusters();
        return 0;
    }
    // The user's locale, as the desktop program takes it (Qt sets it all):
    // what the shipper sends must not change with it.
    std::setlocale(LC_ALL, "");
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new TClusterEnvironment);
    return RUN_ALL_TESTS();
}

std::string Lines(std::initializer_list<std::string> lines) {
    std::string bytes;
    for (const std::string& l : lines)
        bytes += Utf8ToCp1251(l) + "\r\n";
    return bytes;
}
