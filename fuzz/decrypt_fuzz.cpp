// SPDX-License-Identifier: MIT
// Every check of decrypt over arbitrary bytes, with a few passwords: the answer is always
// one of the four outcomes, a content only comes with a passed check, passing the content
// on to a file gives the same answer and the same bytes as holding it, and every file the
// reading opened is closed again.
#include "fuzz/fuzz_file.h"
#include "protect/record.h"
#include "protect/typed_io.h"

#include <cstdio>

using namespace jiajiemi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = fuzz::WriteInput(data, size);
    for (const char* password : {"", "secret", "\xc3\xdc\xc2\xeb"}) {
        const RecordReading reading = ReadProtectedFile(path, password);
        fuzz::Check(reading.check != RecordCheck::OpenFailed);
        if (reading.check == RecordCheck::Passed) {
            // An empty content passes even when its length was cut off.
            fuzz::Check(reading.content.empty() || (size >= ContentOffset && reading.content.size() <= size - ContentOffset));
            fuzz::Check(std::equal(data, data + 4, "\x09\x50\x64\x45"));
        } else {
            fuzz::Check(reading.content.empty());
        }

        static const std::string outPath = path + ".out";
        const FileHandle out = OpenKeyedFile(outPath, 4);
        fuzz::Check(out != 0);
        const RecordPassing passing = PassProtectedFile(path, password, OpenFileRegistry::Instance().Find(out));
        CloseFile(out);
        fuzz::Check(passing.check == reading.check && passing.written);
        if (passing.check == RecordCheck::Passed) fuzz::Check(ReadWholeFile(outPath).bytes == reading.content);
        std::remove(outPath.c_str());
        fuzz::Check(OpenFileRegistry::Instance().size() == 0);
    }
    return 0;
}
