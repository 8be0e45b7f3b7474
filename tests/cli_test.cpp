// SPDX-License-Identifier: MIT
// jiajiemi-cli end to end: round trips, each exit code, --force and the password sources.
#include "commands/messages.h"
#include "protect/record.h"
#include "protect/typed_io.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace jiajiemi {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
};

std::string ReadText(const std::string& path) {
    const ByteString bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Runs the tool in dir with input as its standard input; fileSizeLimit, when set, caps
// the size of the files it may write.
CliRun RunCli(const TempDir& dir, std::vector<std::string> args, const std::string& input, rlim_t fileSizeLimit = 0) {
    WriteBytes(dir / ".stdin", input);
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.path().c_str()) != 0) _exit(120);
        const int in = open(".stdin", O_RDONLY);
        const int out = open(".stdout", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(".stderr", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (fileSizeLimit) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<char*> argv{const_cast<char*>(JIAJIEMI_CLI)};
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(JIAJIEMI_CLI, argv.data());
        _exit(121);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    CliRun run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = ReadText(dir / ".stdout");
    run.err = ReadText(dir / ".stderr");
    return run;
}

TEST(Cli, RoundTripWithEachPasswordSource) {
    TempDir dir;
    ByteString content(100000);
    for (std::size_t k = 0; k < content.size(); ++k) content[k] = std::uint8_t(k * 13);
    WriteBytes(dir / "source.bin", content);
    WriteBytes(dir / "pw", "密码 secret\r\nsecond line ignored\n");

    CliRun run = RunCli(dir, {"encrypt", "source.bin", "p.e", "--password-file", "pw"}, "");
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "创建加密文件“" + (dir / "p.e") + "”成功！\n");
    EXPECT_EQ(run.err, "");
    // The same password, from standard input this time.
    run = RunCli(dir, {"verify", "p.e"}, "密码 secret\n");
    EXPECT_EQ(run.code, 0) << run.err;
    run = RunCli(dir, {"decrypt", "p.e", "back.bin"}, "密码 secret\n");
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "创建解密文件“" + (dir / "back.bin") + "”成功！\n");
    EXPECT_EQ(ReadBytes(dir / "back.bin"), content);
    // The file is the record the library reads, under the password's CP936 bytes.
    EXPECT_EQ(ReadProtectedFile(dir / "p.e", "\xc3\xdc\xc2\xeb secret").check, RecordCheck::Passed);

    // An empty first line is the empty password.
    run = RunCli(dir, {"encrypt", "source.bin", "plain.e"}, "\n");
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(ReadProtectedFile(dir / "plain.e", "").check, RecordCheck::Passed);
}

TEST(Cli, ForceReplacesAnExistingDestination) {
    TempDir dir;
    WriteBytes(dir / "source", "new content");
    WriteBytes(dir / "dest", "old content");
    CliRun run = RunCli(dir, {"encrypt", "source", "dest"}, "pw\n");
    EXPECT_EQ(run.code, 7);
    EXPECT_NE(run.err.find("--force"), std::string::npos);
    EXPECT_EQ(ReadText(dir / "dest"), "old content");
    run = RunCli(dir, {"encrypt", "--force", "source", "dest"}, "pw\n");
    EXPECT_EQ(run.code, 0) << run.err;
    run = RunCli(dir, {"decrypt", "dest", "dest", "--force"}, "pw\n");  // onto itself
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(ReadText(dir / "dest"), "new content");
}

// One row per exit code: the arguments, the input, and the message on standard error.
TEST(Cli, ExitCodes) {
    TempDir dir;
    WriteBytes(dir / "plain", "just text");
    ASSERT_EQ(WriteProtectedFile(dir / "p.e", "pw", ByteString(5000, 7)), WriteOutcome::Written);
    ByteString damaged = ReadBytes(dir / "p.e");
    damaged[100] ^= 1;
    WriteBytes(dir / "damaged.e", damaged);
    std::filesystem::create_directory(dir / "folder");
    WriteBytes(dir / "empty-file", "");
    struct Case {
        std::vector<std::string> args;
        std::string input;
        int code;
        std::string err;  // a part of standard error
        rlim_t fileSizeLimit = 0;
    };
    const Case cases[] = {
        {{}, "", 1, "no command"},
        {{"shred", "a"}, "", 1, "unknown command"},
        {{"encrypt", "plain"}, "pw\n", 1, "wrong number"},
        {{"encrypt", "plain", "out", "--password"}, "pw\n", 1, "unknown option"},
        {{"encrypt", "plain", "out", "--password-file"}, "", 1, "needs a FILE"},
        {{"encrypt", "missing", "out"}, "pw\n", 2, std::string(messages::SourceMissing)},
        {{"decrypt", "missing", "out"}, "pw\n", 2, std::string(messages::ProtectedOpenFailed)},
        {{"encrypt", "folder", "out"}, "pw\n", 3, std::string(messages::SourceNotRegular)},
        {{"decrypt", "plain", "out"}, "pw\n", 4, std::string(messages::NotProtected)},
        {{"verify", "p.e"}, "PW\n", 5, std::string(messages::WrongPassword)},
        {{"decrypt", "damaged.e", "out"}, "pw\n", 6, std::string(messages::Tampered)},
        {{"encrypt", "plain", "no-folder/out"}, "pw\n", 7, std::string(messages::EncryptedCreateFailed)},
        {{"decrypt", "p.e", "folder", "--force"}, "pw\n", 7, std::string(messages::DecryptedCreateFailed)},
        {{"decrypt", "p.e", "out"}, "pw\n", 8, std::string(messages::DecryptedWriteFailed), 1000},
        {{"encrypt", "plain", "out", "--password-file", "missing"}, "", 9, "密码文件"},
        {{"encrypt", "plain", "out", "--password-file", "empty-file"}, "", 9, "密码文件"},
        {{"encrypt", "plain", "out"}, "", 9, "标准输入"},
        {{"encrypt", "plain", "out"}, "😀\n", 9, std::string(messages::PasswordNotEncodable)},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& arg : c.args) line += arg + " ";
        const CliRun run = RunCli(dir, c.args, c.input, c.fileSizeLimit);
        EXPECT_EQ(run.code, c.code) << line << "\n" << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << line << "\n" << run.err;
        EXPECT_EQ(run.out, "") << line;
        EXPECT_FALSE(std::filesystem::exists(dir / "out")) << line;
    }
}

TEST(Cli, HelpAndVersion) {
    TempDir dir;
    CliRun run = RunCli(dir, {"--help"}, "");
    EXPECT_EQ(run.code, 0);
    EXPECT_NE(run.out.find("jiajiemi-cli encrypt SOURCE DEST"), std::string::npos);
    EXPECT_NE(run.out.find("Exit codes"), std::string::npos);
    run = RunCli(dir, {"--version"}, "");
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out.rfind("jiajiemi-cli ", 0), 0u);
}

}  // namespace
}  // namespace jiajiemi
