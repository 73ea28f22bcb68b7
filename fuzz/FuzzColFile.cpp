// Reads arbitrary bytes as a COL file or archive. Every entry read whole must
// lie inside the input, and written again in its own version (version 4 as
// 3) must read back alone, without an error, with the same records. Written
// in each other version it must either be refused or read back with what
// that version carries.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "col/ColFile.h"

namespace {

using brennix::ColEntry;
using brennix::ColFile;
using brennix::ReadColFile;
using brennix::SameColRecords;
using brennix::WriteColEntry;

bool ReadsBackAs(const ColEntry& entry, int version, const std::vector<uint8_t>& bytes) {
    ColFile back;
    if (!ReadColFile(bytes.data(), bytes.size(), &back) || back.entries.size() != 1 ||
        !back.errors.empty())
        return false;
    std::string difference;
    if (!SameColRecords(entry, back.entries[0], version, &difference)) {
        std::fprintf(stderr, "version %d read back differs: %s\n", version, difference.c_str());
        return false;
    }
    return back.entries[0].length == bytes.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ColFile file;
    const bool ok = ReadColFile(data, size, &file);
    FUZZ_CHECK(ok == (!file.entries.empty() && file.errors.empty()));
    size_t previousEnd = 0;
    for (const ColEntry& entry : file.entries) {
        FUZZ_CHECK(entry.offset >= previousEnd && entry.length <= size - entry.offset);
        previousEnd = entry.offset + entry.length;
        const int own = entry.version == 4 ? 3 : entry.version;
        for (int version = 1; version <= 3; ++version) {
            std::vector<uint8_t> bytes;
            std::string why;
            const bool written = WriteColEntry(entry, version, &bytes, &why);
            // An entry that reads whole always fits its own version again.
            FUZZ_CHECK(written || version != own);
            if (written)
                FUZZ_CHECK(ReadsBackAs(entry, version, bytes));
            else
                FUZZ_CHECK(bytes.empty() && !why.empty());
        }
    }
    for (const auto& problem : file.errors)
        FUZZ_CHECK(problem.message.find('\n') == std::string::npos);
    for (const auto& problem : file.warnings)
        FUZZ_CHECK(problem.message.find('\n') == std::string::npos);
    return 0;
}
