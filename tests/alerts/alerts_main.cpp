// The alert tests take the environment's locale, as the program does (Qt
// sets it from the environment): under ru_RU.UTF-8 the texts, the mails and
// the state file must come out the same.
#include <clocale>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
