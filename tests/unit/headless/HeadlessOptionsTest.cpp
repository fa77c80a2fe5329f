// The headless build's command line: where the password comes from, and what is refused.

#include <gtest/gtest.h>

#include <sstream>

#include "headless/HeadlessBuild.h"

using vopa::headless::readHeadlessOptions;

namespace {

TEST(HeadlessOptions, ThePasswordComesFromTheCommandLineElseStandardInputElseTheEnvironment) {
    struct Case {
        const char* what;
        std::vector<std::string> options;  // after --build --user admin
        const char* input;
        const char* environment;  // null: VOPA_PASSWORD unset
        const char* password;
    };
    // The order command line, standard input (with a Windows line ending), environment is run by
    // headless_build_test.sh; these are the cases it does not run.
    const Case cases[] = {
        {"standard input before the environment", {"--password-stdin"}, "ingresso\n", "ambiente", "ingresso"},
        {"nothing: empty", {}, "ingresso\n", nullptr, ""},
        {"only the first line", {"--password-stdin"}, "prima\nseconda\n", nullptr, "prima"},
        {"a last line without an ending", {"--password-stdin"}, "prima", nullptr, "prima"},
        {"blanks are the password's own", {"--password-stdin"}, " con spazi \n", nullptr, " con spazi "},
        {"an empty first line", {"--password-stdin"}, "\nseconda\n", "ambiente", ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments{"--build", "--user", "admin"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        std::istringstream input(c.input);
        const vopa::headless::HeadlessOptions options = readHeadlessOptions(arguments, input, c.environment);
        EXPECT_EQ(options.password, c.password) << c.what;
        EXPECT_EQ(options.user, "admin") << c.what;
    }
}

TEST(HeadlessOptions, StandardInputIsReadOnlyWhenItCarriesThePassword) {
    std::istringstream input("altro\n");
    readHeadlessOptions({"--build", "--user", "admin", "--password", "riga", "--password-stdin"}, input, nullptr);
    readHeadlessOptions({"--build", "--user", "admin"}, input, "ambiente");
    std::string left;
    std::getline(input, left);
    EXPECT_EQ(left, "altro");
}

TEST(HeadlessOptions, TheCopyIsExactUnlessAnonymisingIsAsked) {
    std::istringstream input("");
    EXPECT_FALSE(readHeadlessOptions({"--build", "--user", "admin", "--yes"}, input, nullptr).anonymise);
    EXPECT_TRUE(readHeadlessOptions({"--user", "admin", "--anonymise", "--yes"}, input, nullptr).anonymise);
}

TEST(HeadlessOptions, AWrongCommandLineIsRefused) {
    const std::vector<std::vector<std::string>> wrong = {
        {"--build", "--user", "admin", "--password"},        // no value
        {"--build", "--password", "x"},                      // no user
        {"--build", "--user", "admin", "--password-stdin"},  // nothing on standard input
        {"--build", "--user", "admin", "--pasword", "x"},    // unknown option
    };
    for (const auto& arguments : wrong) {
        std::istringstream input("");
        EXPECT_THROW(readHeadlessOptions(arguments, input, "ambiente"), std::invalid_argument) << arguments.back();
    }
    std::istringstream input("");
    EXPECT_TRUE(readHeadlessOptions({"--build", "--help"}, input, nullptr).help);
}

}  // namespace
