// Parsing of the command line: what each operation needs, and the exact complaint when it is missing.
#include <gtest/gtest.h>

#include "arguments.h"

namespace {

cli::ParseResult Parse(const std::vector<std::string>& args) {
    return cli::ParseArguments(args, [](const char* name) -> const char* {
        return std::string(name) == "KP_PW" ? "from-env" : std::string(name) == "KP_EMPTY" ? "" : nullptr;
    });
}

TEST(Arguments, OperationsTakeTheirValuesAndPasswordsFromTheEnvironment) {
    const cli::ParseResult network =
        Parse({"run", "network", "--targets", "@stored", "--ip=10.0.0.9", "--mask", "255.255.0.0",
               "--gateway", "10.0.0.1", "--parallel", "4", "--password-env", "KP_PW"});
    ASSERT_TRUE(network.ok) << network.error;
    EXPECT_EQ(batch::Operation::Network, network.options.operation);
    EXPECT_EQ("10.0.0.9", network.options.ip);
    EXPECT_EQ(4, network.options.parallel);
    EXPECT_EQ("from-env", network.options.password);
    EXPECT_TRUE(network.options.password_given);

    const cli::ParseResult password =
        Parse({"run", "password", "--targets", "@stored", "--new-password-env", "KP_PW"});
    ASSERT_TRUE(password.ok) << password.error;
    EXPECT_EQ("from-env", password.options.new_password);

    const cli::ParseResult discover = Parse({"discover", "--seconds", "0.5", "--csv"});
    ASSERT_TRUE(discover.ok) << discover.error;
    EXPECT_EQ(cli::Format::Csv, discover.options.format);
    EXPECT_DOUBLE_EQ(0.5, discover.options.seconds);

    EXPECT_TRUE(Parse({"run", "--help"}).options.help);
    EXPECT_TRUE(Parse({"list", "--help"}).options.help);
    EXPECT_TRUE(Parse({"run", "restore", "-h"}).options.help);
    const cli::ParseResult operation_help = Parse({"help", "run", "upload"});
    ASSERT_TRUE(operation_help.ok && operation_help.options.help) << operation_help.error;
    EXPECT_EQ(batch::Operation::Upload, operation_help.options.operation);
}

TEST(Arguments, BadArgumentsSayWhatWasWrongAndNeverEchoAPassword) {
    struct Case {
        std::vector<std::string> args;
        const char* error;
    };
    const Case cases[] = {
        {{}, "no command"},
        {{"erase"}, "unknown command \"erase\""},
        {{"run"}, "no operation"},
        {{"run", "format", "--targets", "10.0.0.1"}, "unknown operation \"format\""},
        {{"run", "reboot"}, "--targets is missing"},
        {{"run", "reboot", "--targets", "10.0.0.1", "--file", "a.bin"}, "--file is not known to run reboot"},
        {{"run", "upgrade", "--targets", "10.0.0.1"}, "--file is missing"},
        {{"run", "network", "--targets", "10.0.0.1", "--ip", "10.0.0.300", "--mask", "255.0.0.0", "--gateway",
          "10.0.0.1"},
         "--ip is not an IPv4 address"},
        {{"run", "network", "--targets", "10.0.0.1", "--ip", "10.0.0.3", "--gateway", "10.0.0.1"},
         "--mask is missing"},
        {{"run", "restore", "--targets", "10.0.0.1", "--full", "--partial"},
         "exactly one of --full and --partial"},
        {{"run", "restore", "--targets", "10.0.0.1"}, "exactly one of --full and --partial"},
        {{"run", "upload", "--targets", "10.0.0.1"}, "at least one of --logo"},
        {{"run", "password", "--targets", "10.0.0.1", "--new-password-env", "KP_EMPTY"},
         "the new password is empty"},
        {{"run", "password", "--targets", "10.0.0.1", "--new-password-env", "KP_NONE"}, "KP_NONE"},
        {{"run", "reboot", "--targets", "10.0.0.1", "--parallel", "0"}, "--parallel needs"},
        {{"run", "reboot", "--targets", "10.0.0.1", "--port", "70000"}, "--port needs"},
        {{"run", "reboot", "--targets", "10.0.0.1", "--password", "s3cret", "--password-env", "KP_PW"},
         "exclude each other"},
        {{"run", "reboot", "--targets", "10.0.0.1", "--password-stdin", "--password-file", "pw"},
         "exclude each other"},
        {{"run", "reboot", "--targets", "10.0.0.1", "--password-stdin=s3cret"},
         "--password-stdin takes no value"},
        {{"--version", "run"}, "--version takes nothing else"},
        {{"help", "erase"}, "unknown command \"erase\""},
        {{"run", "reboot", "--targets", "10.0.0.1", "--password", "s3cret", "--parallel"},
         "--parallel needs a value"},
        {{"run", "reboot", "--targets", "10.0.0.1", "--targets", "10.0.0.2"}, "--targets is given twice"},
        {{"discover", "--seconds", "-1"}, "--seconds needs"},
        {{"discover", "--json", "--csv"}, "exclude each other"},
        {{"list", "--targets", "10.0.0.1"}, "--targets is not known to list"},
        {{"list", "extra"}, "unexpected argument \"extra\""},
    };
    for (const Case& c : cases) {
        const cli::ParseResult parsed = Parse(c.args);
        EXPECT_FALSE(parsed.ok) << c.error;
        EXPECT_NE(std::string::npos, parsed.error.find(c.error))
            << "wanted \"" << c.error << "\", got \"" << parsed.error << "\"";
        EXPECT_EQ(std::string::npos, parsed.error.find("s3cret")) << parsed.error;
    }
}

}  // namespace
