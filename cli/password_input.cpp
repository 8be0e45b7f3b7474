// SPDX-License-Identifier: MIT
// Reading jiajiemi-cli's password, bounded, from a file, the terminal or standard input.
#include "cli/password_input.h"

#include "commands/messages.h"

#include <csignal>
#include <fstream>
#include <iostream>
#include <string_view>
#include <termios.h>
#include <unistd.h>

namespace jiajiemi {
namespace {

constexpr std::string_view Utf8Mark = "\xef\xbb\xbf";
constexpr std::string_view Utf16LittleEndianMark = "\xff\xfe";
constexpr std::string_view Utf16BigEndianMark = "\xfe\xff";

// The signals that end the process while a prompt has echo off.
constexpr int EndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// What the terminal was before the prompt hid the echo, for the signal handler.
termios terminalBeforePrompt;

// Gives the terminal its echo back, then ends the process as the signal would have.
extern "C" void RestoreTerminalAndEnd(int signal) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &terminalBeforePrompt);
    ::signal(signal, SIG_DFL);
    ::raise(signal);  // delivered once this handler returns
}

// Echo off for one prompt's time, and back on however the prompt ends.
class HiddenInput {
public:
    HiddenInput() {
        if (::tcgetattr(STDIN_FILENO, &saved_) != 0) return;
        hidden_ = true;
        terminalBeforePrompt = saved_;
        for (std::size_t k = 0; k < std::size(EndingSignals); ++k) {
            struct sigaction previous {};
            ::sigaction(EndingSignals[k], nullptr, &previous);
            if (previous.sa_handler == SIG_IGN) continue;  // whoever started us wants it ignored
            struct sigaction action {};
            action.sa_handler = RestoreTerminalAndEnd;
            sigemptyset(&action.sa_mask);
            ::sigaction(EndingSignals[k], &action, &previous_[k]);
            installed_[k] = true;
        }
        termios hidden = saved_;
        hidden.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
    }
    ~HiddenInput() {
        if (!hidden_) return;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
        for (std::size_t k = 0; k < std::size(EndingSignals); ++k)
            if (installed_[k]) ::sigaction(EndingSignals[k], &previous_[k], nullptr);
    }
    HiddenInput(const HiddenInput&) = delete;
    HiddenInput& operator=(const HiddenInput&) = delete;

private:
    termios saved_{};
    bool hidden_ = false;
    struct sigaction previous_[std::size(EndingSignals)] {};
    bool installed_[std::size(EndingSignals)] = {};
};

// Reads one line from the terminal with echo off. The echo goes off before the question
// is shown, so nothing typed after seeing it is echoed.
PasswordLine Prompt(std::string_view question, std::ostream& err) {
    PasswordLine line;
    {
        HiddenInput hidden;
        err << question << std::flush;
        line = ReadPasswordLine(std::cin, false);
    }
    err << std::endl;
    return line;
}

// The message for a line that cannot be a password; false when there is none to give.
bool ReportUnusable(const PasswordLine& line, std::ostream& err) {
    switch (line.result) {
    case LineRead::TooLong: err << messages::PasswordTooLong << std::endl; return true;
    case LineRead::Utf16: err << messages::PasswordUtf16 << std::endl; return true;
    case LineRead::Read:
    case LineRead::Nothing: break;
    }
    return false;
}

}  // namespace

PasswordLine ReadPasswordLine(std::istream& in, bool mayHaveByteOrderMark) {
    // One byte for a "\r" before the "\n", and room for a mark that is dropped.
    const std::size_t keep = PasswordLimit + 1 + (mayHaveByteOrderMark ? Utf8Mark.size() : 0);
    std::streambuf& buffer = *in.rdbuf();
    using Traits = std::streambuf::traits_type;
    PasswordLine line;
    bool newline = false;
    bool cutShort = false;
    try {
        for (;;) {
            const Traits::int_type c = buffer.sbumpc();
            if (Traits::eq_int_type(c, Traits::eof())) break;
            if (Traits::to_char_type(c) == '\n') {
                newline = true;
                break;
            }
            if (line.text.size() == keep) {
                cutShort = true;
                break;
            }
            line.text.push_back(Traits::to_char_type(c));
        }
    } catch (const std::ios_base::failure&) {
        return {};  // a read error (a folder, an I/O error) gives no line at all
    }
    if (mayHaveByteOrderMark) {
        const std::string_view start = std::string_view(line.text).substr(0, Utf8Mark.size());
        if (start.starts_with(Utf16LittleEndianMark) || start.starts_with(Utf16BigEndianMark)) {
            line.result = LineRead::Utf16;
            return line;
        }
        if (start == Utf8Mark) line.text.erase(0, Utf8Mark.size());
    }
    // A mark alone is as empty as an empty file.
    if (!newline && !cutShort && line.text.empty()) return line;
    if (!line.text.empty() && line.text.back() == '\r') line.text.pop_back();
    line.result = cutShort || line.text.size() > PasswordLimit ? LineRead::TooLong : LineRead::Read;
    return line;
}

std::optional<std::string> ReadPassword(const std::string& passwordFile, bool confirm, std::ostream& err) {
    if (!passwordFile.empty()) {
        std::ifstream in(passwordFile, std::ios::binary);
        PasswordLine line;
        if (in) line = ReadPasswordLine(in, true);
        if (ReportUnusable(line, err)) return std::nullopt;
        if (line.result != LineRead::Read) {
            err << messages::PasswordFileUnreadableBefore << passwordFile << messages::PasswordFileUnreadableAfter
                << std::endl;
            return std::nullopt;
        }
        return line.text;
    }
    if (!::isatty(STDIN_FILENO)) {
        const PasswordLine line = ReadPasswordLine(std::cin, true);
        if (ReportUnusable(line, err)) return std::nullopt;
        if (line.result != LineRead::Read) {
            err << messages::StandardInputUnreadable << std::endl;
            return std::nullopt;
        }
        return line.text;
    }
    const PasswordLine first = Prompt(messages::PasswordPrompt, err);
    if (ReportUnusable(first, err) || first.result != LineRead::Read) return std::nullopt;
    if (confirm) {
        const PasswordLine second = Prompt(messages::PasswordPromptAgain, err);
        if (ReportUnusable(second, err)) return std::nullopt;
        if (second.result != LineRead::Read || second.text != first.text) {
            err << messages::PasswordsDiffer << std::endl;
            return std::nullopt;
        }
    }
    return first.text;
}

}  // namespace jiajiemi
