// Registry export and import of trees of 1,000 and 10,000 string values,
// and Load of a 1 MiB configuration file.
//
// The export and the import with undo file save once per call; the
// baselines save after every value, as plain write-through does (import
// baseline only at 1,000 values: at 10,000 it takes minutes).  The scaling
// that matters is Export/10000 against Export/1000 (and the same for
// Import): linear work gives 10x, one rewrite per value about 100x.
// Load is set against reading the same lines with std::getline.
//
// Walks of one key with 1,000 and 16,000 values: the export, and the
// enumeration by index that `zv reg tree` does (values, then subkeys).
// Linear walks give 16x; finding each index from the start gave about 150x.
// The baseline enumerates with a fresh handle for every index, so that no
// handle remembers where its walk stood (1,000 values only).
//
//   config_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
//   config_bench --benchmark_filter='TreeOneKey/|ExportOneKey' --benchmark_repetitions=9
//       --benchmark_min_time=1 --benchmark_report_aggregates_only=true
//
// The registry is an in-memory one (ZV_REGISTRY=:memory:), the files live
// in a temporary directory that is the current directory for the run.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "config/config.h"
#include "config/document.h"
#include "platform/win32.h"

namespace {

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::string KeyPath(int values) { return "Software\\Bench" + std::to_string(values); }

// values string values: 10 top keys, each with values/100 keys of 10
// values, every value 24 characters.
void FillTree(int values) {
    const int keysPerTop = values / 100;
    for (int top = 0; top < 10; ++top)
        for (int key = 0; key < keysPerTop; ++key) {
            const std::u16string path = Wide(KeyPath(values) + "\\Top" + std::to_string(top) +
                                             "\\Key" + std::to_string(key));
            for (int v = 0; v < 10; ++v)
                ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, path.c_str(),
                                   Wide("Value" + std::to_string(v)).c_str(),
                                   Wide("data of value " + std::to_string(top * 1000 + key * 10 + v))
                                       .c_str());
        }
}

void Export(benchmark::State& state, bool batch) {
    const int values = int(state.range(0));
    const std::u16string path = Wide(KeyPath(values));
    const std::u16string file = Wide("export" + std::to_string(values) + ".cfg");
    for (auto _ : state) {
        if (zv::ExportRegistryTree(HKEY_LOCAL_MACHINE, path.c_str(), file.c_str(), batch) != S_OK)
            state.SkipWithError("export failed");
        state.PauseTiming();
        std::filesystem::remove(std::string(file.begin(), file.end()));
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * values);
}

void BM_Export(benchmark::State& state) { Export(state, true); }
void BM_ExportSavingEveryValue(benchmark::State& state) { Export(state, false); }
BENCHMARK(BM_Export)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportSavingEveryValue)->Arg(1000)->Unit(benchmark::kMillisecond);

// Imports the tree's own export with the undo flag: every value exists, so
// every value is read, recorded in the undo file and written again.
void Import(benchmark::State& state, bool batch) {
    const int values = int(state.range(0));
    const std::string file = "import" + std::to_string(values) + ".cfg";
    if (!std::filesystem::exists(file))
        ZVExportRegistryEntry(HKEY_LOCAL_MACHINE, Wide(KeyPath(values)).c_str(), Wide(file).c_str());
    const std::u16string name = Wide("./" + file);
    for (auto _ : state)
        if (zv::ImportRegistryFile(name.c_str(), 1, batch) != S_OK) state.SkipWithError("import failed");
    if (std::filesystem::file_size("~/" + file) < std::filesystem::file_size(file))
        state.SkipWithError("undo file incomplete");
    state.SetItemsProcessed(state.iterations() * values);
}

std::string OneKeyPath(int values) { return "Software\\OneKey" + std::to_string(values); }

void FillOneKey(int values) {
    const std::u16string path = Wide(OneKeyPath(values));
    for (int v = 0; v < values; ++v)
        ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, path.c_str(), Wide("Value" + std::to_string(v)).c_str(),
                           Wide("data of value " + std::to_string(v)).c_str());
}

void BM_ExportOneKey(benchmark::State& state) {
    const int values = int(state.range(0));
    const std::u16string path = Wide(OneKeyPath(values));
    const std::string file = "onekey" + std::to_string(values) + ".cfg";
    for (auto _ : state) {
        if (ZVExportRegistryEntry(HKEY_LOCAL_MACHINE, path.c_str(), Wide(file).c_str()) != S_OK)
            state.SkipWithError("export failed");
        state.PauseTiming();
        std::filesystem::remove(file);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * values);
}
BENCHMARK(BM_ExportOneKey)->Arg(1000)->Arg(16000)->Unit(benchmark::kMillisecond);

// Every value by index, then every subkey, as the tree view walks a key;
// freshHandles opens the key anew for each index.
void Walk(benchmark::State& state, bool freshHandles) {
    const int values = int(state.range(0));
    const std::string path = OneKeyPath(values);
    for (auto _ : state) {
        HKEY key = nullptr;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
        int found = 0;
        for (DWORD index = 0;; ++index) {
            HKEY fresh = nullptr;
            if (freshHandles) RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &fresh);
            WCHAR name[256];
            BYTE data[1024];
            DWORD nameLength = 256, type = 0, size = sizeof(data);
            LONG status = RegEnumValueW(fresh ? fresh : key, index, name, &nameLength, nullptr, &type,
                                        data, &size);
            if (fresh) RegCloseKey(fresh);
            if (status != ERROR_SUCCESS) break;
            ++found;
        }
        WCHAR name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_NO_MORE_ITEMS ||
            found != values)
            state.SkipWithError("walk failed");
        RegCloseKey(key);
    }
    state.SetItemsProcessed(state.iterations() * values);
}

void BM_TreeOneKey(benchmark::State& state) { Walk(state, false); }
void BM_TreeOneKeyFreshHandles(benchmark::State& state) { Walk(state, true); }
BENCHMARK(BM_TreeOneKey)->Arg(1000)->Arg(16000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TreeOneKeyFreshHandles)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_ImportWithUndo(benchmark::State& state) { Import(state, true); }
void BM_ImportWithUndoSavingEveryValue(benchmark::State& state) { Import(state, false); }
BENCHMARK(BM_ImportWithUndo)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportWithUndoSavingEveryValue)->Arg(1000)->Unit(benchmark::kMillisecond);

// A 1 MiB file: sections of 20 keys, key lines of about 50 characters.
const std::string& OneMebibyteFile() {
    static const std::string name = [] {
        std::ofstream out("load.cfg", std::ios::binary);
        size_t size = 0;
        for (int section = 0; size < (1u << 20); ++section) {
            std::string text = "[ZV_HKEY_CONFIG\\Software\\Load\\Section" + std::to_string(section) + "]\n";
            for (int key = 0; key < 20; ++key)
                text += "Key" + std::to_string(key) + " = value " + std::to_string(section) +
                        " of key " + std::to_string(key) + " in the file\n";
            text += "\n";
            out << text;
            size += text.size();
        }
        return std::string("load.cfg");
    }();
    return name;
}

void BM_Load1MiB(benchmark::State& state) {
    const std::u16string name = Wide(OneMebibyteFile());
    size_t sections = 0;
    for (auto _ : state) {
        zv::ConfigDocument doc;
        if (doc.Load(name.c_str()) != 0) state.SkipWithError("load failed");
        sections = doc.Sections().size();
        benchmark::DoNotOptimize(sections);
    }
    state.counters["sections"] = double(sections);
    state.SetBytesProcessed(state.iterations() * std::filesystem::file_size(OneMebibyteFile()));
}
BENCHMARK(BM_Load1MiB)->Unit(benchmark::kMillisecond);

void BM_GetlineBaseline1MiB(benchmark::State& state) {
    const std::string& name = OneMebibyteFile();
    for (auto _ : state) {
        std::ifstream in(name);
        size_t lines = 0;
        for (std::string line; std::getline(in, line);) lines += line.size() != 0;
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(state.iterations() * std::filesystem::file_size(name));
}
BENCHMARK(BM_GetlineBaseline1MiB)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("ZV_REGISTRY", ":memory:", 1);
    char directory[] = "/tmp/zvbench-config-XXXXXX";
    if (!mkdtemp(directory) || chdir(directory) != 0) return 1;
    std::filesystem::create_directory("~");
    FillTree(1000);
    FillTree(10000);
    FillOneKey(1000);
    FillOneKey(16000);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::filesystem::current_path("/");
    std::filesystem::remove_all(directory);
    return 0;
}
