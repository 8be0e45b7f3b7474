// SPDX-License-Identifier: MIT
// ReadText and ReadData over arbitrary files: the first byte picks the password and a
// plain prefix, the following bytes a short program of reads. After every read the
// position and the value obey the rules of the operation.
#include "fuzz/fuzz_file.h"
#include "protect/record.h"
#include "protect/typed_io.h"

using namespace jiajiemi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::string& path = fuzz::WriteInput(data, size);
    const char* passwords[] = {"", "pw", "\xc3\xdc\xc2\xeb"};
    const FileHandle handle = OpenKeyedFile(path, 1, 1, passwords[data[0] % 3], std::int32_t(data[0] >> 2) - 8);
    fuzz::Check(handle != 0);
    PlainFile& file = *OpenFileRegistry::Instance().Find(handle);
    const std::int32_t length = file.length();
    for (std::size_t step = 1; step < std::min<std::size_t>(size, 48); ++step) {
        const std::int32_t before = file.position();
        const std::uint8_t op = data[step];
        switch (op % 4) {
        case 0: {
            const std::int32_t maxBytes = std::int32_t(op >> 2) - 8;
            const std::string text = ReadText(handle, maxBytes);
            const std::int32_t after = file.position();
            fuzz::Check(text.size() <= std::size_t(std::max(maxBytes, 0)));
            fuzz::Check(text.find('\0') == std::string::npos);
            fuzz::Check(after >= before && after <= length);
            fuzz::Check(maxBytes > 0 || after == before);
            break;
        }
        case 1: {
            std::int32_t number = 12345;
            const bool read = ReadData(handle, {&number});
            fuzz::Check(read ? file.position() == before + 4 : (file.position() == before && number == 12345));
            break;
        }
        case 2: {
            ByteString bytes = {1, 2, 3};
            const bool read = ReadData(handle, {&bytes});
            fuzz::Check(read ? file.position() == before + 4 + std::int32_t(bytes.size())
                             : (file.position() == before && bytes.empty()));
            break;
        }
        default: {
            std::string text = "old";
            const bool read = ReadData(handle, {&text});
            fuzz::Check(read ? file.position() > before : (file.position() == before && text.empty()));
            break;
        }
        }
    }
    CloseFile(handle);
    return 0;
}
