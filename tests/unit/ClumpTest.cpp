// Loading and saving a clump, collision attachment and the frame list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "UnitHelpers.h"
#include "dff/DffModel.h"

namespace brennix::test {
namespace {

class ClumpTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.Ok()); }

    std::string In() const { return dir.Path("in.dff"); }
    std::string Out() const { return dir.Path("out.dff"); }

    // Loads the bytes and expects Load to return `expected`.
    void Load(ScopedModel& model, const Bytes& bytes, int32_t expected = 1) {
        ASSERT_EQ(LoadBytes(*model, In(), bytes), expected);
    }
    Bytes Save(ScopedModel& model) {
        Bytes out;
        EXPECT_TRUE(SaveBytes(*model, Out(), &out));
        return out;
    }
    Bytes LoadAndSave(const Bytes& bytes) {
        ScopedModel model;
        Load(model, bytes);
        return Save(model);
    }

    TempDir dir;
};

ClumpSpec WithoutChild(ClumpSpec plan, ClumpChildKind kind) {
    auto& children = plan.children;
    for (auto it = children.begin(); it != children.end(); ++it) {
        if (it->kind == kind) {
            children.erase(it);
            break;
        }
    }
    return plan;
}

// A canonical model whose clump Extension holds the given entries.
ClumpSpec WithClumpEntries(const std::vector<ExtensionEntry>& entries) {
    ClumpSpec plan = MakeCanonicalModel();
    plan.ExtensionEntries() = entries;
    return plan;
}

ExtensionEntry OtherEntry(uint8_t fill, size_t size = 20) {
    return ExtensionEntry{0x253F2F3, Bytes(size, fill), 0x00000310};
}

// ---------------------------------------------------------------------------
// Load and save

TEST_F(ClumpTest, RoundTripsWellFormedModelsByteForByte) {
    ClumpSpec stamped = MakeCanonicalModel();
    stamped.stamp = 0x00000310;
    for (ClumpChild& child : stamped.children)
        child.stamp = 0x1C020065;
    LargeModelOptions everything;
    everything.nightColours = true;
    everything.skin = true;
    const std::vector<std::pair<const char*, ClumpSpec>> models = {
        {"canonical", MakeCanonicalModel()},
        {"house", MakeHouseModel()},
        {"box", MakeBoxModel()},
        {"stamped", stamped},
        {"skinned", MakeLargeModel(40, 30, everything)},
        {"with collision", WithClumpEntries({OtherEntry(1), CollisionEntry(MakeCol3File())})},
    };
    for (const auto& [name, plan] : models) {
        SCOPED_TRACE(name);
        Bytes bytes = BuildModel(plan);
        EXPECT_EQ(LoadAndSave(bytes), bytes);
    }
}

TEST_F(ClumpTest, SavesChildrenInFixedOrder) {
    ClumpSpec plan = MakeCanonicalModel();
    auto& c = plan.children;  // Struct, Frame List, Geometry List, Atomic, Extension
    plan.children = {c[1], c[4], c[3], c[0], c[2]};
    EXPECT_EQ(LoadAndSave(BuildModel(plan)), BuildModel(MakeCanonicalModel()));
}

TEST_F(ClumpTest, DropsLightsCamerasAndOtherChildrenAndCountsThemZero) {
    ClumpSpec plan = MakeCanonicalModel();
    plan.children[0] = ClumpChild::MakeStruct(3, 2, 1);
    plan.children.insert(plan.children.begin() + 1, ClumpChild::MakeLight());
    plan.children.push_back(ClumpChild::MakeCamera());
    plan.children.push_back(ClumpChild::MakeRaw(0x99, Bytes(7, 1)));
    plan.children.push_back(ClumpChild::MakeStruct(9, 9, 9));  // a second Struct is dropped too
    plan.trailing = Bytes(16, 0xAB);                           // after the clump: kept

    ClumpSpec expected = MakeCanonicalModel();
    expected.children[0] = ClumpChild::MakeStruct(3, 0, 0);
    expected.trailing = plan.trailing;
    EXPECT_EQ(LoadAndSave(BuildModel(plan)), BuildModel(expected));
}

TEST_F(ClumpTest, StructKeepsFourBytesWhenLoadedWithFourAndIsOtherwiseTwelve) {
    ClumpChild eightBytes = ClumpChild::MakeStruct();
    eightBytes.rawPayload = Bytes{4, 0, 0, 0, 9, 9, 9, 9};
    ClumpChild sixteenBytes = ClumpChild::MakeStruct();
    sixteenBytes.rawPayload = Bytes{4, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
    const struct {
        const char* name;
        ClumpChild loaded;
        ClumpChild saved;
    } cases[] = {
        {"4 bytes", ClumpChild::MakeShortStruct(4), ClumpChild::MakeShortStruct(4)},
        {"8 bytes", eightBytes, ClumpChild::MakeStruct(4, 0, 0)},
        {"12 bytes", ClumpChild::MakeStruct(4, 2, 1), ClumpChild::MakeStruct(4, 0, 0)},
        {"16 bytes", sixteenBytes, ClumpChild::MakeStruct(4, 0, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClumpSpec plan = MakeCanonicalModel();
        plan.children[0] = c.loaded;
        ClumpSpec expected = MakeCanonicalModel();
        expected.children[0] = c.saved;
        ScopedModel model;
        Load(model, BuildModel(plan));
        EXPECT_EQ(Save(model), BuildModel(expected));
        EXPECT_EQ(Save(model), BuildModel(expected));  // the same again
    }
}

TEST_F(ClumpTest, WhatFollowsTheClumpIsWrittenBackAfterIt) {
    // A clump whose declared size stops before its empty Extension, which
    // follows with zero padding; more clumps after the first.
    ClumpSpec extensionOutside = WithoutChild(MakeCanonicalModel(), ClumpChildKind::Extension);
    extensionOutside.trailing = Cat({MakeExtensionChunk({}), Bytes(500, 0)});
    ClumpSpec threeClumps = MakeCanonicalModel();
    threeClumps.trailing = Cat({BuildModel(MakeHouseModel()), BuildModel(MakeBoxModel())});
    ClumpSpec afterDictionary = threeClumps;
    afterDictionary.uvAnimDictionary = Bytes(12, 0x2B);
    const std::vector<std::pair<const char*, ClumpSpec>> models = {
        {"extension outside the clump", extensionOutside},
        {"three clumps", threeClumps},
        {"dictionary, then three clumps", afterDictionary},
    };
    for (const auto& [name, plan] : models) {
        SCOPED_TRACE(name);
        const Bytes bytes = BuildModel(plan);
        EXPECT_EQ(LoadAndSave(bytes), bytes);
        ScopedModel model;
        Load(model, bytes);
        ByteBuffer built;
        ASSERT_TRUE(model->BuildFile(built));
        EXPECT_EQ(PayloadBytes(built), bytes);
        built.Release();
    }
}

TEST_F(ClumpTest, DuplicateListOrAtomicFailsTheLoad) {
    const struct {
        ClumpChildKind kind;
        uint32_t code;
    } cases[] = {
        {ClumpChildKind::FrameList, kErrorSecondFrameList},
        {ClumpChildKind::Atomic, kErrorSecondAtomic},
        {ClumpChildKind::GeometryList, kErrorSecondGeometryList},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        ClumpSpec plan = MakeCanonicalModel();
        const ClumpChild duplicate = *plan.FindChild(c.kind);
        plan.children.push_back(duplicate);
        ScopedModel model;
        Load(model, BuildModel(plan), 0);
        EXPECT_EQ(model->errorCode, c.code);
    }
}

TEST_F(ClumpTest, SecondExtensionIsDroppedAndTheFirstKept) {
    ClumpSpec plan = MakeCanonicalModel();
    plan.children.push_back(ClumpChild::MakeExtension({CollisionEntry(MakeCol3File())}));
    ScopedModel model;
    Load(model, BuildModel(plan));
    EXPECT_EQ(model->hasCollision, 0);
    EXPECT_EQ(Save(model), BuildModel(MakeCanonicalModel()));
}

TEST_F(ClumpTest, LeadingUvAnimationDictionaryIsKeptAndWrittenBeforeTheClump) {
    ClumpSpec plan = MakeCanonicalModel();
    plan.uvAnimDictionary = Bytes(40, 0x3C);
    Bytes bytes = BuildModel(plan);
    ScopedModel model;
    Load(model, bytes);
    ASSERT_NE(model->uvAnimDictionary, nullptr);
    EXPECT_EQ(model->clump->type, kTypeClump);
    EXPECT_EQ(Save(model), bytes);
}

TEST_F(ClumpTest, FilesThatDoNotHoldAClumpFailWithNotAClump) {
    const Bytes dictionary = MakeChunk(kChunkUvAnimDictionary, Bytes(8, 1));
    ClumpSpec withDictionary = MakeCanonicalModel();
    withDictionary.uvAnimDictionary = Bytes(8, 2);
    const std::vector<std::pair<const char*, Bytes>> files = {
        {"dictionary only", dictionary},
        {"two dictionaries", Cat({dictionary, BuildModel(withDictionary)})},
        {"geometry list first", MakeChunk(kChunkGeometryList, Bytes(16, 0))},
        {"empty file", {}},
        {"dictionary header cut short", {0x2B, 0, 0}},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        ScopedModel model;
        Load(model, bytes, 0);
        EXPECT_EQ(model->errorCode, kErrorNotAClump);
        EXPECT_EQ(model->Save(Out().c_str()), 0);
        EXPECT_FALSE(Exists(Out()));
    }
}

TEST_F(ClumpTest, MissingFileLoadsAsMinusOneWithoutACode) {
    ScopedModel model;
    EXPECT_EQ(model->Load(dir.Path("missing.dff").c_str()), -1);
    EXPECT_EQ(model->errorCode, 0u);
    EXPECT_EQ(model->Save(Out().c_str()), 0);
    EXPECT_EQ(model->AttachCollisionFile(In().c_str()), -1);
}

TEST_F(ClumpTest, ReleaseIsSafeAfterInitAndTwice) {
    DffModel model;
    model.Init();
    model.Release();
    ASSERT_EQ(LoadBytes(model, In(), BuildModel(MakeCanonicalModel())), 1);
    ASSERT_EQ(model.ReadGeometryList(), 1);
    ASSERT_EQ(model.ReadFrameList(), 1);
    model.Release();
    model.Release();
    EXPECT_EQ(model.clump, nullptr);
    EXPECT_EQ(model.geometries.count, 0u);
    EXPECT_EQ(model.frames, nullptr);
}

TEST_F(ClumpTest, CollisionIsDetectedOnlyAsTheFirstEntry) {
    const Bytes col = MakeCol3File();
    const struct {
        const char* name;
        std::vector<ExtensionEntry> entries;
        uint8_t expected;
    } cases[] = {
        {"empty extension", {}, 0},
        {"collision alone", {CollisionEntry(col)}, 1},
        {"collision first", {CollisionEntry(col), OtherEntry(2)}, 1},
        {"collision second", {OtherEntry(2), CollisionEntry(col)}, 0},
        {"other entry only", {OtherEntry(2)}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedModel model;
        Load(model, BuildModel(WithClumpEntries(c.entries)));
        EXPECT_EQ(model->hasCollision, c.expected);
    }
}

TEST_F(ClumpTest, AttachAppendsACollisionEntryLast) {
    const Bytes col = MakeCol3File();
    const std::string colPath = dir.Path("model.col");
    ASSERT_TRUE(WriteFile(colPath, col));
    const uint32_t n = static_cast<uint32_t>(col.size());
    const std::vector<std::vector<ExtensionEntry>> existing = {{},
                                                               {OtherEntry(1), OtherEntry(2, 8)}};
    for (const auto& entries : existing) {
        SCOPED_TRACE(entries.size());
        const Bytes bytes = BuildModel(WithClumpEntries(entries));
        ScopedModel model;
        Load(model, bytes);
        const uint32_t sizeBefore = model->clumpExtension->size;
        ASSERT_EQ(model->AttachCollisionFile(colPath.c_str()), 1);
        EXPECT_EQ(model->clumpExtension->size, sizeBefore + n + 12);
        EXPECT_EQ(model->hasCollision, 0);  // attaching does not change the test
        EXPECT_EQ(PayloadBytes(model->fileBuffer), bytes);

        std::vector<ExtensionEntry> withCollision = entries;
        withCollision.push_back(CollisionEntry(col));
        Bytes saved = Save(model);
        EXPECT_EQ(saved, BuildModel(WithClumpEntries(withCollision)));
        ClumpView view;
        ASSERT_TRUE(ParseClump(saved, &view));
        EXPECT_EQ(view.clump.size, GetU32(bytes, 4) + n + 12);
        const ChunkView* extension = view.Find(kChunkExtension);
        ASSERT_NE(extension, nullptr);
        std::vector<ChunkView> parts;
        ASSERT_TRUE(SplitChunks(extension->payload, &parts));
        ASSERT_EQ(parts.size(), entries.size() + 1);
        EXPECT_EQ(parts.back().type, kEntryCollision);
        EXPECT_EQ(parts.back().size, n);
        EXPECT_EQ(parts.back().stamp, 0x1803FFFFu);
        EXPECT_EQ(parts.back().payload, col);
    }
}

TEST_F(ClumpTest, AttachOfAMissingFileFailsAndChangesNothing) {
    const Bytes bytes = BuildModel(WithClumpEntries({OtherEntry(1)}));
    ScopedModel model;
    Load(model, bytes);
    const Chunk before = *model->clumpExtension;
    EXPECT_EQ(model->AttachCollisionFile(dir.Path("missing.col").c_str()), -2);
    EXPECT_EQ(model->clumpExtension->size, before.size);
    EXPECT_EQ(model->clumpExtension->payload.data, before.payload.data);
    EXPECT_EQ(model->clumpExtension->payload.length, before.payload.length);
    EXPECT_EQ(Save(model), bytes);
}

TEST_F(ClumpTest, AttachRefusesWhatWouldNotReadBackAndChangesNothing) {
    ExtensionEntry pastTheEnd = OtherEntry(1, 8);
    pastTheEnd.declaredSize = 100;  // the new entry would lie inside it
    ClumpSpec headerFragment = MakeCanonicalModel();
    headerFragment.FindChild(ClumpChildKind::Extension)->rawPayload = Bytes(5, 0);
    const Bytes col3 = MakeCol3File();
    Bytes otherVersion = col3;
    otherVersion[3] = '1';
    const Bytes notFirst = Cat({Bytes{'X'}, col3});
    const struct {
        const char* name;
        ClumpSpec model;
        Bytes col;
        int32_t expected;
    } cases[] = {
        {"entry past the end of the extension", WithClumpEntries({OtherEntry(2), pastTheEnd}), col3,
         -2},
        {"a header cut short ends the extension", headerFragment, col3, -2},
        {"empty collision file", MakeCanonicalModel(), {}, -2},
        {"COL1", MakeCanonicalModel(), otherVersion, -2},
        {"COL3 not at the start", MakeCanonicalModel(), notFirst, -2},
        {"COLL", MakeCanonicalModel(), Bytes{'C', 'O', 'L', 'L', 0, 0, 0, 0}, 1},
        {"COL4", MakeCanonicalModel(), Bytes{'C', 'O', 'L', '4', 7}, 1},
        {"entries that fill the extension", WithClumpEntries({OtherEntry(2), OtherEntry(3, 0)}),
         col3, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string colPath = dir.Path("attach.col");
        ASSERT_TRUE(WriteFile(colPath, c.col));
        const Bytes bytes = BuildModel(c.model);
        ScopedModel model;
        Load(model, bytes);
        const Chunk before = *model->clumpExtension;
        ASSERT_EQ(model->AttachCollisionFile(colPath.c_str()), c.expected);
        if (c.expected < 0) {
            EXPECT_EQ(model->clumpExtension->size, before.size);
            EXPECT_EQ(model->clumpExtension->payload.data, before.payload.data);
            EXPECT_EQ(model->clumpExtension->payload.length, before.payload.length);
            continue;
        }
        // The new entry is found by walking the saved Extension.
        ClumpView view;
        ASSERT_TRUE(ParseClump(Save(model), &view));
        std::vector<ChunkView> entries;
        ASSERT_TRUE(SplitChunks(view.Find(kChunkExtension)->payload, &entries));
        EXPECT_EQ(entries.back().type, kEntryCollision);
        EXPECT_EQ(entries.back().payload, c.col);
    }
}

TEST_F(ClumpTest, WithoutClumpExtensionAttachFailsButSaveWritesTheRest) {
    const std::string colPath = dir.Path("model.col");
    ASSERT_TRUE(WriteFile(colPath, MakeCol3File()));
    ClumpSpec plan = WithoutChild(MakeCanonicalModel(), ClumpChildKind::Extension);
    ScopedModel model;
    Load(model, BuildModel(plan));
    EXPECT_EQ(model->AttachCollisionFile(colPath.c_str()), -1);
    EXPECT_EQ(Save(model), BuildModel(plan));
}

TEST_F(ClumpTest, SaveWritesWhicheverListsAndAtomicExist) {
    for (ClumpChildKind kind :
         {ClumpChildKind::FrameList, ClumpChildKind::GeometryList, ClumpChildKind::Atomic}) {
        SCOPED_TRACE(static_cast<int>(kind));
        ClumpSpec plan = WithoutChild(MakeCanonicalModel(), kind);
        EXPECT_EQ(LoadAndSave(BuildModel(plan)), BuildModel(plan));
    }
}

TEST_F(ClumpTest, WithoutClumpStructSaveWritesNothing) {
    ScopedModel model;
    Load(model, BuildModel(WithoutChild(MakeCanonicalModel(), ClumpChildKind::Struct)));
    const Bytes earlier = {1, 2, 3};
    ASSERT_TRUE(WriteFile(Out(), earlier));
    EXPECT_EQ(model->Save(Out().c_str()), 0);
    EXPECT_EQ(ReadFile(Out()), earlier);
}

TEST_F(ClumpTest, KeptChunkCutShortMakesSaveWriteNothing) {
    ClumpSpec atomicLast = MakeCanonicalModel();
    std::swap(atomicLast.children[3], atomicLast.children[4]);
    // The Struct's atomic count is there, its light and camera counts not.
    ClumpSpec structLast = MakeCanonicalModel();
    std::rotate(structLast.children.begin(), structLast.children.begin() + 1,
                structLast.children.end());
    const std::vector<std::pair<const char*, ClumpSpec>> cases = {
        {"extension", WithClumpEntries({OtherEntry(1)})},
        {"atomic", atomicLast},
        {"struct", structLast},
    };
    for (const auto& [name, plan] : cases) {
        SCOPED_TRACE(name);
        Bytes bytes = BuildModel(plan);
        bytes.resize(bytes.size() - 4);
        ScopedModel model;
        Load(model, bytes);
        const Bytes earlier = {9, 8, 7};
        ASSERT_TRUE(WriteFile(Out(), earlier));
        EXPECT_EQ(model->Save(Out().c_str()), 0);
        EXPECT_EQ(ReadFile(Out()), earlier);
        ByteBuffer built;
        EXPECT_FALSE(model->BuildFile(built));
    }
}

TEST_F(ClumpTest, DroppedChildCutShortDoesNotStopTheSave) {
    ClumpSpec plan = MakeCanonicalModel();
    plan.children.push_back(ClumpChild::MakeLight());
    Bytes bytes = BuildModel(plan);
    bytes.resize(bytes.size() - 6);
    EXPECT_EQ(LoadAndSave(bytes), BuildModel(MakeCanonicalModel()));
}

TEST_F(ClumpTest, EveryTruncatedPrefixLoadsAndSavesWellFormedOrNothing) {
    ClumpSpec plan = WithClumpEntries({CollisionEntry(MakeCol3File()), OtherEntry(3)});
    plan.uvAnimDictionary = Bytes(24, 0x2B);
    plan.children.insert(plan.children.begin() + 2, ClumpChild::MakeLight());
    const Bytes full = BuildModel(plan);
    size_t saved = 0;
    for (size_t n = 0; n < full.size(); ++n) {
        SCOPED_TRACE(n);
        const Bytes prefix(full.begin(), full.begin() + static_cast<long>(n));
        ScopedModel model;
        const int32_t loaded = LoadBytes(*model, In(), prefix);
        ASSERT_GE(loaded, 0);
        if (loaded == 0) {
            EXPECT_NE(model->errorCode, 0u);
            continue;
        }
        model->ReadFrameList();
        model->ReadGeometryList();
        Bytes out;
        if (!SaveBytes(*model, Out(), &out))
            continue;
        ++saved;
        ClumpView view;
        std::string why;
        EXPECT_TRUE(ParseClump(out, &view, &why)) << why;
        EXPECT_EQ(view.trailingBytes, 0u);
        ASSERT_GE(view.children.size(), 1u);
        EXPECT_EQ(view.children[0].type, kChunkStruct);
        EXPECT_EQ(view.children[0].size, 12u);
    }
    // Prefixes that end between two clump children keep what they hold.
    EXPECT_GT(saved, 0u);
}

// ---------------------------------------------------------------------------
// Frame list

class FrameListTest : public ClumpTest {
protected:
    // Loads the canonical model with the given frame list and reads it.
    int32_t ReadFrames(ScopedModel& model, const FrameListSpec& frames, uint32_t earlierCode = 0,
                       uint32_t earlierDetail = 0) {
        ClumpSpec plan = MakeCanonicalModel();
        plan.Frames() = frames;
        EXPECT_EQ(LoadBytes(*model, In(), BuildModel(plan)), 1);
        model->errorCode = earlierCode;
        model->errorDetail = earlierDetail;
        return model->ReadFrameList();
    }
};

FrameListSpec Frames(size_t count, bool withExtensions = true) {
    FrameListSpec list;
    for (size_t i = 0; i < count; ++i) {
        FrameSpec frame = MakeFrame("", static_cast<int32_t>(i) - 1);
        frame.position = {static_cast<float>(i), 2.0f * static_cast<float>(i), -1.0f};
        frame.matrixFlags = static_cast<uint32_t>(i) * 3;
        frame.hasExtension = withExtensions;
        list.frames.push_back(frame);
    }
    return list;
}

TEST_F(FrameListTest, KeepsEachFrameRecordAsStored) {
    FrameListSpec list = Frames(3);
    list.frames[1].extensions = {HAnimEntry(4), FrameNameEntry("middle")};
    ScopedModel model;
    ASSERT_EQ(ReadFrames(model, list), 1);
    ASSERT_EQ(model->frameCount, 3u);
    const Bytes payload = EncodeFrameListPayload(list);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const Bytes record(payload.begin() + 16 + 56 * static_cast<long>(i),
                           payload.begin() + 16 + 56 * static_cast<long>(i + 1));
        EXPECT_EQ(0, std::memcmp(model->frames[i].bytes, record.data(), 56));
    }
    EXPECT_EQ(model->errorCode, 0u);
}

TEST_F(FrameListTest, FrameCountLimit) {
    {
        ScopedModel model;
        EXPECT_EQ(ReadFrames(model, Frames(255)), 1);
        EXPECT_EQ(model->frameCount, 255u);
    }
    for (uint32_t count : {256u, 0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(count);
        FrameListSpec list = Frames(1);
        list.countOverride = count;
        ScopedModel model;
        EXPECT_EQ(ReadFrames(model, list), 0);
        EXPECT_EQ(model->errorCode, kErrorFrameCount);
        EXPECT_EQ(model->errorDetail, count);
    }
}

TEST_F(FrameListTest, FrameNamesOfTwentyFourBytesOrMoreFail) {
    const struct {
        const char* name;
        std::vector<ExtensionEntry> secondFrame;
        int32_t result;
    } cases[] = {
        {"23 bytes", {FrameNameEntry(std::string(23, 'n'))}, 1},
        {"24 bytes", {FrameNameEntry(std::string(24, 'n'))}, 0},
        {"after HAnim", {HAnimEntry(1), FrameNameEntry(std::string(24, 'n'))}, 0},
        {"other entry of 40 bytes", {ExtensionEntry{0x99, Bytes(40, 1)}}, 1},
        {"HAnim only", {HAnimEntry(1)}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FrameListSpec list = Frames(3);
        list.frames[1].extensions = c.secondFrame;
        ScopedModel model;
        EXPECT_EQ(ReadFrames(model, list), c.result);
        EXPECT_EQ(model->errorCode, c.result == 1 ? 0u : kErrorFrameName);
        EXPECT_EQ(model->errorDetail, 0u);
    }
}

TEST_F(FrameListTest, EveryExtensionAfterTheRecordsIsChecked) {
    FrameListSpec list = Frames(2);  // both extensions of size 0
    list.trailing = MakeExtensionChunk({FrameNameEntry(std::string(30, 'x'))});
    ScopedModel model;
    EXPECT_EQ(ReadFrames(model, list), 0);
    EXPECT_EQ(model->errorCode, kErrorFrameName);
}

TEST_F(FrameListTest, AcceptsListsWithoutNamesToCheck) {
    FrameListSpec noExtensions = Frames(2, false);
    FrameListSpec zeroSize = Frames(3);  // every Extension of size 0
    FrameListSpec otherChunk = Frames(1);
    otherChunk.trailing = MakeChunk(0x99, EncodeEntries({FrameNameEntry(std::string(30, 'y'))}));
    FrameListSpec cutEntry = Frames(1, false);
    cutEntry.trailing = MakeChunk(kChunkExtension, {0xFE, 0xF2, 0x53, 0x02, 0x10});
    const std::vector<std::pair<const char*, FrameListSpec>> cases = {
        {"no extensions", noExtensions},
        {"zero-size extensions", zeroSize},
        {"name inside another chunk type", otherChunk},
        {"entry header cut short", cutEntry},
    };
    for (const auto& [name, list] : cases) {
        SCOPED_TRACE(name);
        ScopedModel model;
        EXPECT_EQ(ReadFrames(model, list), 1);
        EXPECT_EQ(model->errorCode, 0u);
    }
}

TEST_F(FrameListTest, ShortPayloadLeavesTheMissingRecordsZero) {
    FrameListSpec list = Frames(2, false);
    list.countOverride = 3;
    ScopedModel model;
    ASSERT_EQ(ReadFrames(model, list), 1);
    ASSERT_EQ(model->frameCount, 3u);
    const Bytes payload = EncodeFrameListPayload(list);
    EXPECT_EQ(0, std::memcmp(model->frames[1].bytes, payload.data() + 16 + 56, 56));
    const uint8_t zero[56] = {};
    EXPECT_EQ(0, std::memcmp(model->frames[2].bytes, zero, 56));
}

TEST_F(FrameListTest, FirstChunkNotAStructFailsWithDetailOne) {
    FrameListSpec list = Frames(1);
    list.structType = kChunkExtension;
    ScopedModel model;
    EXPECT_EQ(ReadFrames(model, list), 0);
    EXPECT_EQ(model->errorCode, kErrorUnexpectedChunk);
    EXPECT_EQ(model->errorDetail, 1u);
}

TEST_F(FrameListTest, EarlierCodeWinsWhileTheDetailIsStillWritten) {
    FrameListSpec notStruct = Frames(1);
    notStruct.structType = 0x99;
    FrameListSpec tooMany = Frames(1);
    tooMany.countOverride = 300;
    FrameListSpec longName = Frames(1);
    longName.frames[0].extensions = {FrameNameEntry(std::string(24, 'z'))};
    const struct {
        const char* name;
        FrameListSpec list;
        uint32_t detail;
    } cases[] = {
        {"not a struct", notStruct, 1}, {"too many", tooMany, 300}, {"long name", longName, 77}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedModel model;
        EXPECT_EQ(ReadFrames(model, c.list, kErrorNotAClump, 77), 0);
        EXPECT_EQ(model->errorCode, kErrorNotAClump);
        EXPECT_EQ(model->errorDetail, c.detail);
    }
}

TEST_F(FrameListTest, NoFrameListReadsNothing) {
    ScopedModel model;
    Load(model, BuildModel(WithoutChild(MakeCanonicalModel(), ClumpChildKind::FrameList)));
    EXPECT_EQ(model->ReadFrameList(), 0);
    EXPECT_EQ(model->errorCode, 0u);
    EXPECT_EQ(model->frames, nullptr);
}

}  // namespace
}  // namespace brennix::test
