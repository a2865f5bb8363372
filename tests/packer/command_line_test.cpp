#include "command_line.h"

#include <gtest/gtest.h>

namespace quillbox::pack {
namespace {

struct ArgumentsCase {
    std::vector<std::string_view> args;
    const char* usage_error;  // nullptr: accepted
    Command command = Command::help;
    Command help_topic = Command::help;
};

TEST(CommandLine, AcceptsEachCommandsFormsAndNamesWhatIsWrong) {
    const ArgumentsCase cases[] = {
        {{"--help"}, nullptr, Command::help},
        {{"-h"}, nullptr, Command::help},
        {{"help"}, nullptr, Command::help},
        {{"help", "build"}, nullptr, Command::help, Command::build},
        {{"--help", "unpack"}, nullptr, Command::help, Command::unpack},
        {{"build", "--help"}, nullptr, Command::help, Command::build},
        {{"pack", "out.bin", "dir", "--quality", "99", "-h"}, nullptr, Command::help, Command::pack},
        {{"list", "-h"}, nullptr, Command::help, Command::list},
        {{"help", "frobnicate"}, "unknown command frobnicate"},
        {{"help", "list", "verify"}, "help takes one command"},
        {{"--version"}, nullptr, Command::version},
        {{"-V"}, nullptr, Command::version},
        {{"--version", "build"}, "--version takes no arguments"},
        {{"list", "app.exe", "--json"}, nullptr, Command::list},
        {{"verify", "app.exe", "--json"}, "unknown option --json"},
        {{"unpack", "app.bin", "--force", "out"}, "unknown option --force"},
        {{"list", "-x"}, "unknown option -x"},
        {{"build", "d", "-o", "x.exe", "-q"}, "unknown option -q"},
        {{"list", "app.exe"}, nullptr, Command::list},
        {{"verify", "app.bin"}, nullptr, Command::verify},
        {{"unpack", "app.bin", "out"}, nullptr, Command::unpack},
        {{"pack", "out.bin", "dir", "--exe", ".\\a.exe", "--quality", "0", "--window", "24", "--jobs", "1024"},
         nullptr,
         Command::pack},
        {{"pack", "out.bin", "--files", "a", "b", "--quiet"}, nullptr, Command::pack},
        {{"build", "dir", "-o", "x.exe", "--stub", "s.exe", "--no-verify"}, nullptr, Command::build},
        {{}, "no command given"},
        {{"frobnicate"}, "unknown command frobnicate"},
        {{"list"}, "list takes one payload file"},
        {{"verify", "a", "b"}, "verify takes one payload file"},
        {{"unpack", "a"}, "unpack takes a payload file and a folder"},
        {{"pack"}, "pack needs an output file first"},
        {{"pack", "--quiet"}, "pack needs an output file first"},
        {{"pack", "out.bin"}, "pack needs a folder or --files"},
        {{"pack", "out.bin", "a", "b"}, "pack takes one folder"},
        {{"pack", "out.bin", "a", "--files", "b"}, "give either a folder or --files"},
        {{"pack", "out.bin", "--files"}, "--files needs at least one file"},
        {{"pack", "out.bin", "dir", "--quality"}, "--quality needs a whole number from 0 to 11"},
        {{"pack", "out.bin", "dir", "--quality", "12"}, "--quality needs a whole number from 0 to 11"},
        {{"pack", "out.bin", "dir", "--window", "9"}, "--window needs a whole number from 10 to 24"},
        {{"pack", "out.bin", "dir", "--jobs", "1x"}, "--jobs needs a whole number from 1 to 1024"},
        {{"pack", "out.bin", "dir", "--exe"}, "--exe needs a launch path"},
        {{"pack", "out.bin", "dir", "--exe", "\xFF"}, "--exe: the launch path is not valid UTF-8"},
        {{"pack", "out.bin", "dir", "-o", "x"}, "unknown option -o"},
        {{"pack", "out.bin", "dir", "--no-verify"}, "unknown option --no-verify"},
        {{"build"}, "build needs a folder or a payload file"},
        {{"build", "dir"}, "build needs an output file: -o OUT.exe"},
        {{"build", "dir", "-o"}, "-o needs an output file"},
        {{"build", "dir", "-o", "x.exe", "--stub"}, "--stub needs a file"},
        {{"build", "dir", "other", "-o", "x.exe"}, "build takes one folder or payload file"},
        {{"build", "--files", "a", "-o", "x.exe"}, "unknown option --files"},
        {{"pack", "out.bin", "dir", "--cache"}, "--cache needs a folder"},
        {{"pack", "out.bin", "dir", "--cache", "c", "--no-cache"}, "give either --cache or --no-cache"},
        {{"build", "dir", "-o", "x.exe", "--cache-size", "0"}, "--cache-size needs a whole number from 1 to 16777216"},
        {{"build", "d", "-o", "x.exe", "--icon"}, "--icon needs an .ico file"},
        {{"pack", "out.bin", "d", "--icon", "a.ico"}, "unknown option --icon"},
        {{"build", "d", "-o", "x.exe", "--version-from"}, "--version-from needs a program"},
        {{"build", "d", "-o", "x.exe", "--version", "1.2.3.65536"},
         "--version needs one to four numbers from 0 to 65535"},
        {{"build", "d", "-o", "x.exe", "--version", "1.2.3.4.5"}, "--version needs one to four"},
        {{"build", "d", "-o", "x.exe", "--version", "1..2"}, "--version needs one to four"},
        {{"build", "d", "-o", "x.exe", "--version", "-1"}, "--version needs one to four"},
        {{"build", "d", "-o", "x.exe", "--version", ""}, "--version needs one to four"},
        {{"build", "d", "-o", "x.exe", "--version"}, "--version needs one to four"},
        {{"build", "d", "-o", "x.exe", "--version-string", "Key"}, "--version-string needs KEY=VALUE"},
        {{"build", "d", "-o", "x.exe", "--version-string", "=v"}, "--version-string: a version string needs a key"},
        {{"build", "d", "-o", "x.exe", "--version-string", "Key="},
         "--version-string: the version string Key has an empty value"},
        {{"build", "d", "-o", "x.exe", "--version-string", "A=1", "--version-string", "a=2"},
         "--version-string: a is given twice"},
        {{"build", "d", "-o", "x.exe", "--exit-code", "App"}, "--exit-code needs app or zero"},
        {{"build", "d", "-o", "x.exe", "--exit-code"}, "--exit-code needs app or zero"},
        {{"pack", "out.bin", "d", "--exit-code", "app"}, "unknown option --exit-code"},
        {{"verify", "a", "--require-signed"}, nullptr, Command::verify},
        {{"list", "a", "--require-signed"}, "unknown option --require-signed"},
    };
    for (const ArgumentsCase& c : cases) {
        std::string shown;
        for (std::string_view arg : c.args) shown += std::string(arg) + " ";
        SCOPED_TRACE(shown);
        const Outcome<CommandLine> line = parse_command_line(c.args);
        ASSERT_EQ(line.ok(), c.usage_error == nullptr) << (line.ok() ? "" : describe(*line.error));
        if (c.usage_error) {
            // As reported: a usage line shows no kind before its text.
            EXPECT_EQ(describe(*line.error).find(c.usage_error), 0u) << describe(*line.error);
        } else {
            EXPECT_EQ(line.value.command, c.command);
            EXPECT_EQ(line.value.help_topic, c.help_topic);
        }
    }
}

TEST(CommandLine, KeepsEveryValue) {
    const Outcome<CommandLine> build =
        parse_command_line({"build", "dir", "-o", "x.exe", "--stub", "s.exe", "--exe", ".\\b.exe", "--window", "18",
                            "--quiet", "--cache", "c", "--cache-size", "3"});
    ASSERT_TRUE(build.ok());
    EXPECT_EQ(build.value.input, std::filesystem::path("dir"));
    EXPECT_EQ(build.value.out, std::filesystem::path("x.exe"));
    EXPECT_EQ(build.value.stub, std::filesystem::path("s.exe"));
    EXPECT_EQ(build.value.exe, ".\\b.exe");
    EXPECT_TRUE(build.value.exe_given && build.value.compress_given && build.value.quiet && build.value.verify);
    EXPECT_EQ(build.value.compress.window, 18);
    EXPECT_EQ(build.value.compress.quality, DEFAULT_QUALITY);
    EXPECT_EQ(build.value.compress.cache, std::filesystem::path("c"));
    EXPECT_EQ(build.value.compress.cache_limit, uint64_t{3} << 20);
    EXPECT_TRUE(build.value.use_cache);

    const Outcome<CommandLine> resources =
        parse_command_line({"build", "d", "-o", "x.exe", "--icon", "app.ico", "--version", "1.65535",
                            "--version-string", "CompanyName=Ex = Ltd", "--version-string", "Comments=x",
                            "--require-signed", "--version-from", "app.exe", "--exit-code", "app"});
    ASSERT_TRUE(resources.ok()) << resources.error->text();
    EXPECT_EQ(resources.value.icon, std::filesystem::path("app.ico"));
    EXPECT_EQ(resources.value.version_from, std::filesystem::path("app.exe"));
    EXPECT_EQ(resources.value.version, (std::array<uint16_t, 4>{1, 65535, 0, 0}));
    EXPECT_EQ(resources.value.version_strings,
              (std::vector<std::pair<std::string, std::string>>{{"CompanyName", "Ex = Ltd"}, {"Comments", "x"}}));
    EXPECT_TRUE(resources.value.require_signed);
    EXPECT_EQ(resources.value.exit_code, ExitCodeMode::app);
    // No --exit-code is not `zero`: a rebuild keeps what the launcher has.
    EXPECT_FALSE(build.value.icon || build.value.version || build.value.version_from || build.value.require_signed ||
                 build.value.exit_code);

    EXPECT_TRUE(parse_command_line({"list", "--json", "a"}).value.json);
    EXPECT_FALSE(parse_command_line({"list", "a"}).value.json);

    const Outcome<CommandLine> pack = parse_command_line({"pack", "out.bin", "--files", "a", "b", "--no-cache"});
    ASSERT_TRUE(pack.ok());
    EXPECT_FALSE(pack.value.use_cache);
    EXPECT_EQ(pack.value.compress.cache_limit, DEFAULT_CACHE_LIMIT_MIB << 20);
    EXPECT_EQ(pack.value.files, (std::vector<std::filesystem::path>{"a", "b"}));
    EXPECT_EQ(pack.value.exe, DEFAULT_EXE);
    EXPECT_FALSE(pack.value.exe_given || pack.value.compress_given);
}

}  // namespace
}  // namespace quillbox::pack
