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
// - One exit code per outcome, as --help lists them (printed from ExitCodes below).
#include "cli/cli_surface.h"
#include "cli/password_input.h"
#include "version.h"
#include "commands/decrypt_command.h"
#include "commands/encrypt_command.h"
#include "commands/messages.h"
#include "protect/temporary_files.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

using jiajiemi::CommandOutcome;
namespace messages = jiajiemi::messages;

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
  --                    end the options: every later argument is a file name,
                        even one that starts with "-"

Without --password-file the password is asked on the terminal without echo
(encrypt asks twice), or read from the first line of standard input when that
is not a terminal; standard input with no line at all is refused. It is never
taken from the command line. A password has at most 65536 bytes (64 KiB): a
longer line is refused. A password file or standard input is UTF-8: a UTF-8
byte-order mark at its start is dropped, a UTF-16 one is refused.

Messages are the window's: a success goes to standard output, an error to
standard error. When standard error is a terminal and a command works for more
than half a second, one line there shows the percentage done, erased before the
message.
)";

struct ExitCodeRow {
    int code;
    std::vector<CommandOutcome> outcomes;  // the command outcomes that end with this code
    std::string_view meaning;              // as --help and the man page say it
};

// The one list of exit codes: --help prints it and ExitCode looks outcomes up in it.
const ExitCodeRow ExitCodes[] = {
    {0, {CommandOutcome::Succeeded}, "done"},
    {1, {}, "usage error"},
    {2, {CommandOutcome::SourceMissing}, "the file does not exist, or cannot be opened"},
    // The largest source, 2^31 - 1 less the 72 bytes before the content.
    {3, {CommandOutcome::SourceUnreadable}, "the file cannot be read (not a regular file, unreadable, or larger than 2,147,483,575 bytes)"},
    {4, {CommandOutcome::NotProtected}, "not a protected file"},
    {5, {CommandOutcome::WrongPassword}, "wrong password"},
    {6, {CommandOutcome::Tampered}, "the protected file was altered"},
    // Cancelled is the one way the CLI cancels: DEST exists.
    {7, {CommandOutcome::DestinationRefused, CommandOutcome::Cancelled},
     "DEST cannot be created, or exists and --force was not given"},
    {8, {CommandOutcome::WriteFailed}, "writing DEST failed (an existing DEST is left as it was)"},
    {9, {CommandOutcome::PasswordNotEncodable, CommandOutcome::PasswordsDiffer},
     "the password cannot be read, the two entries differ, or it holds a character that cannot be used"},
    {10, {}, "standard output cannot be written (> /dev/full); what the command did stays done"},
};

constexpr int ExitUsage = 1;
constexpr int ExitPassword = 9;
constexpr int ExitOutput = 10;

int ExitCode(CommandOutcome outcome) {
    for (const ExitCodeRow& row : ExitCodes)
        if (std::find(row.outcomes.begin(), row.outcomes.end(), outcome) != row.outcomes.end()) return row.code;
    return ExitUsage;
}

// "Exit codes:" with one entry per code, its meaning wrapped at 80 columns under itself.
void PrintExitCodes(std::ostream& out) {
    constexpr std::size_t Width = 80;
    out << "\nExit codes:\n";
    for (const ExitCodeRow& row : ExitCodes) {
        const std::string code = std::to_string(row.code);
        const std::string indent(6, ' ');
        std::string line = std::string(4 - code.size(), ' ') + code + "  ";
        std::size_t at = 0;
        bool first = true;
        while (at < row.meaning.size()) {
            std::size_t end = row.meaning.find(' ', at);
            if (end == std::string_view::npos) end = row.meaning.size();
            const std::string_view word = row.meaning.substr(at, end - at);
            if (!first && line.size() + 1 + word.size() > Width) {
                out << line << '\n';
                line = indent;
                first = true;
            }
            if (!first) line += ' ';
            line += word;
            first = false;
            at = end + 1;
        }
        out << line << '\n';
    }
}

// A success that could not be told is no success: a script must not read the silence
// of a full disk as "done".
int Finish(int code) {
    std::cout.flush();
    if (std::cout) return code;
    std::cerr << messages::StandardOutputFailed << std::endl;
    return code == 0 ? ExitOutput : code;
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
    bool optionsEnded = false;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (optionsEnded) {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            std::cout << Help;
            PrintExitCodes(std::cout);
            return Finish(0);
        }
        if (arg == "--version") {
            std::cout << "jiajiemi-cli " << JIAJIEMI_VERSION << std::endl;
            return Finish(0);
        }
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--force") {
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

    const std::optional<std::string> password = jiajiemi::ReadPassword(passwordFile, command == "encrypt", std::cerr);
    if (!password) return ExitPassword;

    jiajiemi::CliSurface surface(positional[1], operands == 3 ? positional[2] : std::string(), *password, force,
                                 std::cout, std::cerr, STDERR_FILENO);
    CommandOutcome outcome;
    if (command == "encrypt")
        outcome = jiajiemi::RunEncryptCommand(surface);
    else if (command == "decrypt")
        outcome = jiajiemi::RunDecryptCommand(surface);
    else
        outcome = jiajiemi::RunVerifyCommand(surface);
    return Finish(ExitCode(outcome));
}
