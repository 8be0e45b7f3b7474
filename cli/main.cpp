// SPDX-License-Identifier: MIT
// jiajiemi-cli: encrypt, decrypt and verify protected files from a terminal or a script.
//
// Message rules:
// - The outcome of a command is the same one-line message the window shows in its box:
//   a success goes to standard output, every error to standard error.
// - Usage errors and the help for them go to standard error; --help and --version print
//   to standard output.
// - The password never comes from the command line: --password-file FILE (its first
//   line), else a prompt on the terminal without echo when standard input is one, else
//   the first line of standard input.
// - An existing DEST is replaced only with --force, and only once the new content was
//   written whole: a failed command leaves it as it was.
// - Exit codes, one per outcome:
//     0 done                          5 wrong password
//     1 usage error                   6 the protected file was altered
//     2 the file does not exist       7 DEST cannot be created, or exists without --force
//     3 the file cannot be read       8 writing DEST failed
//     4 not a protected file          9 the password cannot be read or used
#include "cli/cli_surface.h"
#include "version.h"
#include "commands/decrypt_command.h"
#include "commands/encrypt_command.h"
#include "protect/temporary_files.h"

#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using jiajiemi::CommandOutcome;

constexpr int ExitUsage = 1;
constexpr int ExitPassword = 9;

const char Help[] = R"(Usage:
  jiajiemi-cli encrypt SOURCE DEST [--force] [--password-file FILE]
  jiajiemi-cli decrypt PROTECTED DEST [--force] [--password-file FILE]
  jiajiemi-cli verify PROTECTED [--password-file FILE]
  jiajiemi-cli --help | --version

encrypt  writes SOURCE to DEST as a file protected by a password.
decrypt  checks PROTECTED and writes its content to DEST, byte for byte.
verify   makes every check of decrypt and writes nothing.

Options:
  --force               replace an existing DEST
  --password-file FILE  read the password from the first line of FILE (an empty
                        line is the empty password; an empty file is refused)

Without --password-file the password is asked on the terminal without echo
(encrypt asks twice), or read from the first line of standard input when that
is not a terminal; standard input with no line at all is refused. It is never
taken from the command line.

Messages are the window's: a success goes to standard output, an error to
standard error.

Exit codes:
  0  done
  1  usage error
  2  the file does not exist, or cannot be opened
  3  the file cannot be read (not a regular file, unreadable, 2 GiB or more)
  4  not a protected file
  5  wrong password
  6  the protected file was altered
  7  DEST cannot be created, or exists and --force was not given
  8  writing DEST failed (an existing DEST is left as it was)
  9  the password cannot be read, the two entries differ, or it holds a
     character that cannot be used
)";

int ExitCode(CommandOutcome outcome) {
    switch (outcome) {
    case CommandOutcome::Succeeded: return 0;
    case CommandOutcome::SourceMissing: return 2;
    case CommandOutcome::SourceUnreadable: return 3;
    case CommandOutcome::NotProtected: return 4;
    case CommandOutcome::WrongPassword: return 5;
    case CommandOutcome::Tampered: return 6;
    case CommandOutcome::DestinationRefused:
    case CommandOutcome::Cancelled: return 7;  // the one way the CLI cancels: DEST exists
    case CommandOutcome::WriteFailed: return 8;
    case CommandOutcome::PasswordNotEncodable: return ExitPassword;
    }
    return ExitUsage;
}

void StripLineEnd(std::string& line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
}

// Nothing at all, not even a line end, is no password: an empty input must not quietly
// become the empty password, which stores everything in plain.
std::optional<std::string> FirstLine(std::istream& in) {
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    StripLineEnd(line);
    return line;
}

// Reads one line from the terminal with echo off.
std::optional<std::string> Prompt(const char* question) {
    std::cerr << question << std::flush;
    termios saved{};
    const bool canHide = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (canHide) {
        termios hidden = saved;
        hidden.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
    }
    std::string line;
    const bool got = bool(std::getline(std::cin, line));
    if (canHide) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << std::endl;
    if (!got) return std::nullopt;
    StripLineEnd(line);
    return line;
}

std::optional<std::string> ReadPassword(const std::string& passwordFile, bool confirm) {
    if (!passwordFile.empty()) {
        std::ifstream in(passwordFile, std::ios::binary);
        std::optional<std::string> line;
        if (in) line = FirstLine(in);
        if (!line) std::cerr << "无法读取密码文件“" << passwordFile << "”！" << std::endl;
        return line;
    }
    if (!isatty(STDIN_FILENO)) {
        std::optional<std::string> line = FirstLine(std::cin);
        if (!line) std::cerr << "无法从标准输入读取密码！" << std::endl;
        return line;
    }
    std::optional<std::string> first = Prompt("密码：");
    if (!first) return std::nullopt;
    if (confirm) {
        const std::optional<std::string> second = Prompt("再次输入密码：");
        if (!second || *second != *first) {
            std::cerr << "两次输入的密码不一致！" << std::endl;
            return std::nullopt;
        }
    }
    return first;
}

int UsageError(const std::string& problem) {
    std::cerr << "jiajiemi-cli: " << problem << "\nTry 'jiajiemi-cli --help'." << std::endl;
    return ExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    jiajiemi::RemoveTemporaryFilesOnSignals();
    std::vector<std::string> positional;
    std::string passwordFile;
    bool force = false;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--help" || arg == "-h") {
            std::cout << Help;
            return 0;
        }
        if (arg == "--version") {
            std::cout << "jiajiemi-cli " << JIAJIEMI_VERSION << std::endl;
            return 0;
        }
        if (arg == "--force") {
            force = true;
        } else if (arg == "--password-file") {
            if (++k >= argc) return UsageError("--password-file needs a FILE");
            passwordFile = argv[k];
            if (passwordFile.empty()) return UsageError("--password-file needs a FILE");
        } else if (arg.rfind("--password-file=", 0) == 0) {
            passwordFile = arg.substr(std::strlen("--password-file="));
            if (passwordFile.empty()) return UsageError("--password-file needs a FILE");
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.empty()) return UsageError("no command given");
    const std::string& command = positional[0];
    const std::size_t operands = command == "verify" ? 2 : 3;
    if (command != "encrypt" && command != "decrypt" && command != "verify")
        return UsageError("unknown command " + command);
    if (positional.size() != operands) return UsageError("wrong number of arguments for " + command);

    const std::optional<std::string> password = ReadPassword(passwordFile, command == "encrypt");
    if (!password) return ExitPassword;

    jiajiemi::CliSurface surface(positional[1], operands == 3 ? positional[2] : std::string(), *password, force,
                                 std::cout, std::cerr);
    CommandOutcome outcome;
    if (command == "encrypt")
        outcome = jiajiemi::RunEncryptCommand(surface);
    else if (command == "decrypt")
        outcome = jiajiemi::RunDecryptCommand(surface);
    else
        outcome = jiajiemi::RunVerifyCommand(surface);
    return ExitCode(outcome);
}
