// SPDX-License-Identifier: MIT
// A scripted stand-in for the window: the two boxes, the save dialog's answers and a
// record of every message and dialog shown.
#pragma once

#include "commands/command_surface.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <thread>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace jiajiemi::test {

class FakeSurface : public CommandSurface {
public:
    struct Message {
        std::string text;
        MessageStyle style;
    };

    std::string fileName;
    std::string password;
    FileDialogSettings saveDialog{FileDialogKind::Save, "请输入欲保存到的文件名："};
    std::deque<std::optional<std::string>> answers;  // each opening takes one; nothing = cancel
    std::vector<FileDialogSettings> dialogsShown;    // the settings each opening started from
    std::vector<Message> messages;
    int busy = 0;   // inside RunInBackground now
    int works = 0;  // RunInBackground calls that ended
    std::function<void()> whileDialogOpen;  // runs while the save dialog is "open"
    std::optional<std::string> ahead;       // the destination announced before the command
    std::deque<bool> yesNo;                 // each question takes one; none left = Yes
    std::vector<std::string> questions;     // every question asked
    std::deque<std::optional<std::string>> passwordAgain;  // each asking takes one; none left = the same
    int passwordAsked = 0;

    // The work of a command runs on another thread in the window: it must not come back
    // to the surface.
    std::string FileNameText() override {
        EXPECT_EQ(busy, 0) << "the surface read from inside the work";
        return fileName;
    }
    std::string PasswordText() override {
        EXPECT_EQ(busy, 0) << "the surface read from inside the work";
        return password;
    }
    FileDialogSettings& SaveDialog() override { return saveDialog; }
    bool OpenSaveDialog() override {
        EXPECT_EQ(busy, 0) << "a dialog from inside the work";
        dialogsShown.push_back(saveDialog);
        if (whileDialogOpen) whileDialogOpen();
        if (answers.empty()) {
            ADD_FAILURE() << "save dialog opened with no answer scripted";
            return false;
        }
        const std::optional<std::string> answer = answers.front();
        answers.pop_front();
        if (!answer) return false;
        saveDialog.fileName = *answer;
        return true;
    }
    std::optional<std::string> DestinationKnownAhead() override {
        EXPECT_EQ(busy, 0) << "the surface read from inside the work";
        return ahead;
    }
    bool AskYesNo(const std::string& question) override {
        EXPECT_EQ(busy, 0) << "a question from inside the work";
        questions.push_back(question);
        if (yesNo.empty()) return true;
        const bool yes = yesNo.front();
        yesNo.pop_front();
        return yes;
    }
    std::optional<std::string> AskPasswordAgain() override {
        EXPECT_EQ(busy, 0) << "a dialog from inside the work";
        ++passwordAsked;
        if (passwordAgain.empty()) return password;
        std::optional<std::string> again = passwordAgain.front();
        passwordAgain.pop_front();
        return again;
    }
    void ShowMessage(const std::string& text, MessageStyle style) override {
        EXPECT_EQ(busy, 0) << "a message while the command is still at work";
        messages.push_back({text, style});
    }
    // Runs beside each work, on a thread of its own, until it returns: the user who
    // cancels, or the world that changes a file meanwhile.
    std::function<void(WorkProgress&, const std::atomic<bool>& workDone)> besideWork;

    // Runs just before each work, on the calling thread.
    std::function<void(WorkProgress&)> beforeWork;

    void RunInBackground(const std::function<void()>& work, WorkProgress& progress) override {
        if (beforeWork) beforeWork(progress);
        ++busy;
        std::atomic<bool> done{false};
        std::thread beside;
        if (besideWork) beside = std::thread([&] { besideWork(progress, done); });
        try {
            work();
        } catch (...) {
            done = true;
            if (beside.joinable()) beside.join();
            --busy;
            throw;
        }
        done = true;
        if (beside.joinable()) beside.join();
        --busy;
        ++works;
    }

    // A besideWork that cancels once the work is at least fraction of the way.
    static std::function<void(WorkProgress&, const std::atomic<bool>&)> CancelAt(double fraction) {
        return [fraction](WorkProgress& progress, const std::atomic<bool>& done) {
            while (!done && progress.Fraction() < fraction) std::this_thread::yield();
            progress.Cancel();
        };
    }

    // The one message shown since the last call, or "" when there was none.
    std::string TakeMessage(MessageStyle* style = nullptr) {
        EXPECT_LE(messages.size(), 1u) << "more than one message";
        if (messages.empty()) return "";
        const Message last = messages.back();
        messages.clear();
        if (style) *style = last.style;
        return last.text;
    }
};

}  // namespace jiajiemi::test
