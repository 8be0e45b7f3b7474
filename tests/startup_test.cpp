// SPDX-License-Identifier: MIT
// Start-up of the window program: the starting file and the run directory, and a clear
// failure when no display can be reached.
#include "app/run_directory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

namespace jiajiemi {
namespace {

TEST(StartupTest, RunDirectoryIsWhereTheUserIs) {
    struct Case {
        std::string startingFile;
        std::string startFolder;
        std::string directory;
    };
    const Case cases[] = {
        {"", "/home/u", "/home/u"},
        {"/tmp/报告.txt", "/home/u", "/tmp"},
        {"/home/a b/加解密/x.e", "/", "/home/a b/加解密"},
        {"/x.txt", "/home/u", "/"},
    };
    for (const Case& c : cases) EXPECT_EQ(RunDirectory(c.startingFile, c.startFolder), c.directory) << c.startingFile;
}

TEST(StartupTest, StartingFileName) {
    struct Case {
        std::vector<std::string> arguments;
        std::string startFolder;
        std::string file;
    };
    const Case cases[] = {
        {{}, "/home/u", ""},
        {{"/tmp/报告.txt"}, "/home/u", "/tmp/报告.txt"},
        {{"报告.txt"}, "/home/u", "/home/u/报告.txt"},
        {{"a/b.e"}, "/", "/a/b.e"},
        {{"a.txt", "b.txt"}, "/home/u", ""},
        {{""}, "/home/u", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(StartingFileName(c.arguments, c.startFolder), c.file);
}

TEST(StartupTest, WithoutADisplayTheWindowProgramSaysSoAndFails) {
    const std::string log = testing::TempDir() + "jiajiemi-startup.log";
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" JIAJIEMI_APP "' 2>'" + log + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal instead of an exit code";
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::stringstream text;
    text << std::ifstream(log).rdbuf();
    EXPECT_NE(text.str().find("the window cannot be created"), std::string::npos) << text.str();
}

}  // namespace
}  // namespace jiajiemi
