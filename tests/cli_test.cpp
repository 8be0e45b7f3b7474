// SPDX-License-Identifier: MIT
// jiajiemi-cli end to end: round trips, each exit code, --force and the password sources.
#include "commands/messages.h"
#include "protect/record.h"
#include "protect/typed_io.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace jiajiemi {
namespace {

using namespace std::string_literals;

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

// Starts the tool in dir with input as its standard input; fileSizeLimit, when set, caps
// the size of the files it may write; output, when set, is its standard output instead
// of a file that the test reads; under, when given, is a program that runs it.
pid_t StartCli(const TempDir& dir, std::vector<std::string> args, const std::string& input, rlim_t fileSizeLimit = 0,
               const char* output = ".stdout", std::vector<std::string> under = {}) {
    WriteBytes(dir / ".stdin", input);
    WriteBytes(dir / ".stdout", "");
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.path().c_str()) != 0) _exit(120);
        const int in = open(".stdin", O_RDONLY);
        const int out = open(output, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(".stderr", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        // A signal that the test runner ignores would stay ignored in the tool.
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, SIG_DFL);
        if (fileSizeLimit) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<char*> argv;
        for (auto& arg : under) argv.push_back(arg.data());
        argv.push_back(const_cast<char*>(JIAJIEMI_CLI));
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(121);
    }
    return pid;
}

// Waits for the tool and collects what it said.
CliRun FinishCli(const TempDir& dir, pid_t pid, int* status = nullptr) {
    int ended = 0;
    waitpid(pid, &ended, 0);
    if (status) *status = ended;
    CliRun run;
    run.code = WIFEXITED(ended) ? WEXITSTATUS(ended) : 128 + WTERMSIG(ended);
    run.out = ReadText(dir / ".stdout");
    run.err = ReadText(dir / ".stderr");
    return run;
}

CliRun RunCli(const TempDir& dir, std::vector<std::string> args, const std::string& input, rlim_t fileSizeLimit = 0,
              const char* output = ".stdout") {
    return FinishCli(dir, StartCli(dir, std::move(args), input, fileSizeLimit, output));
}

void MakeSparseFile(const std::string& path, off_t size) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
}

// Waits while the tool runs until its temporary file for DEST holds at least bytes; false
// when the tool ended first.
bool WaitForTemporaryFile(const TempDir& dir, pid_t pid, const std::string& dest, off_t bytes) {
    const std::string prefix = "." + dest + ".jiajiemi-";
    for (;;) {
        for (const auto& name : dir.Leftovers()) {
            struct stat info {};
            if (name.rfind(prefix, 0) == 0 && stat((dir / name).c_str(), &info) == 0 && info.st_size >= bytes) return true;
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) != 0) return false;
        usleep(1000);
    }
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
        {{"encrypt", "plain", "out", "--password-file", "/dev/zero"}, "", 9, std::string(messages::PasswordTooLong)},
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

// How a first line becomes the password, the same from a password file and from standard input.
TEST(Cli, PasswordLines) {
    TempDir dir;
    WriteBytes(dir / "plain", "just text");
    const std::string mark = "\xef\xbb\xbf";
    const std::string longest(64 * 1024, 'a');
    struct Case {
        std::string name;
        std::string bytes;
        std::optional<std::string> password;  // nothing: refused with exit code 9
        std::string err;                      // a part of standard error when refused
    };
    const Case cases[] = {
        {"a carriage return ends the line too", "pw\r\nsecond\n", "pw", ""},
        {"no line end", "pw", "pw", ""},
        {"a UTF-8 mark is dropped", mark + "pw\r\n", "pw", ""},
        {"a UTF-8 mark before the empty password", mark + "\n", "", ""},
        {"the longest password", longest + "\r\n", longest, ""},
        {"the longest password after a mark", mark + longest, longest, ""},
        {"one byte too long", longest + "a\n", std::nullopt, std::string(messages::PasswordTooLong)},
        {"too long and no line end", longest + longest, std::nullopt, std::string(messages::PasswordTooLong)},
        {"UTF-16 little-endian", "\xff\xfep\0w\0\n\0"s, std::nullopt, std::string(messages::PasswordUtf16)},
        {"UTF-16 big-endian", "\xfe\xff\0p\0w\0\n"s, std::nullopt, std::string(messages::PasswordUtf16)},
        {"a mark alone is an empty input", mark, std::nullopt, "无法"},
    };
    for (const Case& c : cases) {
        WriteBytes(dir / "pw", c.bytes);
        for (const bool fromFile : {true, false}) {
            std::vector<std::string> args{"encrypt", "plain", "p.e", "--force"};
            if (fromFile) args.insert(args.end(), {"--password-file", "pw"});
            const CliRun run = RunCli(dir, args, fromFile ? "" : c.bytes);
            const std::string where = c.name + (fromFile ? ", from a file" : ", from standard input");
            if (c.password) {
                EXPECT_EQ(run.code, 0) << where << "\n" << run.err;
                EXPECT_EQ(ReadProtectedFile(dir / "p.e", *c.password).check, RecordCheck::Passed) << where;
            } else {
                EXPECT_EQ(run.code, 9) << where;
                EXPECT_NE(run.err.find(c.err), std::string::npos) << where << "\n" << run.err;
            }
            std::filesystem::remove(dir / "p.e");
        }
    }
}

// The tool started on a terminal of its own (a pseudo-terminal), as from a shell; the test
// keeps the terminal's side too, so that it can read its settings after the tool ended.
struct TerminalRun {
    pid_t pid = -1;
    int master = -1;
    int terminal = -1;
    std::string shown;  // all the tool wrote so far

    TerminalRun(const TempDir& dir, std::vector<std::string> args) {
        if (openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0) return;
        pid = fork();
        if (pid == 0) {
            setsid();
            ioctl(terminal, TIOCSCTTY, 0);
            dup2(terminal, 0);
            dup2(terminal, 1);
            dup2(terminal, 2);
            if (chdir(dir.path().c_str()) != 0) _exit(120);
            std::vector<char*> argv{const_cast<char*>(JIAJIEMI_CLI)};
            for (auto& arg : args) argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(JIAJIEMI_CLI, argv.data());
            _exit(121);
        }
    }
    ~TerminalRun() {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        close(master);
        close(terminal);
    }

    // Reads what the tool shows until text appears; gives up only when the tool is silent
    // for long, so that a fault fails the test instead of hanging it.
    bool WaitFor(std::string_view text) {
        while (shown.find(text) == std::string::npos) {
            pollfd ready{master, POLLIN, 0};
            if (poll(&ready, 1, 30000) <= 0) return false;
            char bytes[4096];
            const ssize_t got = read(master, bytes, sizeof bytes);
            if (got <= 0) return false;
            shown.append(bytes, std::size_t(got));
        }
        return true;
    }
    void Type(std::string_view keys) { ASSERT_EQ(write(master, keys.data(), keys.size()), ssize_t(keys.size())); }
    bool Echoing() const {
        termios settings{};
        tcgetattr(terminal, &settings);
        return settings.c_lflag & ECHO;
    }
    int Wait() {
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

TEST(Cli, PromptOnTheTerminal) {
    TempDir dir;
    WriteBytes(dir / "plain", "just text");
    struct Case {
        std::string first, second;
        int code;
        std::string_view shown;  // a part of what the tool shows after the second entry
    };
    const Case cases[] = {
        {"密码\n", "密码\n", 0, messages::SucceededAfter},
        {"密码\n", "mima\n", 9, messages::PasswordsDiffer},
    };
    for (const Case& c : cases) {
        TerminalRun run(dir, {"encrypt", "plain", "p.e", "--force"});
        ASSERT_TRUE(run.WaitFor(messages::PasswordPrompt)) << run.shown;
        EXPECT_FALSE(run.Echoing());
        run.Type(c.first);
        ASSERT_TRUE(run.WaitFor(messages::PasswordPromptAgain)) << run.shown;
        run.Type(c.second);
        EXPECT_TRUE(run.WaitFor(c.shown)) << run.shown;
        EXPECT_EQ(run.Wait(), c.code) << c.second;
        EXPECT_TRUE(run.Echoing());
        EXPECT_EQ(run.shown.find("mima"), std::string::npos) << "a password was echoed";
    }
    EXPECT_EQ(ReadProtectedFile(dir / "p.e", "\xc3\xdc\xc2\xeb").check, RecordCheck::Passed);
}

// Ctrl-C at the prompt ends the tool as Ctrl-C does, and leaves the terminal echoing.
TEST(Cli, CtrlCAtThePromptGivesTheEchoBack) {
    TempDir dir;
    WriteBytes(dir / "plain", "just text");
    TerminalRun run(dir, {"encrypt", "plain", "p.e"});
    ASSERT_TRUE(run.WaitFor(messages::PasswordPrompt)) << run.shown;
    ASSERT_FALSE(run.Echoing());
    run.Type("\x03");
    EXPECT_EQ(run.Wait(), 128 + SIGINT);
    EXPECT_TRUE(run.Echoing());
    EXPECT_FALSE(std::filesystem::exists(dir / "p.e"));
}

// A success that cannot be written to standard output is not reported as one.
TEST(Cli, FullStandardOutput) {
    TempDir dir;
    WriteBytes(dir / "plain", "just text");
    ASSERT_EQ(WriteProtectedFile(dir / "p.e", "pw", ByteString(5000, 7)), WriteOutcome::Written);
    struct Case {
        std::vector<std::string> args;
        std::string input;
        int code;
    };
    const Case cases[] = {
        {{"encrypt", "plain", "out"}, "pw\n", 10},
        {{"verify", "p.e"}, "pw\n", 10},
        {{"--help"}, "", 10},
        {{"--version"}, "", 10},
        {{"verify", "p.e"}, "PW\n", 5},  // an error goes to standard error: its code stands
    };
    for (const Case& c : cases) {
        const CliRun run = RunCli(dir, c.args, c.input, 0, "/dev/full");
        EXPECT_EQ(run.code, c.code) << c.args[0];
        EXPECT_EQ(run.err.find(messages::StandardOutputFailed) != std::string::npos, c.code == 10) << c.args[0];
    }
    // What the command did stays done.
    EXPECT_EQ(ReadProtectedFile(dir / "out", "pw").check, RecordCheck::Passed);
}

// After "--" every argument is an operand, even one that looks like an option.
TEST(Cli, DoubleDashEndsTheOptions) {
    TempDir dir;
    WriteBytes(dir / "--force", "content");
    CliRun run = RunCli(dir, {"encrypt", "--", "--force", "-x"}, "pw\n");
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(ReadProtectedFile(dir / "-x", "pw").check, RecordCheck::Passed);
    // --force before "--" is still the option, and replaces the file named "--force".
    run = RunCli(dir, {"decrypt", "--force", "--", "-x", "--force"}, "pw\n");
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(ReadText(dir / "--force"), "content");
    run = RunCli(dir, {"verify", "--", "-x", "--"}, "pw\n");
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("wrong number"), std::string::npos) << run.err;
}


// A DEST that another process creates while the tool writes is left to it, unless --force
// was given: then it is replaced as one that was there from the start.
TEST(Cli, DestinationAppearingMeanwhile) {
    TempDir dir;
    MakeSparseFile(dir / "big", off_t(64) << 20);
    for (const bool force : {false, true}) {
        std::filesystem::remove(dir / "out");
        std::vector<std::string> args = {"encrypt", "big", "out"};
        if (force) args.push_back("--force");
        const pid_t pid = StartCli(dir, args, "pw\n");
        const bool running = WaitForTemporaryFile(dir, pid, "out", 0);
        const int fd = open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        const bool created = fd >= 0 && write(fd, "theirs", 6) == 6;
        if (fd >= 0) close(fd);
        const CliRun run = FinishCli(dir, pid);
        ASSERT_TRUE(running && created) << "the tool finished before DEST could be created";
        if (force) {
            EXPECT_EQ(run.code, 0) << run.err;
            EXPECT_EQ(ReadProtectedFile(dir / "out", "pw").check, RecordCheck::Passed);
        } else {
            EXPECT_EQ(run.code, 7);
            EXPECT_EQ(run.err, std::string(messages::EncryptedCreateFailed) + "\n");
            EXPECT_EQ(ReadText(dir / "out"), "theirs");
        }
        EXPECT_TRUE(dir.Leftovers().empty());
    }
}

// SIGINT, SIGTERM and SIGHUP while a large file is written: the tool ends by the signal, as
// a shell sees it 130, 143 and 129, and leaves no temporary file. Decrypt writes the
// content while it reads it, so what would be left is unchecked plaintext.
TEST(Cli, SignalsLeaveNothingBehind) {
    TempDir dir;
    MakeSparseFile(dir / "big", off_t(300) << 20);
    ASSERT_EQ(EncryptFile(dir / "big", dir / "big.e", "pw").written, WriteOutcome::Written);
    for (const std::string command : {"encrypt", "decrypt"}) {
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            const pid_t pid = StartCli(dir, {command, command == "encrypt" ? "big" : "big.e", "out"}, "pw\n");
            const bool grown = WaitForTemporaryFile(dir, pid, "out", off_t(16) << 20);
            kill(pid, signal);
            int status = 0;
            FinishCli(dir, pid, &status);
            ASSERT_TRUE(grown) << command << ": finished before the signal";
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << command << " " << strsignal(signal);
            EXPECT_TRUE(dir.Leftovers().empty()) << command << " " << strsignal(signal);
            EXPECT_FALSE(std::filesystem::exists(dir / "out")) << command << " " << strsignal(signal);
        }
    }
}

// What the tool reports as written is on disk: in its own calls, traced, the new file is
// flushed before it takes DEST's name, and the folder after that and before the success
// message.
TEST(Cli, FlushedBeforeTheSuccessMessage) {
    if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "needs strace";
    TempDir dir;
    WriteBytes(dir / "source", ByteString(100000, 'x'));
    ASSERT_EQ(WriteProtectedFile(dir / "p.e", "pw", ByteString(100000, 'x')), WriteOutcome::Written);
    const std::vector<std::string> strace = {"strace", "-qq", "-o", ".trace", "-e",
                                             "trace=openat,fsync,fdatasync,rename,renameat,renameat2,linkat,write"};
    for (const std::string command : {"encrypt", "decrypt"}) {
        std::filesystem::remove(dir / "out");
        const CliRun run = FinishCli(dir, StartCli(dir, {command, command == "encrypt" ? "source" : "p.e", "out"}, "pw\n", 0, ".stdout", strace));
        if (run.code != 0 && run.err.find("ptrace") != std::string::npos) GTEST_SKIP() << "strace may not trace here";
        ASSERT_EQ(run.code, 0) << run.err;
        std::ifstream trace(dir / ".trace");
        std::vector<std::string> calls;
        for (std::string line; std::getline(trace, line);) calls.push_back(line);

        // The steps in order, each found after the one before: a call that starts with one of
        // the beginnings given and holds every part given.
        std::size_t at = 0;
        const auto find = [&](std::initializer_list<std::string> beginnings, std::initializer_list<std::string> parts) {
            for (; at < calls.size(); ++at) {
                const std::string& call = calls[at];
                bool begins = false, holds = true;
                for (const std::string& beginning : beginnings) begins = begins || call.rfind(beginning, 0) == 0;
                for (const std::string& part : parts) holds = holds && call.find(part) != std::string::npos;
                if (begins && holds) return true;
            }
            return false;
        };
        ASSERT_TRUE(find({"openat("}, {", \".out.jiajiemi-", "O_CREAT"})) << command;
        const std::string& created = calls[at];
        const std::string folder = created.substr(7, created.find(',') - 7);
        const std::string file = created.substr(created.rfind("= ") + 2);
        EXPECT_TRUE(find({"fsync(" + file + ")", "fdatasync(" + file + ")"}, {"= 0"})) << command << ": the file is flushed";
        const std::string renamed = "(" + folder + ", \".out.jiajiemi-";
        EXPECT_TRUE(find({"renameat2" + renamed, "renameat" + renamed, "linkat" + renamed}, {", " + folder + ", \"out\""}))
            << command << ": then renamed";
        EXPECT_TRUE(find({"fsync(" + folder + ")"}, {"= 0"})) << command << ": then the folder is flushed";
        EXPECT_TRUE(find({"write(1, "}, {})) << command << ": then the success message";
    }
}

// A flush that fails in the background, while the rest is still being written, fails the
// command as the last flush would: the system reports a lost write to one flush only.
TEST(Cli, AFailedFlushOnTheWayFailsTheWrite) {
    if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "needs strace";
    TempDir dir;
    const ByteString content(std::size_t(80) << 20, 'x');  // flushed on the way more than once
    WriteBytes(dir / "source", content);
    ASSERT_EQ(WriteProtectedFile(dir / "p.e", "pw", content), WriteOutcome::Written);
    const std::vector<std::string> strace = {"strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=fdatasync",
                                             "-e", "inject=fdatasync:error=EIO:when=1"};
    for (const std::string command : {"encrypt", "decrypt"}) {
        const CliRun run = FinishCli(dir, StartCli(dir, {command, command == "encrypt" ? "source" : "p.e", "out"},
                                                   "pw\n", 0, ".stdout", strace));
        if (run.code != 8 && run.err.find("ptrace") != std::string::npos) GTEST_SKIP() << "strace may not trace here";
        EXPECT_EQ(run.code, 8) << command << ": " << run.err;
        EXPECT_FALSE(std::filesystem::exists(dir / "out")) << command;
        EXPECT_TRUE(dir.Leftovers().empty()) << command;
    }
}

// On a file system that cannot rename without replacing, a new file still goes in place
// without replacing anything: by a new link, and the temporary name removed.
TEST(Cli, RenameWithoutReplacingFallsBackToALink) {
    if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "needs strace";
    TempDir dir;
    WriteBytes(dir / "source", "some content");
    const std::vector<std::string> strace = {"strace", "-f", "-qq", "-o", ".trace", "-e", "trace=renameat2,linkat,unlink,unlinkat",
                                             "-e", "inject=renameat2:error=EINVAL"};
    const CliRun run = FinishCli(dir, StartCli(dir, {"encrypt", "source", "out"}, "pw\n", 0, ".stdout", strace));
    if (run.code != 0 && run.err.find("ptrace") != std::string::npos) GTEST_SKIP() << "strace may not trace here";
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_NE(ReadText(dir / ".trace").find("linkat("), std::string::npos) << "the link was the way in";
    const RecordReading reading = ReadProtectedFile(dir / "out", "pw");
    EXPECT_EQ(reading.check, RecordCheck::Passed);
    EXPECT_EQ(reading.content, test::Bytes("some content"));
    EXPECT_TRUE(dir.Leftovers().empty());
}

TEST(Cli, HelpAndVersion) {
    TempDir dir;
    CliRun run = RunCli(dir, {"--help"}, "");
    EXPECT_EQ(run.code, 0);
    EXPECT_NE(run.out.find("jiajiemi-cli encrypt SOURCE DEST"), std::string::npos);
    EXPECT_NE(run.out.find("Exit codes"), std::string::npos);
    // The largest source that exit code 3 names is the record's own limit.
    static_assert(ContentLimit == 2'147'483'575);
    EXPECT_NE(run.out.find("2,147,483,575 bytes"), std::string::npos);
    run = RunCli(dir, {"--version"}, "");
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out.rfind("jiajiemi-cli ", 0), 0u);
}

}  // namespace
}  // namespace jiajiemi
