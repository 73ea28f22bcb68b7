// How far the col command's default collision lies from the collision that
// keeps every triangle, measured here on its own terms rather than taken from
// the generator's report.
//
//   brennix_col_distance [--varied-files=N] [--varied-seed=N] [--max-error=D]
//                        [--threads=N] [--skip-large] [--markdown=FILE]
//
// For every model (the shapes of MakeCheckShapes, the benchmark models of
// every size, and the varied models of the col folder benchmark, --varied-files
// of them from --varied-seed; --skip-large leaves out the two 13 MiB models):
// the exact collision (maxError 0) and the default one (--max-error, default
// the command's), both made in this process from the model's bytes with the
// surfaces of VariedSurfaceRules, and both decoded from the ColModel
// (vertices in 1/128 units). Then the distance both ways: points on every
// face of one, no two neighbours farther apart than maxError / 4, and each
// point's distance to the nearest triangle of the other, found through a
// uniform grid; the largest of them. Prints a Markdown table, one row a model,
// a table by kind, and a totals line; --markdown writes the same to a file.
//
// Exit status 0 when every model compared lies within the bound, 1 when one
// does not or a default collision could not be made, 2 for a bad command line.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "MeshSampling.h"
#include "VariedModels.h"
#include "col/ColGenerate.h"
#include "dff/WholeModel.h"

using namespace brennix;
using namespace brennix::bench;

namespace {

// ---------------------------------------------------------------------------
// The models and their rows.

struct Subject {
    std::string name;
    std::string kind;
    std::function<std::vector<uint8_t>()> bytes;
    uint64_t weight;  // about how long it takes, to start the longest first
};

struct Row {
    const Subject* subject = nullptr;
    uint64_t triangles = 0;
    int64_t exactFaces = -1;
    int64_t defaultFaces = -1;
    double exactToDefault = 0;  // farthest point of the exact collision from the default
    double defaultToExact = 0;
    double reported = 0;  // the generator's own figure
    bool beyondBound = false;
    std::string exactWhy, defaultWhy;
    uint64_t samples = 0;
    double exactMs = 0, defaultMs = 0;  // making each collision, in a busy process
    bool Compared() const { return exactFaces >= 0 && defaultFaces >= 0; }
    double Distance() const { return std::max(exactToDefault, defaultToExact); }
};

struct Settings {
    double maxError = kDefaultMaxError;
    std::vector<SurfaceRule> surfaces;
};

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() * 1e3;
}

void Measure(const Subject& subject, const Settings& settings, Row* row) {
    row->subject = &subject;
    const std::vector<uint8_t> bytes = subject.bytes();
    WholeModel model;
    model.Parse(bytes.data(), bytes.size());
    ColRequest request;
    request.surfaces = settings.surfaces;
    request.maxError = 0;
    ColModel exact, simplified;
    ColStats exactStats, stats;
    auto start = std::chrono::steady_clock::now();
    if (GenerateCol(model, request, &exact, &row->exactWhy, nullptr, &exactStats))
        row->exactFaces = exact.faceCount;
    row->exactMs = MsSince(start);
    request.maxError = settings.maxError;
    start = std::chrono::steady_clock::now();
    const bool made = GenerateCol(model, request, &simplified, &row->defaultWhy, nullptr, &stats);
    row->defaultMs = MsSince(start);
    if (made) {
        row->defaultFaces = simplified.faceCount;
        row->reported = stats.maxDistance;
        row->beyondBound = stats.beyondBound;
    }
    row->triangles = row->exactFaces >= 0 ? exactStats.triangles : stats.triangles;
    if (row->Compared()) {
        const Mesh a = DecodeFaces(exact), b = DecodeFaces(simplified);
        const double spacing = settings.maxError / 4;
        TriangleGrid gridA(a), gridB(b);
        row->exactToDefault = LargestDistance(a, gridB, spacing, &row->samples);
        row->defaultToExact = LargestDistance(b, gridA, spacing, &row->samples);
    }
}

std::vector<Subject> Subjects(int variedFiles, uint32_t seed, bool skipLarge) {
    std::vector<Subject> subjects;
    for (const ShapeModel& shape : MakeCheckShapes()) {
        const test::ClumpSpec plan = shape.plan;
        subjects.push_back(
            {shape.name, shape.kind, [plan] { return test::BuildModel(plan); }, shape.triangles});
    }
    // The benchmark models: the col job's at every size, and the largest of all.
    for (const SizeClass& size : SizeClasses()) {
        if (skipLarge && &size == &SizeClasses().back())
            continue;
        const int32_t triangles = size.colTriangles, vertices = size.vertices;
        // Their triangles are long and thin: far more points than their count says.
        const uint64_t weight = 100 * static_cast<uint64_t>(triangles);
        subjects.push_back(
            {"bench" + std::string(size.label) +
                 (size.colTriangles != size.triangles ? "c" + std::to_string(size.colTriangles)
                                                      : std::string()),
             "bench", [=] { return LargeModelBytes(triangles, vertices); }, weight});
        if (size.colTriangles != size.triangles) {
            const int32_t all = size.triangles;
            subjects.push_back({"bench" + std::string(size.label), "bench",
                                [=] { return LargeModelBytes(all, vertices); }, weight});
        }
    }
    for (const ShapeModel& shape : MakeVariedModels(variedFiles, seed)) {
        const test::ClumpSpec plan = shape.plan;
        subjects.push_back(
            {shape.name, shape.kind, [plan] { return test::BuildModel(plan); }, shape.triangles});
    }
    return subjects;
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

bool TakeFlag(const char* argument, const char* name, std::string* value) {
    const size_t n = std::strlen(name);
    if (std::strncmp(argument, name, n) != 0 || argument[n] != '=')
        return false;
    *value = argument + n + 1;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int variedFiles = 300;
    uint32_t seed = 1;
    unsigned threads = 2;
    bool skipLarge = false;
    std::string markdown;
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        std::string value;
        if (TakeFlag(argv[i], "--varied-files", &value)) {
            variedFiles = std::atoi(value.c_str());
        } else if (TakeFlag(argv[i], "--varied-seed", &value)) {
            seed = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (TakeFlag(argv[i], "--max-error", &value)) {
            settings.maxError = std::atof(value.c_str());
        } else if (TakeFlag(argv[i], "--threads", &value)) {
            threads = static_cast<unsigned>(std::max(1, std::atoi(value.c_str())));
        } else if (TakeFlag(argv[i], "--markdown", &value)) {
            markdown = value;
        } else if (std::strcmp(argv[i], "--skip-large") == 0) {
            skipLarge = true;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--varied-files=N] [--varied-seed=N] [--max-error=D] "
                         "[--threads=N] [--skip-large] [--markdown=FILE]\n",
                         argv[0]);
            return 2;
        }
    }
    if (!(settings.maxError > 0) || variedFiles < 0) {
        std::fprintf(stderr, "--max-error must be above 0 and --varied-files at least 0\n");
        return 2;
    }
    std::string why;
    if (!ParseSurfaceRules(VariedSurfaceRules(), &settings.surfaces, &why)) {
        std::fprintf(stderr, "surface rules: %s\n", why.c_str());
        return 1;
    }

    const auto start = std::chrono::steady_clock::now();
    const std::vector<Subject> subjects = Subjects(variedFiles, seed, skipLarge);
    std::vector<Row> rows(subjects.size());
    // The largest first, so that the workers end together.
    std::vector<size_t> order(subjects.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return subjects[a].weight > subjects[b].weight; });
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next++) < order.size();)
            Measure(subjects[order[i]], settings, &rows[order[i]]);
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t)
        pool.emplace_back(work);
    work();
    for (std::thread& t : pool)
        t.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::string md = "## Distance of the default collision from the exact one\n\n";
    md +=
        "For each model the collision with every triangle kept (`--max-error 0`, *exact*) and "
        "the default one (error bound " +
        Format("%g", settings.maxError) +
        " model units), made in one process from the model's bytes and decoded from the "
        "collision faces (vertices in 1/128 units). *exact → default*: the largest distance "
        "from a point of the exact collision to the nearest triangle of the default one; "
        "*default → exact* the other way. The points lie on every face of each, neighbours at "
        "most " +
        Format("%g", settings.maxError / 4) +
        " apart, the nearest triangle found through a uniform grid: a measurement of its "
        "own, apart from the generator's. *generator*: the largest distance the generator "
        "reported for the same collision. *within*: both distances at most the bound. *ms*: "
        "making each collision, two models at a time. The "
        "models: the shapes the collision checks are about, the benchmark models (the col "
        "job's, and the largest, which `--max-error 0` cannot write), and the " +
        std::to_string(variedFiles) + " varied models of the folder benchmark (seed " +
        std::to_string(seed) + ").\n\n";
    md +=
        "| model | kind | triangles | exact faces | default faces | exact → default | default → "
        "exact | generator | within | exact ms | default ms |\n";
    md += "|---|---|---:|---:|---:|---:|---:|---:|---|---:|---:|\n";
    struct Kind {
        int models = 0, compared = 0, within = 0;
        uint64_t triangles = 0, exactFaces = 0, defaultFaces = 0;
        double largest = 0, exactMs = 0, defaultMs = 0;
    };
    std::map<std::string, Kind> kinds;
    std::vector<std::string> kindOrder;
    Kind total;
    double largestExact = 0, largestDefault = 0;
    uint64_t samples = 0;
    bool failed = false;
    for (const Row& row : rows) {
        const Subject& s = *row.subject;
        if (kinds.find(s.kind) == kinds.end())
            kindOrder.push_back(s.kind);
        Kind& k = kinds[s.kind];
        samples += row.samples;
        const std::string times =
            " | " + Format("%.1f", row.exactMs) + " | " + Format("%.1f", row.defaultMs) + " |\n";
        md += "| " + s.name + " | " + s.kind + " | " + std::to_string(row.triangles) + " | " +
              (row.exactFaces >= 0 ? std::to_string(row.exactFaces) : "not made: " + row.exactWhy) +
              " | ";
        bool within = false;
        if (row.defaultFaces < 0) {
            failed = true;
            md += "**failed: " + row.defaultWhy + "** | | | | **no**" + times;
        } else if (!row.Compared()) {
            md += std::to_string(row.defaultFaces) + " | | | " + Format("%.4f", row.reported) +
                  " | not compared" + times;
        } else {
            // The generator measures in floats: allow for their rounding.
            within = row.Distance() <= settings.maxError + 1e-6;
            failed = failed || !within;
            largestExact = std::max(largestExact, row.exactToDefault);
            largestDefault = std::max(largestDefault, row.defaultToExact);
            md += std::to_string(row.defaultFaces) + " | " + Format("%.4f", row.exactToDefault) +
                  " | " + Format("%.4f", row.defaultToExact) + " | " +
                  Format("%.4f", row.reported) + " | " +
                  (within            ? "yes"
                   : row.beyondBound ? "**no** (face limit)"
                                     : "**no**") +
                  times;
        }
        for (Kind* sum : {&k, &total}) {
            sum->models++;
            sum->triangles += row.triangles;
            sum->exactMs += row.exactMs;
            sum->defaultMs += row.defaultMs;
            if (!row.Compared())
                continue;
            sum->compared++;
            sum->within += within ? 1 : 0;
            sum->exactFaces += static_cast<uint64_t>(row.exactFaces);
            sum->defaultFaces += static_cast<uint64_t>(row.defaultFaces);
            sum->largest = std::max(sum->largest, row.Distance());
        }
    }
    auto ratio = [](double a, double b) { return b > 0 ? Format("%.3f", a / b) : "-"; };
    md +=
        "\nBy kind. *faces* and *largest distance* over the models compared; *ms*: making the "
        "collisions, every model of the kind, in this program's busy process (a guide to "
        "where the time goes, not a benchmark).\n\n";
    md +=
        "| kind | models | compared | within | triangles | exact faces | default faces | default "
        "/ exact | largest distance | exact ms | default ms | default / exact ms |\n";
    md += "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    for (const std::string& name : kindOrder) {
        const Kind& k = kinds[name];
        md += "| " + name + " | " + std::to_string(k.models) + " | " + std::to_string(k.compared) +
              " | " + std::to_string(k.within) + " | " + std::to_string(k.triangles) + " | " +
              std::to_string(k.exactFaces) + " | " + std::to_string(k.defaultFaces) + " | " +
              ratio(static_cast<double>(k.defaultFaces), static_cast<double>(k.exactFaces)) +
              " | " + Format("%.4f", k.largest) + " | " + Format("%.0f", k.exactMs) + " | " +
              Format("%.0f", k.defaultMs) + " | " + ratio(k.defaultMs, k.exactMs) + " |\n";
    }
    md += "\n**Totals: " + std::to_string(total.models) + " models, " +
          std::to_string(total.compared) + " compared, " + std::to_string(total.within) +
          " within the bound of " + Format("%g", settings.maxError) + "; " +
          std::to_string(total.exactFaces) + " exact faces, " + std::to_string(total.defaultFaces) +
          " default faces (" + ratio(total.defaultFaces, total.exactFaces) +
          "); largest exact → default " + Format("%.4f", largestExact) + ", default → exact " +
          Format("%.4f", largestDefault) + "; " + std::to_string(samples) + " points in " +
          Format("%.1f", seconds) + " s.**\n";
    std::printf("%s", md.c_str());
    if (!markdown.empty()) {
        std::FILE* file = std::fopen(markdown.c_str(), "w");
        if (file == nullptr || std::fputs(md.c_str(), file) < 0) {
            std::fprintf(stderr, "cannot write %s\n", markdown.c_str());
            return 1;
        }
        std::fclose(file);
    }
    return failed ? 1 : 0;
}
