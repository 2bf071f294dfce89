// ZVImportRegistryEntry: configuration files into the registry, the undo
// file, and the round trips through export and through the undo file.
#include "config/config.h"
#include "config_util.h"
#include "frame/frame.h"

using cfgtest::ReadBytes;
using cfgtest::Set;
using cfgtest::Sz;
using cfgtest::W;
using cfgtest::WriteBytes;
namespace fs = std::filesystem;

namespace {

// Each test runs in its temporary directory, which holds a directory "~":
// a file imported as "./name" has the undo name "~/name", a file there.
class Import : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::current_path(dir_.path());
        fs::create_directory("~");
    }
    void TearDown() override { fs::current_path(old_); }

    HRESULT Run(const std::string& bytes, uint16_t undo, const std::string& name = "in.cfg", bool batch = true) {
        WriteBytes(name, bytes);
        return zv::ImportRegistryFile(W("./" + name).c_str(), undo, batch);
    }
    std::string Undo(const std::string& name = "in.cfg") { return ReadBytes("~/" + name); }
    std::string Lm(const std::string& path, const char* name) { return Sz(HKEY_LOCAL_MACHINE, path, name); }

    const fs::path old_ = fs::current_path();
    zvtest::TempDir dir_;
};

const char kDemo[] = "[ZV_HKEY_CONFIG\\Software\\Demo]\ndefault=on\nPath=C:\\Demo\n";

}  // namespace

TEST_F(Import, WritesKeyLinesAsStringValuesCreatingTheirKeys) {
    WriteBytes("~/in.cfg", "left over");
    EXPECT_EQ(Run(kDemo, 0), S_OK);
    EXPECT_EQ(Lm("Software\\Demo", ""), "on");
    EXPECT_EQ(Lm("Software\\Demo", "Path"), "C:\\Demo");
    EXPECT_EQ(Undo(), "<none>");  // deleted, and no new one without the flag
    // Only "default" exactly names the unnamed value; so does the empty key.
    EXPECT_EQ(Run("; note\r\n[ZV_HKEY_CLASSES\\Zv.A]\r\nDefault = named \r\n\r\n[ZV_HKEY_CLASSES\\Zv.B]\r\n=empty\r\n", 0), S_OK);
    EXPECT_EQ(Sz(HKEY_CLASSES_ROOT, "Zv.A", "Default") + Sz(HKEY_CLASSES_ROOT, "Zv.A", ""), "named<missing>");
    EXPECT_EQ(Sz(HKEY_CLASSES_ROOT, "Zv.B", ""), "empty");

    // A byte beyond ASCII reaches the registry sign-extended on the wide path;
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG\\Software\\Hi]\nk=\xE9\n", 0), S_OK);
    ZVWCHAR data[4] = {};
    EXPECT_EQ(ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Hi", u"k", data), S_OK);
    EXPECT_EQ(data[0], 0xFFE9);  // the narrow path widens the byte the same way
}

TEST_F(Import, ASectionWithoutARootTextStopsTheImportInNoCaseOrder) {
    const std::string demo = "[ZV_HKEY_CONFIG\\Software\\Demo]\nv=1\n\n";
    EXPECT_EQ(Run("[Zzz]\nz=1\n\n" + demo + "[Alpha]\na=1\n", 0), E_FAIL);  // Alpha sorts first
    EXPECT_EQ(Lm("Software\\Demo", "v"), "<missing>");
    EXPECT_EQ(Run("[Zzz]\nz=1\n\n" + demo, 0), E_FAIL);
    EXPECT_EQ(Lm("Software\\Demo", "v"), "1");
    // A section without keys is never tested; the test is case-sensitive;
    // the root text alone names the root.
    EXPECT_EQ(Run("[Alpha]\n\n[ZV_HKEY_CONFIG\\Software\\Demo]\nv=2\n", 0), S_OK);
    EXPECT_EQ(Run("[zv_hkey_config\\Software\\Demo]\nv=3\n", 0), E_FAIL);
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG]\nv=4\n", 0), E_FAIL);
    EXPECT_EQ(Lm("Software\\Demo", "v"), "2");
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG\\]\nrootValue=r\n", 0), S_OK);
    EXPECT_EQ(Lm("", "rootValue"), "r");
    // A format error: what was read before it is imported.
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG\\Software\\A]\na=1\n\n[ZV_HKEY_CONFIG\\Software\\B]\nb=1\n"
                  "[ZV_HKEY_CONFIG\\Software\\C]\nc=1\n\n[ZV_HKEY_CONFIG\\Software\\D]\nd=1\n",
                  0),
              S_OK);
    EXPECT_EQ(Lm("Software\\A", "a"), "1");
    EXPECT_EQ(Lm("Software\\B", "b") + Lm("Software\\C", "c") + Lm("Software\\D", "d"), "<missing><missing><missing>");
}

TEST_F(Import, RefusedFilesTouchNothingButTheUndoFile) {
    WriteBytes("~/gone.cfg", "[old]\n");
    EXPECT_EQ(ZVImportRegistryEntry(u"./gone.cfg", 1), E_FAIL);
    EXPECT_EQ(Undo("gone.cfg"), "<none>");
    fs::create_directory("adir");
    EXPECT_EQ(ZVImportRegistryEntry(u"./adir", 0), E_FAIL);

    // Refused before anything is touched: no name, an empty one, one over
    // 509 characters (its undo name would not fit), and one that begins
    // with "~" with the undo flag (it is its own undo name).
    WriteBytes("~/x", "keep");
    EXPECT_EQ(ZVImportRegistryEntry(nullptr, 0), E_FAIL);
    EXPECT_EQ(ZVImportRegistryEntry(u"", 1), E_FAIL);
    std::string name = ".";
    while (name.size() < 480) fs::create_directory(name += "/" + std::string(60, 'd'));
    const std::string name509 = name + "/" + std::string(508 - name.size(), 'f');
    fs::create_directories(fs::path("~" + name509.substr(1)).parent_path());
    WriteBytes("~" + name509.substr(1) + "f", "keep");
    WriteBytes(name509, kDemo);
    WriteBytes(name509 + "f", "[ZV_HKEY_CONFIG\\Software\\Long]\nv=1\n");
    WriteBytes("~own.cfg", kDemo);
    EXPECT_EQ(ZVImportRegistryEntry(W(name509 + "f").c_str(), 0), E_FAIL);
    EXPECT_EQ(ZVImportRegistryEntry(u"~own.cfg", 1), E_FAIL);
    EXPECT_EQ(ReadBytes("~/x") + ReadBytes("~" + name509.substr(1) + "f") + ReadBytes("~own.cfg"), "keepkeep" + std::string(kDemo));
    EXPECT_EQ(Lm("Software\\Demo", "Path") + Lm("Software\\Long", "v"), "<missing><missing>");

    EXPECT_EQ(ZVImportRegistryEntry(W(name509).c_str(), 0), S_OK);
    EXPECT_EQ(ZVImportRegistryEntry(u"~own.cfg", 0), S_OK);  // without the flag: imported, not deleted
    EXPECT_EQ(ReadBytes("~own.cfg"), kDemo);
    EXPECT_EQ(Lm("Software\\Demo", "Path"), "C:\\Demo");
}

// The undo file holds the values that were overwritten and could be read,
// written once at the end (as a save after every record would have left
// it); importing it puts them back.
TEST_F(Import, TheUndoFileRecordsOverwrittenValuesAndPutsThemBack) {
    const size_t readable = zv::g_wideCalls ? 126 : 254;  // what the old value's read holds
    std::string text;
    for (int s = 0; s < 4; ++s) {
        text += "[ZV_HKEY_CONFIG\\Software\\U\\S" + std::to_string(s) + "]\n";
        for (int k = 0; k < 3; ++k) text += "k" + std::to_string(k) + "=new\n";
        text += "\n";
    }
    for (bool batch : {true, false}) {
        ZVDeleteRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\U");
        for (int s = 0; s < 4; ++s)
            for (int k = 0; k < 3; ++k)
                if ((s + k) % 3) Set(HKEY_LOCAL_MACHINE, "Software\\U\\S" + std::to_string(s), ("k" + std::to_string(k)).c_str(), std::string(s == 3 ? readable + k - 1 : k, 'o'));
        WriteBytes("~/in.cfg", "stale");
        EXPECT_EQ(Run(text, 1, "in.cfg", batch), S_OK);
        EXPECT_EQ(Undo(), "[ZV_HKEY_CONFIG\\Software\\U\\S0]\nk1=o\nk2=oo\n\n[ZV_HKEY_CONFIG\\Software\\U\\S1]\nk0=\nk1=o\n\n"
                          "[ZV_HKEY_CONFIG\\Software\\U\\S2]\nk0=\nk2=oo\n\n[ZV_HKEY_CONFIG\\Software\\U\\S3]\nk1=" + std::string(readable, 'o') + "\n\n");
    }
    EXPECT_EQ(ZVImportRegistryEntry(u"./~/in.cfg", 0), S_OK);
    for (int s = 0; s < 3; ++s)
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(Lm("Software\\U\\S" + std::to_string(s), ("k" + std::to_string(k)).c_str()), (s + k) % 3 ? std::string(k, 'o') : "new");

    // Nothing overwritten: an empty undo file.  One that cannot be created
    // (a full path: "~tmp/..." does not exist) leaves the import alone.
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG\\Software\\Fresh]\nk=v\n", 1, "fresh.cfg"), S_OK);
    EXPECT_EQ(Undo("fresh.cfg"), "");
    EXPECT_EQ(ZVImportRegistryEntry(W(dir_.file("fresh.cfg")).c_str(), 1), S_OK);
    EXPECT_EQ(cfgtest::FileCount(dir_.path()), 3);
}

// Stopped by a section without a root text, the undo file holds the records
// made up to then, and there is none when nothing was recorded.
TEST_F(Import, AFailedImportKeepsTheRecordsMadeUpToThen) {
    // In no-case order: ZV_HKEY_CLASSES\..., ZV_HKEY_CONFIG-bad ("-" is
    // below "\"), ZV_HKEY_CONFIG\...
    const std::string text = "[ZV_HKEY_CONFIG\\Software\\Z]\nz=newZ\n\n[ZV_HKEY_CONFIG-bad]\nb=1\n\n[ZV_HKEY_CLASSES\\Zv.A]\na=newA\n";
    for (bool batch : {true, false}) {
        ASSERT_TRUE(Set(HKEY_CLASSES_ROOT, "Zv.A", "a", "oldA"));
        ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\Z", "z", "oldZ"));
        WriteBytes("~/in.cfg", "stale");
        WriteBytes("~/bad.cfg", "stale");
        EXPECT_EQ(Run(text, 1, "in.cfg", batch), E_FAIL);
        EXPECT_EQ(Undo(), "[ZV_HKEY_CLASSES\\Zv.A]\na=oldA\n\n");
        EXPECT_EQ(Sz(HKEY_CLASSES_ROOT, "Zv.A", "a") + Lm("Software\\Z", "z"), "newAoldZ");
        EXPECT_EQ(Run("[Bad]\nb=1\n\n" + text, 1, "bad.cfg", batch), E_FAIL);
        EXPECT_EQ(Undo("bad.cfg"), "<none>");
    }
    EXPECT_EQ(Run(text, 0), E_FAIL);
    EXPECT_EQ(Undo(), "<none>");
}

// Section names, keys and values of 255 characters are carried; longer ones
// are passed over.
TEST_F(Import, TextsLongerThanTwoHundredFiftyFiveCharactersArePassedOver) {
    const std::string v255(255, 'v'), k255(255, 'k'), path255 = "Software\\" + std::string(231, 'p');
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG\\Software\\T]\nv=" + v255 + "\nw=" + v255 + "w\n" + k255 + "=1\n" + k255 +
                      "k=2\nlast=3\n\n[ZV_HKEY_CONFIG\\" + path255 + "]\nin=1\n\n[ZV_HKEY_CONFIG\\" + path255 + "x]\nout=1\n",
                  1),
              S_OK);
    EXPECT_EQ(Lm("Software\\T", "v"), v255);
    EXPECT_EQ(Lm("Software\\T", k255.c_str()), "1");
    EXPECT_EQ(Lm("Software\\T", "w") + Lm("Software\\T", (k255 + "k").c_str()), "<missing><missing>");
    EXPECT_EQ(Lm("Software\\T", "last") + Lm(path255, "in"), "31");
    EXPECT_EQ(Lm(path255 + "x", "out"), "<missing>");
}

// What the export carries, the import writes back: string values of both
// roots, the unnamed ones included; other types are not recreated.
TEST_F(Import, ExportThenImportRoundTripsEveryStringValue) {
    const struct {
        HKEY root;
        std::string path, name, data;
    } entries[] = {
        {HKEY_LOCAL_MACHINE, "Software\\Round\\Key 1\\Sub", "", "unnamed"},
        {HKEY_LOCAL_MACHINE, "Software\\Round\\Key 1\\Sub", "#hash;semi:colon", "a=b [c] ;d #e"},
        {HKEY_LOCAL_MACHINE, "Software\\Round\\Key 1", "with space", std::string(255, 'l')},
        {HKEY_LOCAL_MACHINE, "Software\\Round", "top", ""},
        {HKEY_CLASSES_ROOT, "Zv.Round\\CLSID", "", "{12345678-1234-1234-1234-123456789ABC}"},
    };
    for (const auto& e : entries) ASSERT_TRUE(Set(e.root, e.path, e.name.c_str(), e.data));
    ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\Round", "dw", std::string("\7\0\0\0", 4), REG_DWORD));
    ASSERT_EQ(ZVExportRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Round", u"lm.cfg"), S_OK);
    ASSERT_EQ(ZVExportRegistryEntry(HKEY_CLASSES_ROOT, u"Zv.Round", u"cr.cfg"), S_OK);
    ASSERT_EQ(ZVDeleteRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Round"), S_OK);
    ASSERT_EQ(ZVDeleteRegistryEntry(HKEY_CLASSES_ROOT, u"Zv.Round"), S_OK);
    EXPECT_EQ(ZVImportRegistryEntry(u"lm.cfg", 0) + ZVImportRegistryEntry(u"cr.cfg", 0), S_OK);
    for (const auto& e : entries) EXPECT_EQ(Sz(e.root, e.path, e.name.c_str()), e.data) << e.path << "|" << e.name;
    EXPECT_EQ(Lm("Software\\Round", "dw"), "<missing>");
}
