#!/usr/bin/env python3
"""Makes src/col/SurfaceTable.inc and docs/surfaces.md from the list of both
families' collision surfaces (tab-separated: family, id, group, procedural,
name; lines starting with '#' are comments).

    tools/make-surface-table.py [surfaces.tsv]

The list defaults to ../shared/surfaces.tsv beside the repository. Both
outputs are written relative to the repository root, whatever the working
directory.

How an id of one family finds its counterpart in the other:
  1. Pairs by name: a "vc" and a "sa" surface whose names are equal once case
     and everything but letters and digits are dropped, when the name is
     unique in both families and the "sa" surface is not procedural (the
     earlier games have no procedural surfaces, so a plain surface is never
     given one).
  2. Reviewed pairs (REVIEWED_PAIRS): names that clearly denote the same
     material or object. Pairs hold both ways, so an id that has one comes
     back unchanged from a round trip.
  3. "sa" to "vc" only: a procedural surface named like a "vc" surface
     (by rule 1's comparison), or one of REVIEWED_LATER_TO_EARLIER, where
     several "sa" surfaces stand for one "vc" surface.
  4. Otherwise the default of the id's group in the other family
     (GROUP_DEFAULTS); an id the family does not have takes the default of
     group FALLBACK_GROUP.
"""

import os
import re
import sys

EARLIER, LATER = "vc", "sa"
FAMILIES = (EARLIER, LATER)

# vc id -> sa id, checked by hand: the "sa" surface is the plain form of the
# "vc" one. Each id appears at most once, so the pairs hold both ways.
REVIEWED_PAIRS = {
    1: 1,  # Street -> Tarmac
    2: 9,  # Grass -> Grass (short, lush)
    3: 24,  # Mud -> Mud (wet)
    5: 165,  # Concrete -> Floor (concrete)
    8: 52,  # Metal Pole -> Scaffold Pole
    10: 167,  # Metal Sheet -> Thin Metal Sheet
    16: 55,  # Fence (a metal one) -> Metal Chain fence
    18: 29,  # Sand -> Sand (medium)
    19: 39,  # Water -> Water (shallow)
    20: 42,  # Wooden Box -> Wood (crates)
    22: 43,  # Wood -> Wood (solid)
    26: 35,  # Rock -> Rock (dry)
    27: 58,  # Metal Container -> Container
    32: 54,  # Gate/Bars -> Metal Gate
}

# sa id -> vc id, one way: a second "sa" surface for a "vc" surface that
# already has its pair.
REVIEWED_LATER_TO_EARLIER = {
    50: 9,  # Garage Door -> Door
    53: 8,  # Lamp Post -> Metal Pole
}

# The id that stands for each group in each family. "misc" has no surface
# that stands for it, so it takes the family's neutral surface 0 ("Default");
# the earlier games have no gravel, which becomes their dirt.
GROUP_DEFAULTS = {
    EARLIER: {
        "road": 1,  # Street
        "concrete": 5,  # Concrete
        "gravel": 4,  # Dirt
        "grass": 2,  # Grass
        "rock": 26,  # Rock
        "dirt": 4,  # Dirt
        "bushes": 25,  # Hedge
        "sand": 18,  # Sand
        "water": 19,  # Water
        "wood": 22,  # Wood
        "glass": 7,  # Glass
        "metal": 11,  # Metal
        "misc": 0,  # Default
    },
    LATER: {
        "road": 1,  # Tarmac
        "concrete": 165,  # Floor (concrete)
        "gravel": 6,  # Gravel
        "grass": 9,  # Grass (short, lush)
        "rock": 35,  # Rock (dry)
        "dirt": 26,  # Dirt
        "bushes": 23,  # Vegetation
        "sand": 29,  # Sand (medium)
        "water": 39,  # Water (shallow)
        "wood": 43,  # Wood (solid)
        "glass": 45,  # Glass
        "metal": 51,  # Thick Metal Plate
        "misc": 0,  # Default
    },
}

FALLBACK_GROUP = "misc"

BY_NAME, REVIEWED, BY_GROUP = "name", "reviewed", "group default"


def fail(message):
    sys.exit("make-surface-table: " + message)


def read_surfaces(path):
    surfaces = {family: {} for family in FAMILIES}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\r\n")
            if not line or line.startswith("#"):
                continue
            fields = line.split("\t")
            if fields[0] == "family":
                continue
            if len(fields) != 5:
                fail(f"{path}:{number}: expected 5 columns")
            family, id_text, group, procedural, name = fields
            if family not in surfaces or not id_text.isdigit() or int(id_text) > 255:
                fail(f"{path}:{number}: bad family or id")
            if procedural not in ("yes", "no"):
                fail(f"{path}:{number}: procedural is 'yes' or 'no'")
            if '"' in name or "\\" in name:
                fail(f"{path}:{number}: name needs quoting")
            id_ = int(id_text)
            if id_ in surfaces[family]:
                fail(f"{path}:{number}: {family} {id_} listed twice")
            surfaces[family][id_] = (group, procedural == "yes", name)
    for family in FAMILIES:
        ids = sorted(surfaces[family])
        if ids != list(range(len(ids))) or not ids:
            fail(f"{family} ids are not 0..n-1")
    return surfaces


def key(name):
    return re.sub(r"[^0-9a-z]", "", name.lower())


def unique_names(table):
    count = {}
    for group, procedural, name in table.values():
        count[key(name)] = count.get(key(name), 0) + 1
    return {i: key(s[2]) for i, s in table.items() if count[key(s[2])] == 1}


def counterparts(surfaces):
    """For each direction, id -> (to id, how)."""
    vc, sa = surfaces[EARLIER], surfaces[LATER]
    for family, defaults in GROUP_DEFAULTS.items():
        for group, id_ in defaults.items():
            if id_ not in surfaces[family]:
                fail(f"default of {family} {group} is no {family} id")
        for group, _, _ in surfaces[family].values():
            for other in FAMILIES:
                if group not in GROUP_DEFAULTS[other]:
                    fail(f"group {group} has no default in {other}")

    vc_names, sa_names = unique_names(vc), unique_names(sa)
    pairs = {}  # vc id -> (sa id, how)
    sa_by_name = {n: i for i, n in sa_names.items() if not sa[i][1]}
    for v, name in vc_names.items():
        if name in sa_by_name:
            pairs[v] = (sa_by_name[name], BY_NAME)
    for v, s in REVIEWED_PAIRS.items():
        if v not in vc or s not in sa:
            fail(f"reviewed pair {v} -> {s} names an unknown id")
        if v in pairs:
            fail(f"vc {v} is paired by name and by review")
        pairs[v] = (s, REVIEWED)
    paired_sa = [s for s, _ in pairs.values()]
    if len(set(paired_sa)) != len(paired_sa):
        fail("an sa id is in two pairs")

    forward = {}
    for v, (group, _, _) in vc.items():
        forward[v] = pairs.get(v, (GROUP_DEFAULTS[LATER][group], BY_GROUP))

    backward = {s: (v, how) for v, (s, how) in pairs.items()}
    vc_by_name = {n: i for i, n in vc_names.items()}
    for s, name in sa_names.items():
        if s not in backward and name in vc_by_name:
            backward[s] = (vc_by_name[name], BY_NAME)
    for s, v in REVIEWED_LATER_TO_EARLIER.items():
        if s not in sa or v not in vc:
            fail(f"reviewed {s} -> {v} names an unknown id")
        if s in backward:
            fail(f"sa {s} already has a counterpart")
        backward[s] = (v, REVIEWED)
    for s, (group, _, _) in sa.items():
        backward.setdefault(s, (GROUP_DEFAULTS[EARLIER][group], BY_GROUP))
    return {EARLIER: forward, LATER: dict(sorted(backward.items()))}


def cpp_string(text):
    return '"' + text + '"'


def write_inc(path, surfaces, maps):
    out = [
        "// Made by tools/make-surface-table.py from the list of both families' surfaces;",
        "// run it again rather than editing. docs/surfaces.md shows the same table.",
        "// Included by Surfaces.cpp inside its own namespace.",
        "",
    ]
    arrays = {EARLIER: "kEarlier", LATER: "kLater"}
    for family in FAMILIES:
        out.append(f"// {{id, group, procedural, name}} of the {family} family, by id.")
        out.append(f"constexpr SurfaceInfo {arrays[family]}Surfaces[] = {{")
        for id_, (group, procedural, name) in sorted(surfaces[family].items()):
            flag = "true" if procedural else "false"
            out.append(f"    {{{id_}, {cpp_string(group)}, {flag}, {cpp_string(name)}}},")
        out.append("};")
        out.append("")
    for family, other in ((EARLIER, LATER), (LATER, EARLIER)):
        out.append(f"// {{{other} id, exact}} for each {family} id, by id; not exact when")
        out.append("// the group's default was taken.")
        out.append(f"constexpr Counterpart {arrays[family]}To{arrays[other][1:]}[] = {{")
        for id_, (to, how) in maps[family].items():
            exact = "false" if how == BY_GROUP else "true"
            note = f"{surfaces[family][id_][2]} -> {surfaces[other][to][2]}"
            out.append(f"    {{{to}, {exact}}},  // {id_} {note}")
        out.append("};")
        out.append("")
    out.append("// The ids that stand for an id a family does not have: the defaults of group")
    out.append(f'// "{FALLBACK_GROUP}".')
    for family in FAMILIES:
        out.append(
            f"constexpr uint8_t {arrays[family]}Fallback = "
            f"{GROUP_DEFAULTS[family][FALLBACK_GROUP]};"
        )
    write(path, out)


def md_cell(text):
    return text.replace("|", "\\|")


def write_md(path, surfaces, maps):
    vc, sa = surfaces[EARLIER], surfaces[LATER]
    groups = sorted({g for f in FAMILIES for g, _, _ in surfaces[f].values()})
    out = [
        "# Collision surfaces of the two game families",
        "",
        "<!-- Made by tools/make-surface-table.py; run it again rather than editing. -->",
        "",
        "COL files of version 1 are read by the earlier games, whose surface ids are 0-"
        f"{max(vc)} (family `vc`); versions 2 and later by the later game, with ids 0-{max(sa)} "
        "(family `sa`). `convert` maps the surface of every face, box and sphere through "
        "this table when it changes family (`MapSurface` in `src/col/Surfaces.h`). "
        "The table is generated into `src/col/SurfaceTable.inc` by "
        "`tools/make-surface-table.py` from a tab-separated list of both families' "
        "surfaces (family, id, group, procedural, name).",
        "",
        "## How an id finds its counterpart",
        "",
        "1. **name**: the two surfaces have the same name once case and everything but "
        "letters and digits are dropped (`Gate/Bars` is `gatebars`), and the name is unique "
        "in both families. From `vc` only a plain (not procedural) `sa` surface is taken: "
        "the earlier games have no procedural surfaces.",
        "2. **reviewed**: a list in the script of names that clearly denote the same "
        "material or object (`Street` and `Tarmac`, `Wood` and `Wood (solid)`).",
        "",
        "Pairs found by 1 and 2 hold both ways: an id that has one comes back unchanged "
        "from `vc` to `sa` and back. From `sa` to `vc`, a procedural surface named like a "
        "`vc` one and a few reviewed surfaces (`Garage Door` to `Door`) also count, since "
        "several `sa` surfaces may stand for one `vc` surface.",
        "",
        "3. **group default**: anything else takes the default of its group in the other "
        "family (below); `MapSurface` then reports that the mapping is not exact. An id "
        f'the family does not have takes the default of group `{FALLBACK_GROUP}`. Within '
        "one family an id stays as it is.",
        "",
        "## Group defaults",
        "",
        "| group | vc | sa |",
        "|---|---|---|",
    ]
    for g in groups:
        cells = []
        for family in FAMILIES:
            id_ = GROUP_DEFAULTS[family][g]
            cells.append(f"{id_} {md_cell(surfaces[family][id_][2])}")
        out.append(f"| {g} | {cells[0]} | {cells[1]} |")
    out += [
        "",
        f"`{FALLBACK_GROUP}` has no surface that stands for it, so it takes each family's "
        "neutral surface 0 (`Default`); the earlier games have no gravel, which becomes "
        "their dirt.",
        "",
    ]
    for family, other in ((EARLIER, LATER), (LATER, EARLIER)):
        table = surfaces[family]
        out += [
            f"## {family} to {other}",
            "",
            f"| {family} id | group | procedural | name | {other} id | {other} name | found by |",
            "|---|---|---|---|---|---|---|",
        ]
        for id_, (to, how) in maps[family].items():
            group, procedural, name = table[id_]
            out.append(
                f"| {id_} | {group} | {'yes' if procedural else 'no'} | {md_cell(name)} "
                f"| {to} | {md_cell(surfaces[other][to][2])} | {how} |"
            )
        out.append("")
    out += [
        "## Vehicle pieces",
        "",
        "In vehicle collision the light byte of a face and the flag byte of a box say which "
        "piece it belongs to. Both families number the pieces alike (0 body, 1 bonnet, 2 boot, "
        "3 and 4 the bumpers, 5-8 the doors, 9-12 the wings) except the windscreen: 17 in "
        "`vc`, 19 in `sa`. These bytes are not surfaces and are not in the table above.",
        "",
    ]
    write(path, out)


def write(path, lines):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines).rstrip("\n") + "\n")


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    if len(sys.argv) > 2:
        fail("usage: make-surface-table.py [surfaces.tsv]")
    source = sys.argv[1] if len(sys.argv) == 2 else os.path.join(root, "..", "shared", "surfaces.tsv")
    surfaces = read_surfaces(source)
    maps = counterparts(surfaces)
    write_inc(os.path.join(root, "src", "col", "SurfaceTable.inc"), surfaces, maps)
    write_md(os.path.join(root, "docs", "surfaces.md"), surfaces, maps)


if __name__ == "__main__":
    main()
