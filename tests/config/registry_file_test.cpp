// Configuration files and the registry: ZVImportRegistryEntry with its undo
// file, and ZVExportRegistryEntry.
#if !defined(_WIN32)
#include <signal.h>
#include <sqlite3.h>
#include <sys/mount.h>
#endif

#include <algorithm>
#include <thread>

#include "child.h"
#include "config/config.h"
#include "config_util.h"
#include "frame/frame.h"
#if !defined(_WIN32)
#include "platform/posix/registry_store.h"
#endif

using namespace cfgtest;
namespace fs = std::filesystem;

namespace {

// Each test runs in its temporary directory, which holds a directory "~":
// a file imported as "./name" has the undo name "~/name", a file there.
//
// Its registry keys are its own, since Windows' registry is shared by the
// tests running at once and outlives them: in key paths and in the texts of
// files, "{M}" stands for Software\ZvCfg\<suite.test> (under
// HKEY_LOCAL_MACHINE, and HKEY_CURRENT_USER) and "{C}" for
// !ZvCfg\<suite.test> (under HKEY_CLASSES_ROOT, where "!" puts it first, so
// that keys that other tests add or remove there while the whole root is
// exported cannot move it past the enumeration).  They are removed before
// and after the test, with the one value it may put at HKEY_LOCAL_MACHINE
// itself, named <suite.test>.
class RegistryFile : public ::testing::Test {
  protected:
    RegistryFile() {
        fs::current_path(dir_.path());
        fs::create_directory("~");
        RemoveKeys();
    }
    ~RegistryFile() override {
        RemoveKeys();
        fs::current_path(old_);
    }

    static std::string Id() {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        return std::string(test->test_suite_name()) + "." + test->name();
    }
    // The text with the test's keys in place of "{M}" and "{C}".
    static std::string X(std::string text) {
        for (const auto& token : {std::make_pair("{M}", "Software\\ZvCfg\\" + Id()), std::make_pair("{C}", "!ZvCfg\\" + Id())})
            for (size_t at = 0; (at = text.find(token.first, at)) != std::string::npos; at += token.second.size())
                text.replace(at, 3, token.second);
        return text;
    }
    // What a file the library wrote holds for a text with "{M}" and "{C}".
    static std::string OnDiskX(const std::string& text) { return OnDisk(X(text)); }
    static void RemoveKeys() {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            ZVDeleteRegistryEntry(root, W(X("{M}")).c_str());
            if (!zvtest::Family9x()) RegDeleteKeyA(root, "Software\\ZvCfg");  // refused while other tests have keys there
        }
        ZVDeleteRegistryEntry(HKEY_CLASSES_ROOT, W(X("{C}")).c_str());
        if (!zvtest::Family9x()) RegDeleteKeyA(HKEY_CLASSES_ROOT, "!ZvCfg");
#if defined(_WIN32)  // the POSIX layer's registry is the test process's own
        RegDeleteValueA(HKEY_LOCAL_MACHINE, Id().c_str());
#endif
    }

    HRESULT Run(const std::string& bytes, uint16_t undo, const std::string& name = "in.cfg", bool batch = true) {
        WriteBytes(name, X(bytes));
        return zv::ImportRegistryFile(SystemText(W("./" + name).c_str()), undo, batch);
    }
    std::string Undo(const std::string& name = "in.cfg") { return ReadBytes("~/" + name); }
    std::string Lm(const std::string& path, const char* name) { return Sz(HKEY_LOCAL_MACHINE, X(path), name); }
    std::string Cr(const std::string& path, const char* name) { return Sz(HKEY_CLASSES_ROOT, X(path), name); }

    // Exports root\path to a new file of the temporary directory; the file's
    // bytes are then in text_.
    HRESULT ExportTo(HKEY root, const std::string& path, const std::string& name) {
        HRESULT result = ZVExportRegistryEntry(root, W(X(path)).c_str(), W(dir_.file(name)).c_str());
        text_ = ReadBytes(dir_.file(name));
        return result;
    }

    // Stores string values (or others) under HKEY_LOCAL_MACHINE\{M}.
    struct Value {
        std::string path, name, data;
        DWORD type = REG_SZ;
    };
    static void SetAll(const std::vector<Value>& values) {
        for (const Value& v : values) ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, X("{M}\\" + v.path), v.name.c_str(), v.data, v.type));
    }

    const fs::path old_ = fs::current_path();
    zvtest::TempDir dir_;
    std::string text_;
};
using Import = RegistryFile;
using Export = RegistryFile;

#if !defined(_WIN32)
// A registry file of its own for a test, on a memory file system if there
// is one (so that rounds of writes are not all waiting for the disk), used
// by this process and its children and removed however the test ends.
struct OwnRegistry {
    explicit OwnRegistry(const std::string& name)
        : path((fs::exists("/dev/shm") ? "/dev/shm/" : fs::temp_directory_path().string() + "/") + name +
               std::to_string(getpid()) + ".db") {
        setenv("ZV_REGISTRY", path.c_str(), 1);
        zvp::reg::ReopenForTesting();
    }
    ~OwnRegistry() {
        setenv("ZV_REGISTRY", ":memory:", 1);
        zvp::reg::ReopenForTesting();
        for (const char* end : {"", "-wal", "-shm", "-gen"}) unlink((path + end).c_str());
    }
    const std::string path;
};
#endif

const char kDemo[] = "[ZV_HKEY_CONFIG\\{M}\\Demo]\ndefault=on\nPath=C:\\Demo\n";

}  // namespace

TEST_F(Import, WritesKeyLinesAsStringValuesCreatingTheirKeys) {
    WriteBytes("~/in.cfg", "left over");
    EXPECT_EQ(Run(kDemo, 0), S_OK);
    EXPECT_EQ(Lm("{M}\\Demo", "") + Lm("{M}\\Demo", "Path"), "onC:\\Demo");
    EXPECT_EQ(Undo(), "<none>");  // deleted, and no new one without the flag
    // Only "default" exactly names the unnamed value; so does the empty key.
    EXPECT_EQ(Run("; note\r\n[ZV_HKEY_CLASSES\\{C}\\Zv.A]\r\nDefault = named \r\n\r\n[ZV_HKEY_CLASSES\\{C}\\Zv.B]\r\n=empty\r\n", 0), S_OK);
    EXPECT_EQ(Cr("{C}\\Zv.A", "Default") + Cr("{C}\\Zv.A", ""), "named<missing>");
    EXPECT_EQ(Cr("{C}\\Zv.B", ""), "empty");

}

TEST_F(Import, ASectionWithoutARootTextStopsTheImportInNoCaseOrder) {
    const std::string demo = "[ZV_HKEY_CONFIG\\{M}\\Demo]\nv=1\n\n";
    EXPECT_EQ(Run("[Zzz]\nz=1\n\n" + demo + "[Alpha]\na=1\n", 0), E_FAIL);  // Alpha sorts first
    EXPECT_EQ(Lm("{M}\\Demo", "v"), "<missing>");
    EXPECT_EQ(Run("[Zzz]\nz=1\n\n" + demo, 0), E_FAIL);
    EXPECT_EQ(Lm("{M}\\Demo", "v"), "1");
    // A section without keys is never tested; the test is case-sensitive;
    // the root text alone names the root.
    EXPECT_EQ(Run("[Alpha]\n\n[ZV_HKEY_CONFIG\\{M}\\Demo]\nv=2\n", 0), S_OK);
    EXPECT_EQ(Run("[zv_hkey_config\\{M}\\Demo]\nv=3\n", 0), E_FAIL);
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG]\nv=4\n", 0), E_FAIL);
    EXPECT_EQ(Lm("{M}\\Demo", "v"), "2");
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG\\]\n" + Id() + "=r\n", 0), S_OK);
    EXPECT_EQ(Lm("", Id().c_str()), "r");
    // A format error: what was read before it is imported.
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG\\{M}\\A]\na=1\n\n[ZV_HKEY_CONFIG\\{M}\\B\nb=1\n", 0), S_OK);
    EXPECT_EQ(Lm("{M}\\A", "a") + Lm("{M}\\B", "b"), "1<missing>");
}

TEST_F(Import, RefusedFilesTouchNothingButTheUndoFile) {
    WriteBytes("~/gone.cfg", "[old]\n");
    EXPECT_EQ(ZVImportRegistryEntry(u"./gone.cfg", 1), E_FAIL);
    EXPECT_EQ(Undo("gone.cfg"), "<none>");
    EXPECT_EQ(ZVImportRegistryEntry(u"./~", 0), E_FAIL);  // a directory

    // Refused before anything is touched: no name, an empty one, one over
    // 509 characters (its undo name would not fit), and one that begins
    // with "~" with the undo flag (it is its own undo name).
    WriteBytes("~/x", "keep");
    EXPECT_EQ(ZVImportRegistryEntry(nullptr, 0), E_FAIL);
    EXPECT_EQ(ZVImportRegistryEntry(u"", 1), E_FAIL);
#if !defined(_WIN32)  // the library opens files by their narrow names, which stop at 260 characters on Windows
    std::string name = ".";
    while (name.size() < 480) fs::create_directory(name += "/" + std::string(60, 'd'));
    const std::string name509 = name + "/" + std::string(508 - name.size(), 'f');
    fs::create_directories(fs::path("~" + name509.substr(1)).parent_path());
    WriteBytes("~" + name509.substr(1) + "f", "keep");
    WriteBytes(name509, X(kDemo));
    WriteBytes(name509 + "f", X("[ZV_HKEY_CONFIG\\{M}\\Long]\nv=1\n"));
#endif
    WriteBytes("~own.cfg", X(kDemo));
#if !defined(_WIN32)
    EXPECT_EQ(ZVImportRegistryEntry(W(name509 + "f").c_str(), 0), E_FAIL);
    EXPECT_EQ(ReadBytes("~" + name509.substr(1) + "f") + Lm("{M}\\Long", "v"), "keep<missing>");
#endif
    EXPECT_EQ(ZVImportRegistryEntry(u"~own.cfg", 1), E_FAIL);
    EXPECT_EQ(ReadBytes("~/x") + ReadBytes("~own.cfg"), "keep" + X(kDemo));
    EXPECT_EQ(Lm("{M}\\Demo", "Path"), "<missing>");

#if !defined(_WIN32)
    EXPECT_EQ(ZVImportRegistryEntry(W(name509).c_str(), 0), S_OK);
#endif
    EXPECT_EQ(ZVImportRegistryEntry(u"~own.cfg", 0), S_OK);  // without the flag: imported, not deleted
    EXPECT_EQ(ReadBytes("~own.cfg"), X(kDemo));
    EXPECT_EQ(Lm("{M}\\Demo", "Path"), "C:\\Demo");
}

// The undo file holds the values that were overwritten and could be read,
// written once at the end (as a save after every record would have left
// it); importing it puts them back.
TEST_F(Import, TheUndoFileRecordsOverwrittenValuesAndPutsThemBack) {
    const size_t readable = zv::g_wideCalls ? 126 : 254;  // what the old value's read holds
    std::string text;
    for (int s = 0; s < 4; ++s) text += "[ZV_HKEY_CONFIG\\{M}\\U\\S" + std::to_string(s) + "]\nk0=new\nk1=new\nk2=new\n\n";
    for (bool batch : {true, false}) {
        ZVDeleteRegistryEntry(HKEY_LOCAL_MACHINE, W(X("{M}\\U")).c_str());
        for (int s = 0; s < 4; ++s)
            for (int k = 0; k < 3; ++k)
                if ((s + k) % 3) Set(HKEY_LOCAL_MACHINE, X("{M}\\U\\S" + std::to_string(s)), ("k" + std::to_string(k)).c_str(), std::string(s == 3 ? readable + k - 1 : k, 'o'));
        WriteBytes("~/in.cfg", "stale");
        EXPECT_EQ(Run(text, 1, "in.cfg", batch), S_OK);
        EXPECT_EQ(Undo(), OnDiskX("[ZV_HKEY_CONFIG\\{M}\\U\\S0]\nk1=o\nk2=oo\n\n[ZV_HKEY_CONFIG\\{M}\\U\\S1]\nk0=\nk1=o\n\n"
                                  "[ZV_HKEY_CONFIG\\{M}\\U\\S2]\nk0=\nk2=oo\n\n[ZV_HKEY_CONFIG\\{M}\\U\\S3]\nk1=" + std::string(readable, 'o') + "\n\n"));
    }
    EXPECT_EQ(ZVImportRegistryEntry(u"./~/in.cfg", 0), S_OK);
    for (int s = 0; s < 3; ++s)
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(Lm("{M}\\U\\S" + std::to_string(s), ("k" + std::to_string(k)).c_str()), (s + k) % 3 ? std::string(k, 'o') : "new");

    // Nothing overwritten: an empty undo file.  One that cannot be created
    // (a full path: "~tmp/..." does not exist, nor the drive "~:" of
    // Windows) leaves the import alone.
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG\\{M}\\Fresh]\nk=v\n", 1, "fresh.cfg"), S_OK);
    EXPECT_EQ(Undo("fresh.cfg"), "");
    EXPECT_EQ(ZVImportRegistryEntry(W(dir_.file("fresh.cfg")).c_str(), 1), S_OK);
    EXPECT_EQ(FileCount(dir_.path()), 3);
}

// Stopped by a section without a root text, the undo file holds the records
// made up to then, and there is none when nothing was recorded.
TEST_F(Import, AFailedImportKeepsTheRecordsMadeUpToThen) {
    // In no-case order: ZV_HKEY_CLASSES\..., ZV_HKEY_CONFIG-bad ("-" is
    // below "\"), ZV_HKEY_CONFIG\...
    const std::string text = "[ZV_HKEY_CONFIG\\{M}\\Z]\nz=newZ\n\n[ZV_HKEY_CONFIG-bad]\nb=1\n\n[ZV_HKEY_CLASSES\\{C}\\Zv.A]\na=newA\n";
    for (bool batch : {true, false}) {
        ASSERT_TRUE(Set(HKEY_CLASSES_ROOT, X("{C}\\Zv.A"), "a", "oldA"));
        ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, X("{M}\\Z"), "z", "oldZ"));
        WriteBytes("~/in.cfg", "stale");
        WriteBytes("~/bad.cfg", "stale");
        EXPECT_EQ(Run(text, 1, "in.cfg", batch), E_FAIL);
        EXPECT_EQ(Undo(), OnDiskX("[ZV_HKEY_CLASSES\\{C}\\Zv.A]\na=oldA\n\n"));
        EXPECT_EQ(Cr("{C}\\Zv.A", "a") + Lm("{M}\\Z", "z"), "newAoldZ");
        EXPECT_EQ(Run("[Bad]\nb=1\n\n" + text, 1, "bad.cfg", batch), E_FAIL);
        EXPECT_EQ(Undo("bad.cfg"), "<none>");
    }
}

// Section names, keys and values of 255 characters are carried; longer ones
// are passed over.
TEST_F(Import, TextsLongerThanTwoHundredFiftyFiveCharactersArePassedOver) {
    // path255 makes a section name of 255 characters with "ZV_HKEY_CONFIG\".
    const std::string v255(255, 'v'), k255(255, 'k'), path255 = X("{M}\\") + std::string(240 - X("{M}\\").size(), 'p');
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG\\{M}\\T]\nv=" + v255 + "\nw=" + v255 + "w\n" + k255 + "=1\n" + k255 +
                      "k=2\nlast=3\n\n[ZV_HKEY_CONFIG\\" + path255 + "]\nin=1\n\n[ZV_HKEY_CONFIG\\" + path255 + "x]\nout=1\n",
                  1),
              S_OK);
    EXPECT_EQ(Lm("{M}\\T", "v"), v255);
    EXPECT_EQ(Lm("{M}\\T", k255.c_str()), "1");
    EXPECT_EQ(Lm("{M}\\T", "w") + Lm("{M}\\T", (k255 + "k").c_str()), "<missing><missing>");
    EXPECT_EQ(Lm("{M}\\T", "last") + Lm(path255, "in"), "31");
    EXPECT_EQ(Lm(path255 + "x", "out"), "<missing>");
}

TEST_F(Export, StringValuesBecomeKeyLinesOfTheirKeysSection) {
    ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, X("{M}\\T"), "", "x"));
    EXPECT_EQ(ExportTo(HKEY_LOCAL_MACHINE, "{M}\\T", "one.cfg"), S_OK);
    EXPECT_EQ(text_, OnDiskX("[ZV_HKEY_CONFIG\\{M}\\T]\ndefault=x\n\n"));
    // A value named Default meets the unnamed one; the later enumerated wins.
    // Other types are left out; names come in no-case order, bytes beyond
    // ASCII as they are.  Keys without string values give no section but are walked.
    SetAll({{"T", "Default", "named"}, {"T", "b", "2"}, {"T", "A", "1"}, {"T", "_u", ""}, {"T", "caf\xE9", "a=b \xFF"},
            {"T", "c", std::string("\3\0\0\0", 4), REG_DWORD}, {"T", "e", std::string("%x%\0", 4), REG_EXPAND_SZ},
            {"T", "m", std::string("a\0b\0\0", 5), REG_MULTI_SZ}, {"T\\Dw", "d", std::string("\1\0\0\0", 4), REG_DWORD},
            {"T\\Dw\\Deep", "w", "3"}});
    EXPECT_EQ(ExportTo(HKEY_LOCAL_MACHINE, "{M}\\T", "all.cfg"), S_OK);
    EXPECT_EQ(text_, OnDiskX("[ZV_HKEY_CONFIG\\{M}\\T]\n_u=\nA=1\nb=2\ncaf\xE9=a=b \xFF\ndefault=named\n\n"
                             "[ZV_HKEY_CONFIG\\{M}\\T\\Dw\\Deep]\nw=3\n\n"));
    // A tree without string values still makes a file, an empty one.
    ASSERT_TRUE(Set(HKEY_CLASSES_ROOT, X("{C}\\Zv.Demo\\Empty"), "d", std::string("\1\0\0\0", 4), REG_DWORD));
    EXPECT_EQ(ExportTo(HKEY_CLASSES_ROOT, "{C}\\Zv.Demo\\Empty", "empty.cfg"), S_OK);
    EXPECT_EQ(text_, "");
    ASSERT_TRUE(Set(HKEY_CLASSES_ROOT, X("{C}\\Zv.Demo\\CLSID"), "", "{0}"));
    EXPECT_EQ(ExportTo(HKEY_CLASSES_ROOT, "{C}\\Zv.Demo", "classes.cfg"), S_OK);
    EXPECT_EQ(text_, OnDiskX("[ZV_HKEY_CLASSES\\{C}\\Zv.Demo\\CLSID]\ndefault={0}\n\n"));
    // The whole of HKEY_CLASSES_ROOT: its subkeys are opened as "\\Name", which
    // that key accepts, so every one is written, and the file imports again.
    ASSERT_TRUE(Set(HKEY_CLASSES_ROOT, X("{C}\\.zv"), "", "Zv.Demo"));
    EXPECT_EQ(ExportTo(HKEY_CLASSES_ROOT, "", "root.cfg"), S_OK);
    const std::string ours = X("[ZV_HKEY_CLASSES\\\\{C}\\.zv]\ndefault=Zv.Demo\n\n"
                               "[ZV_HKEY_CLASSES\\\\{C}\\Zv.Demo\\CLSID]\ndefault={0}\n\n");
#if defined(_WIN32)
    // Windows' own classes are there too: ours are two sections among them,
    // and they alone are imported again (not the machine's whole classes).
    EXPECT_NE(text_.find(OnDisk(ours)), std::string::npos);
    WriteBytes(dir_.file("root.cfg"), ours);
#else
    EXPECT_EQ(text_, ours);
#endif
    ASSERT_EQ(ZVDeleteRegistryEntry(HKEY_CLASSES_ROOT, W(X("{C}\\.zv")).c_str()), S_OK);
    EXPECT_EQ(ZVImportRegistryEntry(W(dir_.file("root.cfg")).c_str(), 0), S_OK);
    // Wine opens a path of HKEY_CLASSES_ROOT that begins with one backslash
    // but makes no key of it (ERROR_BAD_PATHNAME), so there these lines make
    // nothing.  The POSIX layer takes that backslash for making keys as for
    // opening them (Windows opens "\\CLSID" there); Windows' own answer for
    // making them is left to a run on Windows itself.
    if (!zvtest::UnderWine()) {
        EXPECT_EQ(Cr("{C}\\.zv", ""), "Zv.Demo");
    }
}

TEST_F(Export, FailuresLeaveTheFileSystemAsItWas) {
    ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, X("{M}\\T"), "v", "1"));
    ASSERT_TRUE(Set(HKEY_CURRENT_USER, X("{M}\\T"), "v", "1"));
    const struct {
        HKEY root;
        std::string path, name, before;
        HRESULT result;
    } cases[] = {
        {HKEY_LOCAL_MACHINE, "{M}\\T", "exists.cfg", "keep\r\nme", E_FAIL},
        {HKEY_LOCAL_MACHINE, "{M}\\T", "empty.cfg", "", E_FAIL},
        {HKEY_LOCAL_MACHINE, "{M}\\Missing", "missing.cfg", "<none>", E_FAIL},
        {HKEY_CURRENT_USER, "{M}\\T", "user.cfg", "<none>", E_INVALIDARG},  // no root text
        {HKEY_CURRENT_USER, "{M}\\Missing", "user.cfg", "<none>", E_FAIL},
        {HKEY_LOCAL_MACHINE, "{M}\\T", std::string(511 - dir_.path().size() - 1, 'n'), "<none>", E_FAIL},
    };
    for (const auto& t : cases) {
        if (t.before != "<none>") WriteBytes(dir_.file(t.name), t.before);
        EXPECT_EQ(ExportTo(t.root, t.path, t.name), t.result) << t.name;
        EXPECT_EQ(text_, t.before) << t.name;
    }
    EXPECT_EQ(ZVExportRegistryEntry(HKEY_LOCAL_MACHINE, nullptr, W(dir_.file("n.cfg")).c_str()), E_INVALIDARG);
    EXPECT_EQ(ZVExportRegistryEntry(HKEY_LOCAL_MACHINE, W(X("{M}\\T")).c_str(), nullptr), E_INVALIDARG);
    // A directory in the file's place counts as missing and cannot be written.
    EXPECT_EQ(ZVExportRegistryEntry(HKEY_LOCAL_MACHINE, W(X("{M}\\T")).c_str(), W(dir_.path()).c_str()), S_OK);
    EXPECT_EQ(FileCount(dir_.path()), 3);  // and "~"
}

// A name or data too large for the enumeration's buffers ends its key's
// values; its subkeys are walked all the same.
TEST_F(Export, CapacitiesEndTheEnumerationOfTheirKey) {
    const std::string name254(254, 'n'), data255(255, 'd');
    // "z" comes last both in the order values were made (POSIX, Windows) and
    // in name order (Wine).
    SetAll({{"N", "a", "1"}, {"N", name254, "2"}, {"N", name254 + "o", "3"}, {"N", "z", "4"},
            {"N\\D", "a", data255}, {"N\\D", "b", data255 + "e"}, {"N\\D", "c", "3"}, {"N\\E", "a", "1"},
            {"N\\E", "big", std::string(600, 'b'), REG_BINARY}, {"N\\E", "c", "3"}, {"N\\E\\Sub", "s", "4"}});
    EXPECT_EQ(ExportTo(HKEY_LOCAL_MACHINE, "{M}\\N", "n.cfg"), S_OK);
    const std::string root = X("[ZV_HKEY_CONFIG\\{M}\\N");
    EXPECT_EQ(text_, OnDisk(root + "]\na=1\n" + name254 + "=2\n\n" + root + "\\D]\na=" + data255 + "\n\n" + root +
                            "\\E]\na=1\n\n" + root + "\\E\\Sub]\ns=4\n\n"));
}

// Saving once at the end writes what saving after every value would have,
// and importing the file puts the values back.
TEST_F(Export, BatchedAndWriteThroughExportsWriteTheSameFile) {
    for (int v = 0; v < 30; ++v) SetAll({{"B\\K" + std::to_string(v % 6), "v" + std::to_string(v), "x"}});
    SetAll({{"B", "", "top"}});
    for (bool batch : {true, false})
        EXPECT_EQ(zv::ExportRegistryTree(HKEY_LOCAL_MACHINE, SystemText(W(X("{M}\\B")).c_str()),
                                         SystemText(W(dir_.file(batch ? "b" : "w")).c_str()), batch),
                  S_OK);
    const std::string text = ReadBytes(dir_.file("b"));
    EXPECT_EQ(text, ReadBytes(dir_.file("w")));
    EXPECT_EQ(std::count(text.begin(), text.end(), '['), 7);  // sections
    ASSERT_EQ(ZVDeleteRegistryEntry(HKEY_LOCAL_MACHINE, W(X("{M}\\B")).c_str()), S_OK);
    EXPECT_EQ(ZVImportRegistryEntry(W(dir_.file("b")).c_str(), 0), S_OK);
    EXPECT_EQ(Lm("{M}\\B", "") + Lm("{M}\\B\\K5", "v29"), "topx");
}

// Lines that reach one registry value (the empty key and "default", a key
// under both roots) are recorded each as the value stood just before its
// own write, also when they fall into one batch of the undo file's saves.
TEST_F(Import, EachRecordIsTheValueJustBeforeItsOwnWrite) {
    ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, X("{M}\\P"), "", "orig"));
    ASSERT_TRUE(Set(HKEY_CLASSES_ROOT, X("{C}\\Zv.X"), "k", "origK"));
    // Batches of 1, 2, 4 lines: each pair meets in one.
    EXPECT_EQ(Run("[ZV_HKEY_CLASSES\\{C}\\Zv.A]\na=1\n\n[ZV_HKEY_CLASSES\\{C}\\Zv.X]\nk=viaClasses\n\n"
                  "[ZV_HKEY_CONFIG\\Software\\Classes\\{C}\\Zv.X\\]\nK=viaConfig\n\n[ZV_HKEY_CONFIG\\{M}\\P]\n=empty\ndefault=named\n",
                  1),
              S_OK);
    EXPECT_EQ(Undo(), OnDiskX("[ZV_HKEY_CLASSES\\{C}\\Zv.X]\nk=origK\n\n[ZV_HKEY_CONFIG\\Software\\Classes\\{C}\\Zv.X\\]\nK=viaClasses\n\n"
                              "[ZV_HKEY_CONFIG\\{M}\\P]\n=orig\ndefault=empty\n\n"));
    EXPECT_EQ(Lm("{M}\\P", "") + Cr("{C}\\Zv.X", "k"), "namedviaConfig");
}

#if defined(_WIN32)
// The importing child of AKilledImportLeavesEveryOverwrittenValueInTheUndoFile
// (in the test's directory, which it inherits as its current one): says when
// it begins (with its wide-call switch, which must be the parent's), then
// imports ./in.cfg with its undo file.
ZVTEST_CHILD_ROLE(KilledImporter) {
    (void)argument;
    zvtest::Report(reportFd, "importing " + std::to_string(zv::g_wideCalls));
    return zv::ImportRegistryFile(SystemText(u"./in.cfg"), 1, true) == S_OK ? 0 : 1;
}
#endif

// An import killed at any moment has every value it overwrote in the undo
// file (saved before the write), on either family.
TEST_F(Import, AKilledImportLeavesEveryOverwrittenValueInTheUndoFile) {
#if !defined(_WIN32)
    const OwnRegistry registry("zvtest-undo-");  // shared with the importing child
#endif
    const int kValues = 600;
    auto where = [](int i) { return X("{M}\\K" + std::to_string(i % 6)); };
    auto name = [](int i) { return "v" + std::to_string(i); };
    for (int i = 0; i < kValues; ++i) ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, where(i), name(i).c_str(), "start"));
    // Round 0 runs to the end and times a whole import (fork included); the
    // others are killed at points spread over that time.
    int partial = 0;
    std::chrono::microseconds whole(0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int round = 0; round < 25 && (partial < 4 || round < 9) && std::chrono::steady_clock::now() < deadline; ++round) {
        std::vector<std::string> before(kValues);
        std::string text;
        for (int i = 0; i < kValues; ++i) before[i] = Lm(where(i), name(i).c_str());
        for (int k = 0; k < 6; ++k) {
            text += "[ZV_HKEY_CONFIG\\{M}\\K" + std::to_string(k) + "]\n";
            for (int i = k; i < kValues; i += 6) text += name(i) + "=r" + std::to_string(round) + "\n";
            text += "\n";
        }
        WriteBytes("in.cfg", X(text));
#if defined(_WIN32)
        // On Windows the child is this program started again, and the time
        // runs from its word that it begins (a process starts slowly there);
        // TerminateProcess kills it.
        zvtest::Child child("KilledImporter");
        std::string line;
        ASSERT_TRUE(child.ReadLine(&line, 30000));
        ASSERT_EQ(line, "importing " + std::to_string(zv::g_wideCalls));
        const auto started = std::chrono::steady_clock::now();
        if (round > 0) {
            std::this_thread::sleep_for(whole * (round % 8 * 2 + 1) / 16);
            child.Kill(9);
        }
        EXPECT_GE(child.Wait(60000), 0);
#else
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) _exit(zv::ImportRegistryFile(u"./in.cfg", 1, true) == S_OK ? 0 : 1);
        const auto started = std::chrono::steady_clock::now();
        if (round > 0) {
            std::this_thread::sleep_for(whole * (round % 8 * 2 + 1) / 16);
            kill(child, SIGKILL);
        }
        waitpid(child, nullptr, 0);
#endif
        if (round == 0) whole = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);

        Document undo;
        undo.Load(u"./~/in.cfg");
        int overwritten = 0;
        for (int i = 0; i < kValues; ++i) {
            if (Lm(where(i), name(i).c_str()) != "r" + std::to_string(round)) continue;
            ++overwritten;
            ZVWCHAR recorded[64] = {};
            ASSERT_EQ(undo.GetValue(W("ZV_HKEY_CONFIG\\" + where(i)).c_str(), W(name(i)).c_str(), recorded), 0) << i;
            ASSERT_EQ(zvtest::N(recorded), before[i]) << i;
        }
        partial += overwritten > 0 && overwritten < kValues;
        printf("round %d: %d of %d values overwritten\n", round, overwritten, kValues);
    }
    EXPECT_GE(partial, 1) << "no kill landed inside an import";
}

#if defined(_WIN32)
// An undo file that cannot be saved stops the import before it overwrites a
// value whose old text is not on disk.  On Windows the old undo file is held
// open by a handle that does not share deletion: the import cannot delete
// it, and no new text can take its place.
TEST_F(Import, AnUndoFileThatCannotBeSavedStopsTheImport) {
    WriteBytes("~/in.cfg", "[Kept]\nk=1\n");
    HANDLE holder = CreateFileA("~/in.cfg", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    for (const char* name : {"a", "b", "c"}) ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, X("{M}\\Full"), name, "old"));
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG\\{M}\\Full]\na=new\nb=new\nc=new\n", 1), E_FAIL);
    EXPECT_EQ(Lm("{M}\\Full", "a") + Lm("{M}\\Full", "b") + Lm("{M}\\Full", "c"), "oldoldold");
    EXPECT_EQ(FileCount("~"), 1);  // no temporary file left
    EXPECT_EQ(Undo(), "[Kept]\nk=1\n");
    // Once the handle is gone, the same import goes through.
    CloseHandle(holder);
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG\\{M}\\Full]\na=new\nb=new\nc=new\n", 1), S_OK);
    EXPECT_EQ(Undo(), OnDiskX("[ZV_HKEY_CONFIG\\{M}\\Full]\na=old\nb=old\nc=old\n\n"));
    EXPECT_EQ(Lm("{M}\\Full", "a") + Lm("{M}\\Full", "b") + Lm("{M}\\Full", "c"), "newnewnew");
}
#endif

#if !defined(_WIN32)  // the POSIX layer's registry file, and mount: see docs/windows.md
// A registry file written before keys were limited to 512 levels may hold a
// much deeper tree: the export walks it and the delete removes it (both
// families) without recursion, so without running out of stack.
TEST_F(Export, TreesDeeperThanTheStackAreWalkedAndDeleted) {
    const OwnRegistry registry("zvtest-deep-");
    ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\Deep", "top", "1"));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(registry.path.c_str(), &db), SQLITE_OK);
    // 10,000 levels "k" below Software\Deep, a value at level 100.
    const char* sql =
        "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 10000)"
        " INSERT INTO keys(id, parent, fold, name, flags) SELECT 1000000 + n,"
        " CASE n WHEN 1 THEN (SELECT id FROM keys WHERE name = 'Deep') ELSE 999999 + n END, x'004B', 'k', 0 FROM c;"
        "INSERT INTO vals(key, fold, name, seq, type, data) VALUES (1000100, x'0056', 'v', 1, 1, x'62000000');";
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
    std::string level100 = "Software\\Deep";
    for (int i = 0; i < 100; ++i) level100 += "\\k";
    EXPECT_EQ(ExportTo(HKEY_LOCAL_MACHINE, "Software\\Deep", "deep.cfg"), S_OK);
    EXPECT_EQ(text_, "[ZV_HKEY_CONFIG\\Software\\Deep]\ntop=1\n\n[ZV_HKEY_CONFIG\\" + level100 + "]\nv=b\n\n");
    EXPECT_EQ(ZVDeleteRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Deep"), S_OK);
    EXPECT_EQ(Lm("Software\\Deep", "top"), "<missing>");
}

// An undo file that cannot be saved (a full disk) stops the import before
// it overwrites a value whose old text is not on disk.
TEST_F(Import, AnUndoFileThatCannotBeSavedStopsTheImport) {
    if (geteuid() != 0 || mount("zvtest", "~", "tmpfs", 0, "size=8k,nr_inodes=8") != 0)
        GTEST_SKIP() << "a full file system needs root (mount)";
    WriteBytes("~/filler", std::string(8192, 'f'));
    for (const char* name : {"a", "b", "c"}) ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\Full", name, "old"));
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG\\Software\\Full]\na=new\nb=new\nc=new\n", 1), E_FAIL);
    EXPECT_EQ(Lm("Software\\Full", "a") + Lm("Software\\Full", "b") + Lm("Software\\Full", "c"), "oldoldold");
    EXPECT_EQ(FileCount("~"), 1);  // no undo file, no temporary file
    // With room again, the same import goes through.
    unlink("~/filler");
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG\\Software\\Full]\na=new\nb=new\nc=new\n", 1), S_OK);
    EXPECT_EQ(Undo(), "[ZV_HKEY_CONFIG\\Software\\Full]\na=old\nb=old\nc=old\n\n");
    umount("~");
}
#endif  // !_WIN32
