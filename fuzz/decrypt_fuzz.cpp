// Every check of decrypt over arbitrary bytes, with a few passwords: the answer is always
// one of the four outcomes, a content only comes with a passed check, and every file the
// reading opened is closed again.
#include "fuzz_file.h"
#include "protected_file.h"

using namespace jiajiemi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = fuzz::WriteInput(data, size);
    for (const char* password : {"", "secret", "\xc3\xdc\xc2\xeb"}) {
        const RecordReading reading = ReadProtectedFile(path, password);
        fuzz::Check(reading.check != RecordCheck::OpenFailed);
        if (reading.check == RecordCheck::Passed) {
            // An empty content passes even when its length was cut off.
            fuzz::Check(reading.content.empty() || (size >= 72 && reading.content.size() <= size - 72));
            fuzz::Check(std::equal(data, data + 4, "\x09\x50\x64\x45"));
        } else {
            fuzz::Check(reading.content.empty());
        }
        fuzz::Check(OpenFileRegistry::Instance().size() == 0);
    }
    return 0;
}
