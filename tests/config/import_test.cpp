// ZVImportRegistryEntry: configuration files into the registry, the undo
// file, and the round trips through export and through the undo file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "config/config.h"
#include "config_util.h"
#include "frame/frame.h"

using cfgtest::FileExists;
using cfgtest::ReadBytes;
using cfgtest::SetSz;
using cfgtest::Sz;
using cfgtest::W;
using cfgtest::WriteBytes;

namespace {

class Import : public ::testing::Test {
  protected:
    void SetUp() override { cfgtest::UsePrivateRegistry(); }

    // Imports a file of the given bytes named name in the temporary
    // directory (reached through a relative "./" path, so that its undo
    // name, "~/name", is a file of the directory "~" beside it).
    HRESULT Run(const std::string& bytes, uint16_t undo, const std::string& name = "in.cfg") {
        WriteBytes(dir_.file(name), bytes);
        return ZVImportRegistryEntry(W(Relative(name)).c_str(), undo);
    }

    // "./name" from the temporary directory, the current one for the test.
    std::string Relative(const std::string& name) { return "./" + name; }
    std::string UndoFile(const std::string& name = "in.cfg") { return dir_.file("~/" + name); }

    void SetUpDirectory() {
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path());
        std::filesystem::create_directory(dir_.file("~"));
    }
    void TearDown() override {
        if (!old_.empty()) std::filesystem::current_path(old_);
    }

    zvtest::TempDir dir_;
    std::filesystem::path old_;
};

const char kDemo[] = "[ZV_HKEY_CONFIG\\Software\\Demo]\ndefault=on\nPath=C:\\Demo\n";

}  // namespace

TEST_F(Import, WritesKeysAsStringValuesCreatingTheKey) {
    SetUpDirectory();
    EXPECT_FALSE(cfgtest::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Demo"));
    EXPECT_EQ(Run(kDemo, 0), S_OK);
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\Demo", ""), "on");
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\Demo", "Path"), "C:\\Demo");
    cfgtest::RegValue value;
    ASSERT_TRUE(cfgtest::Query(HKEY_LOCAL_MACHINE, "Software\\Demo", "Path", &value));
    EXPECT_EQ(value.type, DWORD(REG_SZ));
    EXPECT_FALSE(FileExists(UndoFile()));

    // Only "default" exactly names the unnamed value; Default is a name of
    // its own; the empty key is the unnamed value too.
    EXPECT_EQ(Run("[ZV_HKEY_CLASSES\\Zv.Demo]\nDefault=named\n\n[ZV_HKEY_CLASSES\\Zv.Other]\n=empty\n", 0),
              S_OK);
    EXPECT_EQ(Sz(HKEY_CLASSES_ROOT, "Zv.Demo", "Default"), "named");
    EXPECT_EQ(Sz(HKEY_CLASSES_ROOT, "Zv.Demo", ""), "<missing>");
    EXPECT_EQ(Sz(HKEY_CLASSES_ROOT, "Zv.Other", ""), "empty");
    // HKEY_CLASSES_ROOT is the machine's Software\Classes.
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\Classes\\Zv.Other", ""), "empty");

    // Hand-written files with comments and Windows line ends.
    EXPECT_EQ(Run("; note\r\n[ZV_HKEY_CONFIG\\Software\\Demo]\r\nPath = D:\\x \r\n\r\n", 0), S_OK);
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\Demo", "Path"), "D:\\x");
}

TEST_F(Import, SectionsWithoutARootTextStopTheImportInNoCaseOrder) {
    SetUpDirectory();
    const std::string demo = "[ZV_HKEY_CONFIG\\Software\\Demo]\nv=1\n\n";
    // Alpha sorts first: nothing is written.
    EXPECT_EQ(Run("[Zzz]\nz=1\n\n" + demo + "[Alpha]\na=1\n", 0), E_FAIL);
    EXPECT_FALSE(cfgtest::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Demo"));
    // Without it the Demo value is written, then Zzz stops the import.
    EXPECT_EQ(Run("[Zzz]\nz=1\n\n" + demo, 0), E_FAIL);
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\Demo", "v"), "1");

    // A section without keys is never tested, whatever its name.
    EXPECT_EQ(Run("[Alpha]\n\n[ZV_HKEY_CONFIG\\Software\\Demo]\nv=2\n", 0), S_OK);
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\Demo", "v"), "2");

    // The test is case-sensitive and "ZV_HKEY_CONFIG\" comes first; the
    // root text alone names the root itself.
    EXPECT_EQ(Run("[zv_hkey_config\\Software\\Demo]\nv=3\n", 0), E_FAIL);
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\Demo", "v"), "2");
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG\\]\nrootValue=r\n", 0), S_OK);
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "", "rootValue"), "r");
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG]\nv=1\n", 0), E_FAIL);
}

TEST_F(Import, FormatErrorsImportWhatWasReadBefore) {
    SetUpDirectory();
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG\\Software\\A]\na=1\n\n"
                  "[ZV_HKEY_CONFIG\\Software\\B]\nb=1\n"
                  "[ZV_HKEY_CONFIG\\Software\\C]\nc=1\n\n"
                  "[ZV_HKEY_CONFIG\\Software\\D]\nd=1\n",
                  0),
              S_OK);
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\A", "a"), "1");
    EXPECT_FALSE(cfgtest::KeyExists(HKEY_LOCAL_MACHINE, "Software\\B"));
    EXPECT_FALSE(cfgtest::KeyExists(HKEY_LOCAL_MACHINE, "Software\\C"));
    EXPECT_FALSE(cfgtest::KeyExists(HKEY_LOCAL_MACHINE, "Software\\D"));
}

TEST_F(Import, AMissingFileFailsAndStillDeletesTheUndoFile) {
    SetUpDirectory();
    WriteBytes(UndoFile("gone.cfg"), "[old]\n");
    EXPECT_EQ(ZVImportRegistryEntry(W(Relative("gone.cfg")).c_str(), 1), E_FAIL);
    EXPECT_FALSE(FileExists(UndoFile("gone.cfg")));
    std::vector<std::string> all;
    cfgtest::Walk(HKEY_LOCAL_MACHINE, "Software", &all);
    EXPECT_TRUE(all.empty());

    // A directory is no importable file.
    std::filesystem::create_directory(dir_.file("adir"));
    EXPECT_EQ(ZVImportRegistryEntry(W(Relative("adir")).c_str(), 0), E_FAIL);
    // Names that are refused before anything is touched.
    WriteBytes(UndoFile("x"), "keep");
    EXPECT_EQ(ZVImportRegistryEntry(nullptr, 0), E_FAIL);
    EXPECT_EQ(ZVImportRegistryEntry(u"", 1), E_FAIL);
    EXPECT_TRUE(FileExists(UndoFile("x")));
}

TEST_F(Import, WithoutTheUndoFlagALeftOverUndoFileIsDeleted) {
    SetUpDirectory();
    WriteBytes(UndoFile(), "[ZV_HKEY_CONFIG\\Software\\Demo]\nPath=stale\n\n");
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\Demo", "Path", "C:\\Old"));
    EXPECT_EQ(Run(kDemo, 0), S_OK);
    EXPECT_FALSE(FileExists(UndoFile()));
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\Demo", "Path"), "C:\\Demo");
}

TEST_F(Import, TheUndoFileRecordsOverwrittenValuesAndPutsThemBack) {
    SetUpDirectory();
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\Demo", "Path", "C:\\Old"));
    WriteBytes(UndoFile(), "stale");
    EXPECT_EQ(Run(kDemo, 1), S_OK);
    EXPECT_EQ(ReadBytes(UndoFile()), "[ZV_HKEY_CONFIG\\Software\\Demo]\nPath=C:\\Old\n\n");
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\Demo", ""), "on");
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\Demo", "Path"), "C:\\Demo");

    // The undo file is imported through a name that does not begin with
    // "~": Path comes back, the unnamed value (new) stays.
    EXPECT_EQ(ZVImportRegistryEntry(W("./~/in.cfg").c_str(), 0), S_OK);
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\Demo", "Path"), "C:\\Old");
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\Demo", ""), "on");

    // Nothing overwritten: an empty undo file.
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG\\Software\\Fresh]\nk=v\n", 1, "fresh.cfg"), S_OK);
    EXPECT_TRUE(FileExists(UndoFile("fresh.cfg")));
    EXPECT_EQ(ReadBytes(UndoFile("fresh.cfg")), "");
}

TEST_F(Import, AnUndoNameThatCannotBeCreatedLeavesTheImportAlone) {
    // A full path: its undo name "~tmp/..." lies in a directory that does
    // not exist (the test runs in an empty directory).
    SetUpDirectory();
    std::filesystem::remove(dir_.file("~"));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\Demo", "Path", "C:\\Old"));
    WriteBytes(dir_.file("full.cfg"), kDemo);
    EXPECT_EQ(ZVImportRegistryEntry(W(dir_.file("full.cfg")).c_str(), 1), S_OK);
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\Demo", "Path"), "C:\\Demo");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(Import, AFailedImportKeepsTheRecordsMadeUpToThen) {
    SetUpDirectory();
    // In NoCaseLess order: ZV_HKEY_CLASSES\..., then ZV_HKEY_CONFIG-bad
    // ("-" is below "\\"), then ZV_HKEY_CONFIG\...
    const std::string text =
        "[ZV_HKEY_CONFIG\\Software\\Z]\nz=newZ\n\n[ZV_HKEY_CONFIG-bad]\nb=1\n\n"
        "[ZV_HKEY_CLASSES\\Zv.A]\na=newA\n";
    for (bool batch : {true, false}) {
        ASSERT_TRUE(SetSz(HKEY_CLASSES_ROOT, "Zv.A", "a", "oldA"));
        ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\Z", "z", "oldZ"));
        WriteBytes(UndoFile(), "stale");
        WriteBytes(dir_.file("in.cfg"), text);
        EXPECT_EQ(zv::ImportRegistryFile(W(Relative("in.cfg")).c_str(), 1, batch), E_FAIL);
        EXPECT_EQ(ReadBytes(UndoFile()), "[ZV_HKEY_CLASSES\\Zv.A]\na=oldA\n\n");
        EXPECT_EQ(Sz(HKEY_CLASSES_ROOT, "Zv.A", "a"), "newA");
        EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\Z", "z"), "oldZ");
    }
    // Stopped before any record: no undo file at all, batched or not.
    for (bool batch : {true, false}) {
        WriteBytes(UndoFile("bad.cfg"), "stale");
        WriteBytes(dir_.file("bad.cfg"), "[Bad]\nb=1\n\n" + text);
        EXPECT_EQ(zv::ImportRegistryFile(W(Relative("bad.cfg")).c_str(), 1, batch), E_FAIL);
        EXPECT_FALSE(FileExists(UndoFile("bad.cfg")));
    }
    // Records that stop at a failure with the flag 0: no undo file.
    EXPECT_EQ(zv::ImportRegistryFile(W(Relative("in.cfg")).c_str(), 0, true), E_FAIL);
    EXPECT_FALSE(FileExists(UndoFile()));
}

TEST_F(Import, OldValuesThatCannotBeReadAreNotRecorded) {
    SetUpDirectory();
    // The read holds 126 characters on the wide path and 254 on the narrow
    // one; a value beyond that is overwritten without a record.
    const size_t readable = zv::g_wideCalls ? 126 : 254;
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\R", "fits", std::string(readable, 'f')));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\R", "long", std::string(readable + 1, 'l')));
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG\\Software\\R]\nfits=1\nlong=2\nmissing=3\n", 1), S_OK);
    EXPECT_EQ(ReadBytes(UndoFile()),
              "[ZV_HKEY_CONFIG\\Software\\R]\nfits=" + std::string(readable, 'f') + "\n\n");
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\R", "long"), "2");
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\R", "missing"), "3");
}

TEST_F(Import, TextsLongerThanTwoHundredFiftyFiveCharactersArePassedOver) {
    SetUpDirectory();
    const std::string v255(255, 'v'), k255(255, 'k');
    std::string section = "ZV_HKEY_CONFIG\\Software\\";
    const std::string path255 = "Software\\" + std::string(255 - section.size(), 'p');
    section = "ZV_HKEY_CONFIG\\" + path255;
    ASSERT_EQ(section.size(), 255u);
    EXPECT_EQ(Run("[ZV_HKEY_CONFIG\\Software\\T]\n"
                  "v=" + v255 + "\nw=" + v255 + "w\n" + k255 + "=1\n" + k255 + "k=2\nlast=3\n\n"
                  "[" + section + "]\nin=1\n\n[" + section + "x]\nout=1\n",
                  1),
              S_OK);
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\T", "v"), v255);
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\T", "w"), "<missing>");
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\T", k255.c_str()), "1");
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\T", (k255 + "k").c_str()), "<missing>");
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\T", "last"), "3");
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, path255, "in"), "1");
    EXPECT_FALSE(cfgtest::KeyExists(HKEY_LOCAL_MACHINE, path255 + "x"));
}

TEST_F(Import, FileNamesBeginningWithTildeAreNeverDeletedByTheirImport) {
    SetUpDirectory();
    WriteBytes(dir_.file("~own.cfg"), kDemo);
    // With the undo flag the import refuses, touching nothing.
    EXPECT_EQ(ZVImportRegistryEntry(W("~own.cfg").c_str(), 1), E_FAIL);
    EXPECT_EQ(ReadBytes(dir_.file("~own.cfg")), kDemo);
    EXPECT_FALSE(cfgtest::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Demo"));
    // Without it, it imports and the file stays.
    EXPECT_EQ(ZVImportRegistryEntry(W("~own.cfg").c_str(), 0), S_OK);
    EXPECT_EQ(ReadBytes(dir_.file("~own.cfg")), kDemo);
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\Demo", "Path"), "C:\\Demo");
}

TEST_F(Import, FileNamesOverFiveHundredNineCharactersAreRefused) {
    SetUpDirectory();
    // Nested directories keep each component short.
    std::string name = ".";
    while (name.size() < 480) {
        name += "/" + std::string(60, 'd');
        std::filesystem::create_directory(name);
    }
    const std::string stem = name + "/";
    const std::string name509 = stem + std::string(509 - stem.size(), 'f');
    const std::string name510 = name509 + "f";
    ASSERT_EQ(name509.size(), 509u);
    WriteBytes(name509, kDemo);
    WriteBytes(name510, "[ZV_HKEY_CONFIG\\Software\\Long]\nv=1\n");
    // The undo name of the 510-character name ("~/ddd...") is not deleted.
    std::string undo510 = "~" + name510.substr(1);
    std::filesystem::create_directories(std::filesystem::path(undo510).parent_path());
    WriteBytes(undo510, "keep");
    EXPECT_EQ(ZVImportRegistryEntry(W(name510).c_str(), 0), E_FAIL);
    EXPECT_EQ(ReadBytes(undo510), "keep");
    EXPECT_FALSE(cfgtest::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Long"));
    EXPECT_EQ(ZVImportRegistryEntry(W(name509).c_str(), 0), S_OK);
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\Demo", "Path"), "C:\\Demo");
}

TEST_F(Import, BatchedAndWriteThroughUndoFilesAreTheSame) {
    SetUpDirectory();
    std::string text;
    auto setOldValues = [&] {
        ZVDeleteRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\U");
        for (int s = 0; s < 8; ++s)
            for (int k = 0; k < 6; ++k) {
                const std::string name = "k" + std::to_string(k);
                if ((s + k) % 3)
                    SetSz(HKEY_LOCAL_MACHINE, "Software\\U\\S" + std::to_string(s), name.c_str(),
                          "old" + name);
            }
    };
    for (int s = 0; s < 8; ++s) {
        text += "[ZV_HKEY_CONFIG\\Software\\U\\S" + std::to_string(s) + "]\n";
        for (int k = 0; k < 6; ++k) text += "k" + std::to_string(k) + "=new\n";
        text += "\n";
    }
    WriteBytes(dir_.file("a.cfg"), text);
    setOldValues();
    std::vector<std::string> before;
    cfgtest::Walk(HKEY_LOCAL_MACHINE, "Software\\U", &before);
    ASSERT_EQ(before.size(), 32u);
    EXPECT_EQ(zv::ImportRegistryFile(W(Relative("a.cfg")).c_str(), 1, true), S_OK);
    const std::string batched = ReadBytes(UndoFile("a.cfg"));
    EXPECT_NE(batched.find("[ZV_HKEY_CONFIG\\Software\\U\\S1]\nk0=oldk0\nk1=oldk1\nk3=oldk3\nk4=oldk4\n\n"),
              std::string::npos);

    // Importing the undo file puts every old value back; the values that
    // were new stay.
    EXPECT_EQ(ZVImportRegistryEntry(W("./~/a.cfg").c_str(), 0), S_OK);
    std::vector<std::string> restored;
    cfgtest::Walk(HKEY_LOCAL_MACHINE, "Software\\U", &restored);
    std::vector<std::string> oldOnly;
    for (const std::string& line : restored)
        if (line.find("|new") == std::string::npos) oldOnly.push_back(line);
    EXPECT_EQ(oldOnly, before);
    EXPECT_EQ(restored.size(), 48u);

    setOldValues();
    EXPECT_EQ(zv::ImportRegistryFile(W(Relative("a.cfg")).c_str(), 1, false), S_OK);
    EXPECT_EQ(ReadBytes(UndoFile("a.cfg")), batched);
}

TEST_F(Import, ExportThenImportRoundTripsEveryStringValue) {
    SetUpDirectory();
    // A tree under both roots with names and data the format carries:
    // spaces inside, "=" and brackets in data, empty data, the unnamed
    // value, 255-character data, punctuation.
    struct Entry {
        HKEY root;
        std::string path, name, data;
    };
    std::vector<Entry> entries;
    for (int k = 0; k < 5; ++k) {
        const std::string path = "Software\\Round\\Key " + std::to_string(k) + "\\Sub";
        entries.push_back({HKEY_LOCAL_MACHINE, path, "", "unnamed " + std::to_string(k)});
        entries.push_back({HKEY_LOCAL_MACHINE, path, "with space", "a=b [c] ;d #e"});
        entries.push_back({HKEY_LOCAL_MACHINE, path, "empty", ""});
        entries.push_back({HKEY_LOCAL_MACHINE, path, "#hash;semi:colon", "x"});
        entries.push_back({HKEY_LOCAL_MACHINE, path, "long", std::string(255, char('a' + k))});
        entries.push_back({HKEY_LOCAL_MACHINE, "Software\\Round\\Key " + std::to_string(k), "top",
                           "\x01\x7F!~"});
    }
    entries.push_back({HKEY_CLASSES_ROOT, "Zv.Round\\CLSID", "", "{12345678-1234-1234-1234-123456789ABC}"});
    for (const Entry& e : entries) ASSERT_TRUE(SetSz(e.root, e.path, e.name.c_str(), e.data));
    ASSERT_TRUE(cfgtest::SetDword(HKEY_LOCAL_MACHINE, "Software\\Round\\Key 0", "dw", 7));

    ASSERT_EQ(ZVExportRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Round", u"lm.cfg"), S_OK);
    ASSERT_EQ(ZVExportRegistryEntry(HKEY_CLASSES_ROOT, u"Zv.Round", u"cr.cfg"), S_OK);
    ASSERT_EQ(ZVDeleteRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Round"), S_OK);
    ASSERT_EQ(ZVDeleteRegistryEntry(HKEY_CLASSES_ROOT, u"Zv.Round"), S_OK);
    ASSERT_FALSE(cfgtest::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Round"));

    EXPECT_EQ(ZVImportRegistryEntry(u"lm.cfg", 0), S_OK);
    EXPECT_EQ(ZVImportRegistryEntry(u"cr.cfg", 0), S_OK);
    for (const Entry& e : entries) {
        cfgtest::RegValue value;
        ASSERT_TRUE(cfgtest::Query(e.root, e.path, e.name.c_str(), &value)) << e.path << "|" << e.name;
        EXPECT_EQ(value.type, DWORD(REG_SZ));
        EXPECT_EQ(std::string(value.data.c_str()), e.data) << e.path << "|" << e.name;
    }
    // Values of other types are not recreated.
    EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\Round\\Key 0", "dw"), "<missing>");
}

TEST_F(Import, BytesBeyondAsciiComeBackSignExtendedOnTheWidePath) {
    SetUpDirectory();
    WriteBytes(dir_.file("in.cfg"), "[ZV_HKEY_CONFIG\\Software\\Hi]\nk=\xE9\n");
    EXPECT_EQ(ZVImportRegistryEntry(u"in.cfg", 0), S_OK);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Hi", 0, KEY_READ, &key), ERROR_SUCCESS);
    if (zv::g_wideCalls) {
        ZVWCHAR data[4] = {};
        DWORD size = sizeof(data);
        EXPECT_EQ(RegQueryValueExW(key, u"k", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(data[0], 0xFFE9);
    } else {
        EXPECT_EQ(Sz(HKEY_LOCAL_MACHINE, "Software\\Hi", "k"), "\xE9");
    }
    RegCloseKey(key);
    // Either way it exports back to the byte it came from.
    EXPECT_EQ(ZVExportRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Hi", u"back.cfg"), S_OK);
    EXPECT_EQ(ReadBytes(dir_.file("back.cfg")), "[ZV_HKEY_CONFIG\\Software\\Hi]\nk=\xE9\n\n");
}
