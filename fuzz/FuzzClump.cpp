// Loads arbitrary bytes as a model, runs the collision test, attaches a small
// COL3 file and saves. Checks that the kept chunks view the file's bytes,
// that an attach is refused exactly when the Extension's entries do not end
// within its bytes (and that an empty file is never attached), that a save
// either writes nothing or a well-formed clump of exactly the length it
// reports followed by whatever followed the clump, that an attached Collision
// entry is found by walking the saved Extension, and that the saved model
// loads and saves to the same bytes again.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "dff/DffModel.h"
#include "stream/Endian.h"
#include "support/ModelBuilder.h"

namespace {

using brennix::ByteBuffer;
using brennix::Chunk;
using brennix::DffModel;
using brennix::fuzz::FileLength;
using brennix::fuzz::ReadBytes;
using brennix::fuzz::ScratchPath;
using brennix::fuzz::ViewsFileBuffer;
using brennix::fuzz::WriteBytes;

std::string gInputPath;
std::string gOutputPath;
std::string gCol3Path;
std::string gEmptyPath;
std::vector<uint8_t> gCol3Bytes;

// Releases the model on every path out of the check.
struct ModelGuard {
    DffModel model;
    ModelGuard() { model.Init(); }
    ~ModelGuard() { model.Release(); }
};

bool AllKeptChunksViewFile(const DffModel& model) {
    const Chunk* const kept[] = {model.uvAnimDictionary, model.clump,        model.clumpStruct,
                                 model.frameList,        model.geometryList, model.atomic,
                                 model.clumpExtension};
    for (const Chunk* chunk : kept) {
        if (!ViewsFileBuffer(chunk, model.fileBuffer))
            return false;
    }
    return true;
}

// The collision test read independently: the first four bytes of a non-empty
// clump Extension (missing bytes read as zero) name a Collision entry.
bool ExpectCollision(const DffModel& model) {
    const Chunk* extension = model.clumpExtension;
    if (extension == nullptr || extension->size == 0 || extension->payload.length == 0) {
        return false;
    }
    uint8_t type[4] = {};
    std::memcpy(type, extension->payload.data,
                extension->payload.length < 4 ? extension->payload.length : 4);
    return brennix::LoadU32(type) == brennix::kTypeCollision;
}

bool Complete(const Chunk* chunk) {
    return chunk == nullptr || chunk->IsComplete();
}

// The Extension's entries, walked by their declared sizes, end exactly at the
// end of its bytes.
bool EntriesTile(const Chunk* extension) {
    const ByteBuffer& payload = extension->payload;
    const std::vector<uint8_t> bytes(payload.data, payload.data + payload.length);
    std::vector<brennix::test::ChunkView> entries;
    return brennix::test::SplitChunks(bytes, &entries);
}

// What the save must keep from the loaded model.
struct Expected {
    bool hadDictionary = false;
    bool collisionFirst = false;  // a Collision entry leads the saved Extension
    bool attached = false;        // the COL3 file was attached
    uint32_t structSize = 12;
    std::vector<uint8_t> trailing;  // the bytes after the clump
};

// Checks the bytes that a successful save wrote.
void CheckSavedFile(const std::vector<uint8_t>& saved, const Expected& expected) {
    namespace test = brennix::test;
    test::ClumpView view;
    std::string whyNot;
    FUZZ_CHECK(test::ParseClump(saved, &view, &whyNot));
    FUZZ_CHECK(view.hasUvAnimDictionary == expected.hadDictionary);
    FUZZ_CHECK(view.trailingBytes == expected.trailing.size());
    FUZZ_CHECK(std::equal(expected.trailing.begin(), expected.trailing.end(),
                          saved.end() - static_cast<long>(expected.trailing.size())));
    // Struct first, then the kept children in their fixed order.
    const std::vector<uint32_t> types = view.ChildTypes();
    FUZZ_CHECK(!types.empty() && types[0] == brennix::kTypeStruct);
    FUZZ_CHECK(view.children[0].size == expected.structSize);
    if (expected.structSize == 12) {
        FUZZ_CHECK(test::GetU32(view.children[0].payload, 4) == 0);
        FUZZ_CHECK(test::GetU32(view.children[0].payload, 8) == 0);
    }
    const uint32_t order[] = {brennix::kTypeFrameList, brennix::kTypeGeometryList,
                              brennix::kTypeAtomic, brennix::kTypeExtension};
    size_t next = 0;
    for (size_t i = 1; i < types.size(); ++i) {
        while (next < 4 && order[next] != types[i])
            ++next;
        FUZZ_CHECK(next < 4);
        ++next;
    }
    // An attached Collision entry is found by walking the saved Extension
    // along its entries' sizes: the last entry, holding the file.
    if (expected.attached) {
        const test::ChunkView* extension = view.Find(brennix::kTypeExtension);
        FUZZ_CHECK(extension != nullptr);
        std::vector<test::ChunkView> entries;
        FUZZ_CHECK(test::SplitChunks(extension->payload, &entries));
        FUZZ_CHECK(!entries.empty());
        FUZZ_CHECK(entries.back().type == brennix::kTypeCollision);
        FUZZ_CHECK(entries.back().payload == gCol3Bytes);
    }

    // The saved model loads as a clump and saves to the very same bytes.
    FUZZ_CHECK(WriteBytes(gInputPath, saved.data(), saved.size()));
    ModelGuard again;
    FUZZ_CHECK(again.model.Load(gInputPath.c_str()) == 1);
    FUZZ_CHECK(AllKeptChunksViewFile(again.model));
    FUZZ_CHECK((again.model.uvAnimDictionary != nullptr) == expected.hadDictionary);
    FUZZ_CHECK(again.model.trailing.length == expected.trailing.size());
    if (expected.collisionFirst)
        FUZZ_CHECK(again.model.hasCollision == 1);
    ByteBuffer rebuilt;
    FUZZ_CHECK(again.model.BuildFile(rebuilt));
    FUZZ_CHECK(rebuilt.length == saved.size());
    FUZZ_CHECK(std::memcmp(rebuilt.data, saved.data(), saved.size()) == 0);
    rebuilt.Release();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gInputPath = ScratchPath("in.dff");
    gOutputPath = ScratchPath("out.dff");
    gCol3Path = ScratchPath("attach.col");
    gEmptyPath = ScratchPath("empty.col");
    gCol3Bytes = brennix::test::MakeCol3File();
    FUZZ_CHECK(WriteBytes(gCol3Path, gCol3Bytes.data(), gCol3Bytes.size()));
    FUZZ_CHECK(WriteBytes(gEmptyPath, nullptr, 0));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FUZZ_CHECK(WriteBytes(gInputPath, data, size));
    ModelGuard guard;
    DffModel& model = guard.model;

    const int32_t loaded = model.Load(gInputPath.c_str());
    FUZZ_CHECK(loaded == 0 || loaded == 1);
    // An empty file loads as one zero byte.
    FUZZ_CHECK(model.fileBuffer.length == (size > 0 ? size : 1));
    FUZZ_CHECK(AllKeptChunksViewFile(model));
    if (loaded == 0)
        FUZZ_CHECK(model.errorCode != 0);
    if (loaded == 1) {
        FUZZ_CHECK(model.errorCode == 0);
        FUZZ_CHECK(model.clump != nullptr && model.clump->type == brennix::kTypeClump);
        FUZZ_CHECK(model.hasCollision == (ExpectCollision(model) ? 1 : 0));
    } else {
        FUZZ_CHECK(model.hasCollision == 0);
    }
    const bool hadCollision = model.hasCollision != 0;

    // Attach: only a model with a clump and a clump Extension takes the file,
    // and only when its entries end within its bytes; an empty file never.
    const uint32_t extensionSize = model.clumpExtension ? model.clumpExtension->size : 0;
    const uint32_t extensionLength =
        model.clumpExtension ? model.clumpExtension->payload.length : 0;
    const bool emptyExtension = model.clumpExtension != nullptr && extensionLength == 0;
    const uint32_t entryLength = static_cast<uint32_t>(12 + gCol3Bytes.size());
    const bool noExtension = model.clump == nullptr || model.clumpExtension == nullptr;
    FUZZ_CHECK(model.AttachCollisionFile(gEmptyPath.c_str()) == (noExtension ? -1 : -2));
    if (!noExtension) {
        FUZZ_CHECK(model.clumpExtension->size == extensionSize);
        FUZZ_CHECK(model.clumpExtension->payload.length == extensionLength);
        FUZZ_CHECK(!model.clumpExtension->payload.ownsData);
    }
    const int32_t attached = model.AttachCollisionFile(gCol3Path.c_str());
    if (noExtension) {
        FUZZ_CHECK(attached == -1);
    } else if (uint64_t{extensionSize} + entryLength > UINT32_MAX ||
               !EntriesTile(model.clumpExtension)) {
        // The grown Extension could not declare its size, or the new entry
        // would be read as part of an earlier one: nothing changes.
        FUZZ_CHECK(attached == -2);
        FUZZ_CHECK(model.clumpExtension->size == extensionSize);
        FUZZ_CHECK(model.clumpExtension->payload.length == extensionLength);
        FUZZ_CHECK(!model.clumpExtension->payload.ownsData);
    } else {
        FUZZ_CHECK(attached == 1);
        const ByteBuffer& payload = model.clumpExtension->payload;
        FUZZ_CHECK(model.clumpExtension->size == extensionSize + entryLength);
        FUZZ_CHECK(payload.length == extensionLength + entryLength);
        const uint8_t* entry = payload.data + extensionLength;
        FUZZ_CHECK(brennix::LoadU32(entry) == brennix::kTypeCollision);
        FUZZ_CHECK(brennix::LoadU32(entry + 4) == gCol3Bytes.size());
        FUZZ_CHECK(brennix::LoadU32(entry + 8) == brennix::kDefaultStamp);
        FUZZ_CHECK(std::memcmp(entry + 12, gCol3Bytes.data(), gCol3Bytes.size()) == 0);
        // The attached entry is appended: the collision test is not redone.
        FUZZ_CHECK((model.hasCollision != 0) == hadCollision);
    }

    // Everything after the clump's declared end, as the file held it (the
    // save brings the clump's size up to date).
    std::vector<uint8_t> trailing;
    if (model.clump != nullptr) {
        const uint64_t clumpEnd =
            static_cast<uint64_t>(model.clump->payload.data - model.fileBuffer.data) +
            model.clump->size;
        if (clumpEnd < size)
            trailing.assign(data + clumpEnd, data + size);
    }

    // Save writes a complete clump or nothing at all.
    std::remove(gOutputPath.c_str());
    const bool savable = model.clump != nullptr && model.clumpStruct != nullptr &&
                         Complete(model.clumpStruct) && Complete(model.uvAnimDictionary) &&
                         Complete(model.frameList) && Complete(model.geometryList) &&
                         Complete(model.atomic) && Complete(model.clumpExtension);
    const int32_t saved = model.Save(gOutputPath.c_str());
    FUZZ_CHECK(saved >= 0);
    FUZZ_CHECK((saved > 0) == savable);
    if (saved == 0) {
        FUZZ_CHECK(FileLength(gOutputPath) == -1);
        return 0;
    }
    FUZZ_CHECK(FileLength(gOutputPath) == saved);
    std::vector<uint8_t> written;
    FUZZ_CHECK(ReadBytes(gOutputPath, &written));
    FUZZ_CHECK(written.size() == static_cast<size_t>(saved));
    Expected expected;
    expected.hadDictionary = model.uvAnimDictionary != nullptr;
    // A Collision entry that now leads the Extension is found after a reload.
    expected.collisionFirst = hadCollision || (attached == 1 && emptyExtension);
    expected.attached = attached == 1;
    expected.structSize = model.clumpStruct->size == 4 ? 4 : 12;
    expected.trailing = trailing;
    CheckSavedFile(written, expected);
    return 0;
}
