// SPDX-License-Identifier: MIT
// The typed operations over the file layer.
#include "protect/typed_io.h"

#include <cerrno>
#include <climits>
#include <new>

namespace jiajiemi {
namespace {

// Puts the position back to where a failed call began; a file that cannot even seek is
// left where it is.
void SeekBack(PlainFile& file, std::int32_t position) {
    try {
        file.seek(position, SeekOrigin::Begin);
    } catch (const FileError&) {
    }
}

void SeekToEnd(PlainFile& file) {
    try {
        file.seek(0, SeekOrigin::End);
    } catch (const FileError&) {
    }
}

void WriteBinary(PlainFile& file, const DataValue& value) {
    if (const auto* number = std::get_if<std::int32_t>(&value)) {
        std::uint8_t bytes[4];
        Store32Le(bytes, std::uint32_t(*number));
        file.write(bytes, 4);
    } else if (const auto* text = std::get_if<std::string_view>(&value)) {
        const std::string_view upToZero = text->substr(0, text->find('\0'));
        std::string withZero(upToZero);
        withZero.push_back('\0');
        file.write(withZero.data(), Size32(withZero.size()));
    } else {
        const auto& bytes = std::get<std::span<const std::uint8_t>>(value);
        const std::int32_t length = Size32(bytes.size());
        std::uint8_t count[4];
        Store32Le(count, std::uint32_t(length));
        // The count and the bytes land in one run at consecutive positions, exactly as one
        // write would put them; two calls spare a copy of the whole content.
        file.write(count, 4);
        file.write(bytes.data(), length);
    }
}

// Reads up to count bytes; false when fewer came.
bool ReadExactly(PlainFile& file, void* buffer, std::int32_t count) { return file.read(buffer, count) == count; }

bool ReadVariable(PlainFile& file, const DataVariable& variable) {
    if (auto* const* number = std::get_if<std::int32_t*>(&variable)) {
        std::uint8_t bytes[4];
        if (!ReadExactly(file, bytes, 4)) return false;
        **number = std::int32_t(Load32Le(bytes));
        return true;
    }
    if (auto* const* bytesVariable = std::get_if<ByteString*>(&variable)) {
        ByteString& bytes = **bytesVariable;
        bytes.clear();
        bytes.shrink_to_fit();
        const std::optional<std::uint32_t> length = ReadStoredLength(file);
        if (!length) return false;
        try {
            bytes.resize(*length);
        } catch (const std::bad_alloc&) {
            return false;
        }
        if (!ReadExactly(file, bytes.data(), std::int32_t(*length))) {
            bytes.clear();
            bytes.shrink_to_fit();
            return false;
        }
        return true;
    }
    std::string& text = *std::get<std::string*>(variable);
    text.clear();
    const std::int32_t start = file.position();
    char chunk[512];
    for (;;) {
        const std::int32_t got = file.read(chunk, sizeof chunk);
        for (std::int32_t k = 0; k < got; ++k) {
            if (chunk[k] == '\0') {
                file.seek(start + std::int32_t(text.size()) + 1, SeekOrigin::Begin);
                return true;
            }
            text.push_back(chunk[k]);
        }
        if (got < std::int32_t(sizeof chunk)) return !text.empty();
    }
}

}  // namespace

bool WriteData(PlainFile& file, std::initializer_list<DataValue> values) {
    std::int32_t start = 0;
    try {
        start = file.position();
        for (const DataValue& value : values) WriteBinary(file, value);
        return true;
    } catch (const FileError&) {
        SeekBack(file, start);
        return false;
    }
}

bool WriteText(PlainFile& file, std::initializer_list<DataValue> values) {
    std::int32_t start = 0;
    try {
        start = file.position();
        for (const DataValue& value : values) {
            if (const auto* number = std::get_if<std::int32_t>(&value)) {
                const std::string decimal = std::to_string(*number);
                file.write(decimal.data(), Size32(decimal.size()));
            } else if (const auto* text = std::get_if<std::string_view>(&value)) {
                const std::string_view upToZero = text->substr(0, text->find('\0'));
                file.write(upToZero.data(), Size32(upToZero.size()));  // an empty text writes nothing
            }
        }
        return true;
    } catch (const FileError&) {
        SeekBack(file, start);
        return false;
    }
}

bool ReadData(PlainFile& file, std::initializer_list<DataVariable> variables) {
    std::optional<std::int32_t> start;
    const DataVariable* current = nullptr;
    try {
        start = file.position();
        bool all = true;
        for (const DataVariable& variable : variables) {
            current = &variable;
            if (!ReadVariable(file, variable)) {
                all = false;
                break;
            }
        }
        if (all) return true;
    } catch (const FileError&) {
    }
    if (current) {
        if (auto* const* bytes = std::get_if<ByteString*>(current)) (*bytes)->clear();
        if (auto* const* text = std::get_if<std::string*>(current)) (*text)->clear();
    }
    if (start) SeekBack(file, *start);
    return false;
}

std::string ReadText(PlainFile& file, std::optional<std::int32_t> maxBytes) {
    if (maxBytes && *maxBytes <= 0) return {};
    try {
        const std::int32_t limit = maxBytes ? *maxBytes : file.length();
        if (limit <= 0) return {};
        std::string buffer;
        try {
            buffer.resize(std::size_t(limit));
        } catch (const std::bad_alloc&) {
            SeekToEnd(file);
            return {};
        }
        const std::int32_t start = file.position();
        const std::int32_t count = file.read(buffer.data(), limit);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer.data());
        for (std::int32_t i = 0; i < count;) {
            if (bytes[i] == 0x00 || bytes[i] == 0x1a) {
                file.seek(start + i, SeekOrigin::Begin);  // onto the terminator, not past it
                buffer.resize(std::size_t(i));
                return buffer;
            }
            if (bytes[i] >= 0x80) {
                // A lead byte that is the last byte read stays in the text.
                if (i + 1 < count && bytes[i + 1] == 0x00) {
                    file.seek(start + i + 1, SeekOrigin::Begin);  // the lead byte is dropped
                    buffer.resize(std::size_t(i));
                    return buffer;
                }
                i += 2;
                continue;
            }
            ++i;
        }
        buffer.resize(std::size_t(count));
        return buffer;
    } catch (const FileError&) {
        SeekToEnd(file);
        return {};
    }
}

bool WriteData(FileHandle handle, std::initializer_list<DataValue> values) {
    PlainFile* file = OpenFileRegistry::Instance().Find(handle);
    return file && WriteData(*file, values);
}

bool WriteText(FileHandle handle, std::initializer_list<DataValue> values) {
    PlainFile* file = OpenFileRegistry::Instance().Find(handle);
    return file && WriteText(*file, values);
}

bool ReadData(FileHandle handle, std::initializer_list<DataVariable> variables) {
    PlainFile* file = OpenFileRegistry::Instance().Find(handle);
    return file && ReadData(*file, variables);
}

std::string ReadText(FileHandle handle, std::optional<std::int32_t> maxBytes) {
    PlainFile* file = OpenFileRegistry::Instance().Find(handle);
    return file ? ReadText(*file, maxBytes) : std::string();
}

std::int32_t Size32(std::size_t size) {
    if (size > std::size_t(INT32_MAX)) throw FileError(EFBIG, "more than 2^31 bytes to write");
    return std::int32_t(size);
}

std::optional<std::uint32_t> ReadStoredLength(PlainFile& file) {
    std::uint8_t count[4];
    if (!ReadExactly(file, count, 4)) return std::nullopt;
    const std::uint32_t length = Load32Le(count);
    const std::int64_t remaining = std::int64_t(file.length()) - file.position();
    if (std::int64_t(length) > remaining) return std::nullopt;
    return length;
}

}  // namespace jiajiemi
