// Registry entries against the floor of their store: a point SELECT and an
// upsert with prepared statements on a database of the same kind (SQLite,
// WAL journal, synchronous=FULL, in the same directory), side by side in
// one run; and a tree of 1,000 keys made and deleted.  Prints the ratios
// of the medians at the end.
//
//   bench/registry_bench --benchmark_repetitions=5
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "zv.h"

namespace {

std::string g_directory;
sqlite3* g_floor = nullptr;
sqlite3_stmt* g_select = nullptr;
sqlite3_stmt* g_upsert = nullptr;
sqlite3_stmt* g_insert = nullptr;
sqlite3_stmt* g_delete = nullptr;

void Check(int rc, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        fprintf(stderr, "%s: %s\n", what, sqlite3_errstr(rc));
        exit(1);
    }
}

void OpenFloor() {
    std::string path = g_directory + "/floor.db";
    Check(sqlite3_open(path.c_str(), &g_floor), "open floor");
    Check(sqlite3_exec(g_floor,
                       "PRAGMA journal_mode = WAL; PRAGMA synchronous = FULL;"
                       "CREATE TABLE kv(path TEXT, name TEXT, data BLOB, PRIMARY KEY(path, name))"
                       " WITHOUT ROWID;"
                       "INSERT INTO kv VALUES('Software\\ZvBench\\Config', 'Value', 'value-0')",
                       nullptr, nullptr, nullptr),
          "set up floor");
    Check(sqlite3_prepare_v2(g_floor, "SELECT data FROM kv WHERE path = ?1 AND name = ?2", -1,
                             &g_select, nullptr),
          "prepare select");
    Check(sqlite3_prepare_v2(g_floor,
                             "INSERT INTO kv VALUES(?1, ?2, ?3)"
                             " ON CONFLICT(path, name) DO UPDATE SET data = excluded.data",
                             -1, &g_upsert, nullptr),
          "prepare upsert");
    Check(sqlite3_prepare_v2(g_floor, "INSERT INTO kv VALUES(?1, 'v', 'x')", -1, &g_insert,
                             nullptr),
          "prepare insert");
    Check(sqlite3_prepare_v2(g_floor, "DELETE FROM kv WHERE path = ?1", -1, &g_delete, nullptr),
          "prepare delete");
}

const char kPath[] = "Software\\ZvBench\\Config";

void FloorPointSelect(benchmark::State& state) {
    char buffer[256];
    for (auto _ : state) {
        sqlite3_bind_text(g_select, 1, kPath, -1, SQLITE_STATIC);
        sqlite3_bind_text(g_select, 2, "Value", -1, SQLITE_STATIC);
        if (sqlite3_step(g_select) != SQLITE_ROW) state.SkipWithError("select");
        int size = sqlite3_column_bytes(g_select, 0);
        memcpy(buffer, sqlite3_column_blob(g_select, 0), size_t(size));
        sqlite3_reset(g_select);
        benchmark::DoNotOptimize(buffer);
    }
}

void GetRegistryEntry(benchmark::State& state) {
    ZVWCHAR buffer[256];
    for (auto _ : state) {
        if (ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\ZvBench\\Config", u"Value",
                               buffer) != S_OK)
            state.SkipWithError("ZVGetRegistryEntry");
        benchmark::DoNotOptimize(buffer);
    }
}

// The data changes on every write: SQLite skips the write of a row whose
// bytes stay the same.
void FloorUpsert(benchmark::State& state) {
    long counter = 0;
    char data[32];
    for (auto _ : state) {
        int length = snprintf(data, sizeof(data), "value-%ld", ++counter);
        sqlite3_bind_text(g_upsert, 1, kPath, -1, SQLITE_STATIC);
        sqlite3_bind_text(g_upsert, 2, "Value", -1, SQLITE_STATIC);
        sqlite3_bind_blob(g_upsert, 3, data, length, SQLITE_STATIC);
        if (sqlite3_step(g_upsert) != SQLITE_DONE) state.SkipWithError("upsert");
        sqlite3_reset(g_upsert);
    }
}

void AddRegistryEntry(benchmark::State& state) {
    long counter = 0;
    char narrow[32];
    ZVWCHAR data[32];
    for (auto _ : state) {
        snprintf(narrow, sizeof(narrow), "value-%ld", ++counter);
        ZVFromAnsi(data, narrow);
        if (ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\ZvBench\\Config", u"Value", data) !=
            S_OK)
            state.SkipWithError("ZVAddRegistryEntry");
    }
}

// Ten keys, ten below each, ten below those: 1,110 keys under the top, the
// 1,000 leaves each with a value, then the whole tree deleted.
void TreeOf1000Keys(benchmark::State& state) {
    ZVWCHAR path[128];
    char narrow[128];
    for (auto _ : state) {
        for (int a = 0; a < 10; ++a)
            for (int b = 0; b < 10; ++b)
                for (int c = 0; c < 10; ++c) {
                    snprintf(narrow, sizeof(narrow), "Software\\ZvTree\\A%d\\B%d\\C%d", a, b, c);
                    ZVFromAnsi(path, narrow);
                    if (ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, path, u"v", u"x") != S_OK)
                        state.SkipWithError("ZVAddRegistryEntry");
                }
        if (ZVDeleteRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\ZvTree") != S_OK)
            state.SkipWithError("ZVDeleteRegistryEntry");
    }
}

// The same number of single-row commits on the floor: one insert per key
// made (1,110) and one delete per key removed.
void FloorTreeOf1000Rows(benchmark::State& state) {
    char path[128];
    for (auto _ : state) {
        for (int i = 0; i < 1110; ++i) {
            snprintf(path, sizeof(path), "Software\\ZvTree\\%d", i);
            sqlite3_bind_text(g_insert, 1, path, -1, SQLITE_TRANSIENT);
            if (sqlite3_step(g_insert) != SQLITE_DONE) state.SkipWithError("insert");
            sqlite3_reset(g_insert);
        }
        for (int i = 0; i < 1110; ++i) {
            snprintf(path, sizeof(path), "Software\\ZvTree\\%d", i);
            sqlite3_bind_text(g_delete, 1, path, -1, SQLITE_TRANSIENT);
            if (sqlite3_step(g_delete) != SQLITE_DONE) state.SkipWithError("delete");
            sqlite3_reset(g_delete);
        }
    }
}

BENCHMARK(FloorPointSelect);
BENCHMARK(GetRegistryEntry);
BENCHMARK(FloorUpsert)->MinTime(1.0);
BENCHMARK(AddRegistryEntry)->MinTime(1.0);
BENCHMARK(FloorTreeOf1000Rows)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(TreeOf1000Keys)->Iterations(1)->Unit(benchmark::kMillisecond);

// Keeps the medians for the summary.
class MedianReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            std::pair<double, double> times(run.GetAdjustedRealTime(), run.GetAdjustedCPUTime());
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.function_name] = times;
            else if (run.run_type == Run::RT_Iteration)
                singles[run.run_name.function_name] = times;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // Real and CPU time: the median when repeated, else the one run.
    std::pair<double, double> Get(const std::string& name) const {
        auto it = medians.find(name);
        if (it != medians.end()) return it->second;
        it = singles.find(name);
        return it != singles.end() ? it->second : std::pair<double, double>(0, 0);
    }
    std::map<std::string, std::pair<double, double>> medians, singles;
};

}  // namespace

int main(int argc, char** argv) {
    std::string pattern = (std::filesystem::temp_directory_path() / "zvbench-XXXXXX").string();
    if (!mkdtemp(&pattern[0])) return 1;
    g_directory = pattern;
    // Before the library's first registry call.
    setenv("ZV_REGISTRY", (g_directory + "/registry.db").c_str(), 1);
    OpenFloor();
    if (ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\ZvBench\\Config", u"Value",
                           u"value-0") != S_OK)
        return 1;

    benchmark::Initialize(&argc, argv);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* ours, const char* floor) {
        std::pair<double, double> a = reporter.Get(ours), b = reporter.Get(floor);
        if (a.first > 0 && b.first > 0 && b.second > 0)
            printf("%-20s / %-20s  real %.2f  cpu %.2f\n", ours, floor, a.first / b.first,
                   a.second / b.second);
    };
    printf("\nratios (medians when repeated):\n");
    ratio("GetRegistryEntry", "FloorPointSelect");
    ratio("AddRegistryEntry", "FloorUpsert");
    ratio("TreeOf1000Keys", "FloorTreeOf1000Rows");

    sqlite3_finalize(g_select);
    sqlite3_finalize(g_upsert);
    sqlite3_finalize(g_insert);
    sqlite3_finalize(g_delete);
    sqlite3_close(g_floor);
    std::error_code ignored;
    std::filesystem::remove_all(g_directory, ignored);
    benchmark::Shutdown();
    return 0;
}
