// Surface ids of the two families and the mapping between them: lookups at
// the ends of each family, counterparts both ways (exact and by group
// default), and the properties the converter relies on for every id.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "col/Surfaces.h"

namespace brennix {
namespace {

constexpr SurfaceFamily kVc = SurfaceFamily::kEarlier;
constexpr SurfaceFamily kSa = SurfaceFamily::kLater;

const char* FamilyName(SurfaceFamily f) {
    return f == kVc ? "vc" : "sa";
}

TEST(SurfacesTest, VersionOneIsTheEarlierFamilyAndTheRestTheLater) {
    EXPECT_EQ(FamilyOfVersion(1), kVc);
    for (int version : {2, 3, 4}) {
        EXPECT_EQ(FamilyOfVersion(version), kSa) << version;
    }
}

TEST(SurfacesTest, FindsIdsUpToTheLastOfEachFamily) {
    struct Case {
        SurfaceFamily family;
        int id;
        const char* name;  // null: no such id
        bool procedural;
    };
    const Case cases[] = {
        {kVc, 0, "Default", false}, {kVc, 34, "Grass 2", false}, {kVc, 35, nullptr, false},
        {kVc, 255, nullptr, false}, {kSa, 74, "Sand", true},     {kSa, 178, "Rail Track", false},
        {kSa, 179, nullptr, false}, {kSa, 255, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(FamilyName(c.family)) + " " + std::to_string(c.id));
        const SurfaceInfo* s = FindSurface(c.family, static_cast<uint8_t>(c.id));
        if (!c.name) {
            EXPECT_EQ(s, nullptr);
            continue;
        }
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->id, c.id);
        EXPECT_STREQ(s->name, c.name);
        EXPECT_EQ(s->procedural, c.procedural);
    }
}

TEST(SurfacesTest, MapsByCounterpartOrGroupDefault) {
    struct Case {
        SurfaceFamily from, to;
        int id, expected;
        bool exact;
    };
    const Case cases[] = {
        // vc to sa
        {kVc, kSa, 0, 0, true},     // Default, by name
        {kVc, kSa, 1, 1, true},     // Street -> Tarmac, reviewed
        {kVc, kSa, 9, 158, true},   // Door, by name across ids
        {kVc, kSa, 18, 29, true},   // Sand -> a plain sand, not procedural 74
        {kVc, kSa, 11, 51, false},  // Metal: the metal default
        {kVc, kSa, 33, 29, false},  // Sand 2: the sand default
        {kVc, kSa, 17, 0, false},   // Unknown: misc takes Default
        {kVc, kSa, 35, 0, false},   // not a vc id
        {kVc, kSa, 255, 0, false},
        // sa to vc
        {kSa, kVc, 165, 5, true},   // Floor (concrete) -> Concrete, the pair back
        {kSa, kVc, 89, 5, true},    // procedural Concrete, by name one way
        {kSa, kVc, 50, 9, true},    // Garage Door -> Door, reviewed one way
        {kSa, kVc, 2, 1, false},    // Tarmac (worn): the road default
        {kSa, kVc, 63, 11, false},  // Car (body): the metal default
        {kSa, kVc, 6, 4, false},    // Gravel: vc has none, so dirt
        {kSa, kVc, 71, 0, false},   // Carpet: misc takes Default
        {kSa, kVc, 179, 0, false},  // not an sa id
        // within one family nothing changes, known or not
        {kVc, kVc, 200, 200, true},
        {kSa, kSa, 74, 74, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(FamilyName(c.from)) + " " + std::to_string(c.id) + " to " +
                     FamilyName(c.to));
        bool exact = !c.exact;
        EXPECT_EQ(MapSurface(c.from, c.to, static_cast<uint8_t>(c.id), &exact), c.expected);
        EXPECT_EQ(exact, c.exact);
        EXPECT_EQ(MapSurface(c.from, c.to, static_cast<uint8_t>(c.id)), c.expected);
    }
}

// Every byte, known or not, lands on an id the other family has; a group
// default keeps the group wherever the other family has it (vc has no
// gravel, and misc falls back to the neutral Default).
TEST(SurfacesTest, EveryIdMapsToAnIdOfTheOtherFamily) {
    for (SurfaceFamily from : {kVc, kSa}) {
        const SurfaceFamily to = from == kVc ? kSa : kVc;
        for (int id = 0; id < 256; ++id) {
            SCOPED_TRACE(std::string(FamilyName(from)) + " " + std::to_string(id));
            bool exact = true;
            const SurfaceInfo* target =
                FindSurface(to, MapSurface(from, to, static_cast<uint8_t>(id), &exact));
            ASSERT_NE(target, nullptr);
            const SurfaceInfo* source = FindSurface(from, static_cast<uint8_t>(id));
            if (!source) {
                EXPECT_FALSE(exact);
                continue;
            }
            if (!exact && std::strcmp(source->group, "gravel") != 0 &&
                std::strcmp(source->group, "misc") != 0) {
                EXPECT_STREQ(target->group, source->group)
                    << source->name << " -> " << target->name;
            }
            if (from == kVc) {
                EXPECT_FALSE(target->procedural) << source->name << " -> " << target->name;
            }
        }
    }
}

TEST(SurfacesTest, ExactCounterpartsOfVcComeBackFromSa) {
    int exactCount = 0;
    for (int id = 0; FindSurface(kVc, static_cast<uint8_t>(id)); ++id) {
        bool exact = false;
        const uint8_t sa = MapSurface(kVc, kSa, static_cast<uint8_t>(id), &exact);
        if (!exact) {
            continue;
        }
        ++exactCount;
        bool backExact = false;
        EXPECT_EQ(MapSurface(kSa, kVc, sa, &backExact), id) << "vc " << id << " via sa " << int(sa);
        EXPECT_TRUE(backExact) << "vc " << id;
    }
    EXPECT_GT(exactCount, 0);
}

}  // namespace
}  // namespace brennix
