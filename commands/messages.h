// SPDX-License-Identifier: MIT
// Every text the two commands show, in one place so that the window, the command-line
// tool and the README say the same.
#pragma once

#include <string_view>

namespace jiajiemi::messages {

inline constexpr std::string_view Caption = "Zaltor出品";

// Encrypt.
inline constexpr std::string_view SourceMissing = "指定文件不存在！";
inline constexpr std::string_view EncryptedCreateFailed = "创建加密文件失败！";
inline constexpr std::string_view EncryptedBefore = "创建加密文件“";
// Decrypt.
inline constexpr std::string_view ProtectedOpenFailed = "打开指定加密文件失败！";
inline constexpr std::string_view NotProtected = "指定文件不是加密文件！";
inline constexpr std::string_view WrongPassword = "不正确的密码！";
inline constexpr std::string_view Tampered = "文件已经被非法篡改！";
inline constexpr std::string_view DecryptedBefore = "创建解密文件“";
inline constexpr std::string_view SucceededAfter = "”成功！";
// The questions before encrypt's save dialog.
inline constexpr std::string_view EmptyPasswordQuestion = "密码为空，文件内容将不会被加密。仍要继续吗？";
inline constexpr std::string_view ConfirmPasswordCaption = "确认密码";
inline constexpr std::string_view ConfirmPasswordLabel = "请再次输入密码：";
inline constexpr std::string_view PasswordsDiffer = "两次输入的密码不一致！";
// The box of a command at work.
inline constexpr std::string_view Working = "正在处理，请稍候……";
inline constexpr std::string_view Cancel = "取消";
// Verify (command-line tool only).
inline constexpr std::string_view VerifiedBefore = "加密文件“";
inline constexpr std::string_view VerifiedAfter = "”完好，密码正确！";

// Where the tool refuses what would otherwise lose data or report a failure as success.
inline constexpr std::string_view SourceNotRegular = "指定文件不是普通文件！";
inline constexpr std::string_view SourceUnreadable = "无法读取指定文件！";
inline constexpr std::string_view SourceTooLarge = "指定文件太大（须小于2GB）！";
inline constexpr std::string_view EncryptedWriteFailed = "写入加密文件失败，原有文件未被改动！";
inline constexpr std::string_view DecryptedCreateFailed = "创建解密文件失败！";
inline constexpr std::string_view DecryptedWriteFailed = "写入解密文件失败，原有文件未被改动！";
inline constexpr std::string_view PasswordNotEncodable = "密码中含有无法使用的字符！";
inline constexpr std::string_view SourceChanged = "指定文件在加密过程中被改动，未创建加密文件！";
inline constexpr std::string_view ProtectedUnreadable = "无法读取指定加密文件！";

// Command-line tool only.
inline constexpr std::string_view PasswordPrompt = "密码：";
inline constexpr std::string_view PasswordPromptAgain = "再次输入密码：";
inline constexpr std::string_view PasswordFileUnreadableBefore = "无法读取密码文件“";
inline constexpr std::string_view PasswordFileUnreadableAfter = "”！";
inline constexpr std::string_view StandardInputUnreadable = "无法从标准输入读取密码！";
inline constexpr std::string_view PasswordTooLong = "密码太长（最多65536字节）！";
inline constexpr std::string_view PasswordUtf16 = "密码须为UTF-8编码，不能是UTF-16！";
inline constexpr std::string_view StandardOutputFailed = "无法写入标准输出！";
// The progress line on a terminal, followed by the percentage done.
inline constexpr std::string_view WorkingLine = "正在处理…";
inline constexpr std::string_view DestinationExistsBefore = "目标文件“";
inline constexpr std::string_view DestinationExistsAfter = "”已存在，如需覆盖请加 --force！";

}  // namespace jiajiemi::messages
