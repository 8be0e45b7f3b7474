// SPDX-License-Identifier: MIT
// The rules of a file dialog's settings: filter text into types, the stored filter index
// and the starting name cut to the dialog's name field.
#include "commands/file_dialog_settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace jiajiemi {

void PrintTo(const FileType& type, std::ostream* out) { *out << '{' << type.description << " | " << type.pattern << '}'; }

namespace {

struct FilterCase {
    const char* name;
    std::string filter;
    std::vector<FileType> types;
};

class FilterTest : public testing::TestWithParam<FilterCase> {};

TEST_P(FilterTest, GivesTheTypesOffered) {
    FileDialogSettings settings(FileDialogKind::Save);
    settings.filter = GetParam().filter;
    EXPECT_EQ(settings.FileTypes(), GetParam().types);
    EXPECT_EQ(settings.filter, GetParam().filter) << "the setting itself is never changed";
}

INSTANTIATE_TEST_SUITE_P(
    Filters, FilterTest,
    testing::Values(
        FilterCase{"Empty", "", {}},
        FilterCase{"OnlyWhiteSpace", " \t\r\n", {}},
        FilterCase{"NoBarIsOneTypeOfAllFiles", "易语言源文件（*.e）", {{"易语言源文件（*.e）", ""}}},
        FilterCase{"OnePair", "Text|*.txt", {{"Text", "*.txt"}}},
        FilterCase{"TwoPairs", "Text|*.txt|All|*.*", {{"Text", "*.txt"}, {"All", "*.*"}}},
        FilterCase{"AlreadyEndedIsUsedAsItIs", "Text|*.txt||", {{"Text", "*.txt"}}},
        FilterCase{"TrailingSpaceBeforeTheEnd", "Text|*.txt||  \n", {{"Text", "*.txt"}}},
        FilterCase{"TrailingSpaceWithoutTheEnd", "Text|*.txt   ", {{"Text", "*.txt"}}},
        FilterCase{"InnerSpaceKept", " 文本 文件 | *.txt;*.log ", {{" 文本 文件 ", " *.txt;*.log"}}},
        FilterCase{"DescriptionWithoutPattern", "Text|*.txt|All", {{"Text", "*.txt"}, {"All", ""}}},
        FilterCase{"CjkPairs", "文本文件（*.txt）|*.txt|图片文件|*.png;*.jpg",
                   {{"文本文件（*.txt）", "*.txt"}, {"图片文件", "*.png;*.jpg"}}},
        FilterCase{"EmptyDescriptionEndsTheList", "Text|*.txt||All|*.*", {{"Text", "*.txt"}}},
        FilterCase{"LeadingBarGivesNoType", "|*.txt", {}}),
    [](const testing::TestParamInfo<FilterCase>& info) { return std::string(info.param.name); });

TEST(FilterIndexTest, NegativeIsStoredAsZeroOthersAsGiven) {
    FileDialogSettings settings(FileDialogKind::Open);
    EXPECT_EQ(settings.initialFilterIndex(), 0);
    for (const auto& [written, stored] : std::vector<std::pair<int, int>>{{3, 3}, {-1, 0}, {1, 1}, {INT32_MIN, 0}, {0, 0}}) {
        settings.setInitialFilterIndex(written);
        EXPECT_EQ(settings.initialFilterIndex(), stored) << "written " << written;
    }
}

TEST(SettingsTest, StartWithTheDocumentedDefaults) {
    const FileDialogSettings settings(FileDialogKind::Open, "请输入欲加解密的文件名：");
    EXPECT_EQ(settings.kind, FileDialogKind::Open);
    EXPECT_EQ(settings.title, "请输入欲加解密的文件名：");
    EXPECT_TRUE(settings.fileName.empty() && settings.filter.empty() && settings.initialFolder.empty() &&
                settings.defaultSuffix.empty());
    EXPECT_FALSE(settings.askToCreate);
    EXPECT_TRUE(settings.fileMustExist);
    EXPECT_TRUE(settings.askToOverwrite);
    EXPECT_TRUE(settings.folderMustExist);
    EXPECT_FALSE(settings.keepCurrentDirectory);
}

struct NameCase {
    const char* name;
    std::string fileName;
    std::string expected;
};

class NameForDialogTest : public testing::TestWithParam<NameCase> {};

TEST_P(NameForDialogTest, FitsTheNameField) {
    FileDialogSettings settings(FileDialogKind::Save);
    settings.fileName = GetParam().fileName;
    EXPECT_EQ(settings.NameForDialog(), GetParam().expected);
    EXPECT_EQ(settings.fileName, GetParam().fileName);
}

std::string Repeat(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameForDialogTest,
    testing::Values(NameCase{"Empty", "", ""},
                    NameCase{"ShortUnchanged", "/home/用户/报告.txt", "/home/用户/报告.txt"},
                    NameCase{"Exactly259Unchanged", "/" + std::string(258, 'a'), "/" + std::string(258, 'a')},
                    NameCase{"AsciiCutTo259", "/" + std::string(300, 'a'), "/" + std::string(258, 'a')},
                    // 1 + 86 × 3 = 259: the cut falls right after a whole character.
                    NameCase{"CjkCutOnABoundary", "/" + Repeat("密", 100), "/" + Repeat("密", 86)},
                    // 2 + 86 × 3 = 260: the cut falls inside the 86th character, which is dropped whole.
                    NameCase{"CjkCutInsideACharacter", "/a" + Repeat("密", 100), "/a" + Repeat("密", 85)},
                    NameCase{"FourByteCharacter", std::string(257, 'a') + "😀b", std::string(257, 'a')}),
    [](const testing::TestParamInfo<NameCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace jiajiemi
