// ZVExportRegistryEntry: the registry tree into a new configuration file.
#include <gtest/gtest.h>

#include "config/config.h"
#include "config_util.h"
#include "frame/frame.h"

using cfgtest::ReadBytes;
using cfgtest::SetDword;
using cfgtest::SetRaw;
using cfgtest::SetSz;
using cfgtest::W;

namespace {

class Export : public ::testing::Test {
  protected:
    void SetUp() override { cfgtest::UsePrivateRegistry(); }

    // Exports root\path to a new file of the temporary directory and
    // returns the result; the file's bytes are in text_.
    HRESULT Run(HKEY root, const std::string& path, const std::string& name = "out.cfg") {
        file_ = dir_.file(name);
        HRESULT result = ZVExportRegistryEntry(root, W(path).c_str(), W(file_).c_str());
        text_ = ReadBytes(file_);
        return result;
    }

    zvtest::TempDir dir_;
    std::string file_;
    std::string text_;
};

}  // namespace

TEST_F(Export, TheUnnamedValueBecomesTheKeyDefault) {
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\T", "", "x"));
    EXPECT_EQ(Run(HKEY_LOCAL_MACHINE, "Software\\T"), S_OK);
    EXPECT_EQ(text_, "[ZV_HKEY_CONFIG\\Software\\T]\ndefault=x\n\n");

    // The unnamed value and one named Default meet in one key: the value
    // enumerated later (created later) wins, the first spelling stays.
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\T", "Default", "named"));
    EXPECT_EQ(Run(HKEY_LOCAL_MACHINE, "Software\\T", "two.cfg"), S_OK);
    EXPECT_EQ(text_, "[ZV_HKEY_CONFIG\\Software\\T]\ndefault=named\n\n");
}

TEST_F(Export, OnlyStringValuesAreCarriedInNoCaseOrder) {
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\T", "b", "2"));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\T", "A", "1"));
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, "Software\\T", "c", 3));
    ASSERT_TRUE(SetRaw(HKEY_LOCAL_MACHINE, "Software\\T", "e", REG_EXPAND_SZ, std::string("%x%\0", 4)));
    ASSERT_TRUE(SetRaw(HKEY_LOCAL_MACHINE, "Software\\T", "m", REG_MULTI_SZ, std::string("a\0b\0\0", 5)));
    ASSERT_TRUE(SetRaw(HKEY_LOCAL_MACHINE, "Software\\T", "bin", REG_BINARY, "xyz"));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\T", "_u", ""));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\T", "eq", "a=b c"));
    EXPECT_EQ(Run(HKEY_LOCAL_MACHINE, "Software\\T"), S_OK);
    EXPECT_EQ(text_, "[ZV_HKEY_CONFIG\\Software\\T]\n_u=\nA=1\nb=2\neq=a=b c\n\n");
}

TEST_F(Export, KeysWithoutStringsGiveNoSectionButAreWalked) {
    ASSERT_TRUE(cfgtest::CreateKey(HKEY_LOCAL_MACHINE, "Software\\T"));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\T\\Sub", "v", "1"));
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, "Software\\T\\Dw", "d", 1));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\T\\Dw\\Deep\\Er", "w", "2"));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\T\\a", "z", "3"));
    EXPECT_EQ(Run(HKEY_LOCAL_MACHINE, "Software\\T"), S_OK);
    EXPECT_EQ(text_,
              "[ZV_HKEY_CONFIG\\Software\\T\\a]\nz=3\n\n"
              "[ZV_HKEY_CONFIG\\Software\\T\\Dw\\Deep\\Er]\nw=2\n\n"
              "[ZV_HKEY_CONFIG\\Software\\T\\Sub]\nv=1\n\n");

    // A tree without any string value still makes a file, an empty one.
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, "Software\\Empty\\Sub", "d", 1));
    EXPECT_EQ(Run(HKEY_LOCAL_MACHINE, "Software\\Empty", "empty.cfg"), S_OK);
    EXPECT_TRUE(cfgtest::FileExists(file_));
    EXPECT_EQ(text_, "");
}

TEST_F(Export, ClassesRootKeysAreNamedByTheirOwnRootText) {
    ASSERT_TRUE(SetSz(HKEY_CLASSES_ROOT, "Zv.Demo\\CLSID", "", "{0}"));
    EXPECT_EQ(Run(HKEY_CLASSES_ROOT, "Zv.Demo"), S_OK);
    EXPECT_EQ(text_, "[ZV_HKEY_CLASSES\\Zv.Demo\\CLSID]\ndefault={0}\n\n");
    // The same key through the machine root.
    EXPECT_EQ(Run(HKEY_LOCAL_MACHINE, "Software\\Classes\\Zv.Demo", "lm.cfg"), S_OK);
    EXPECT_EQ(text_, "[ZV_HKEY_CONFIG\\Software\\Classes\\Zv.Demo\\CLSID]\ndefault={0}\n\n");
}

TEST_F(Export, FailuresLeaveTheFileSystemAsItWas) {
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\T", "v", "1"));
    // An existing file is not touched.
    cfgtest::WriteBytes(dir_.file("exists.cfg"), "keep\r\nme");
    EXPECT_EQ(Run(HKEY_LOCAL_MACHINE, "Software\\T", "exists.cfg"), E_FAIL);
    EXPECT_EQ(text_, "keep\r\nme");
    // An empty existing file is existing too.
    cfgtest::WriteBytes(dir_.file("zero.cfg"), "");
    EXPECT_EQ(Run(HKEY_LOCAL_MACHINE, "Software\\T", "zero.cfg"), E_FAIL);

    // A missing key: E_FAIL and no file.
    EXPECT_EQ(Run(HKEY_LOCAL_MACHINE, "Software\\Missing", "missing.cfg"), E_FAIL);
    EXPECT_FALSE(cfgtest::FileExists(file_));

    // A root without a root text: E_INVALIDARG when the key opens, E_FAIL
    // when it does not; no file either way.
    ASSERT_TRUE(SetSz(HKEY_CURRENT_USER, "Software\\T", "v", "1"));
    EXPECT_EQ(Run(HKEY_CURRENT_USER, "Software\\T", "user.cfg"), E_INVALIDARG);
    EXPECT_FALSE(cfgtest::FileExists(file_));
    EXPECT_EQ(Run(HKEY_CURRENT_USER, "Software\\Missing", "user2.cfg"), E_FAIL);
    EXPECT_FALSE(cfgtest::FileExists(file_));

    // Null arguments, and a name the document cannot hold.
    EXPECT_EQ(ZVExportRegistryEntry(HKEY_LOCAL_MACHINE, nullptr, W(dir_.file("n.cfg")).c_str()),
              E_INVALIDARG);
    EXPECT_EQ(ZVExportRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\T", nullptr), E_INVALIDARG);
    std::string longName = dir_.path() + "/";
    longName.append(511 - longName.size(), 'n');
    EXPECT_EQ(ZVExportRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\T", W(longName).c_str()), E_FAIL);

    // A directory in the file's place counts as missing and cannot be
    // written: S_OK and nothing changes.
    EXPECT_EQ(ZVExportRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\T", W(dir_.path()).c_str()), S_OK);
    EXPECT_EQ(cfgtest::ReadBytes(dir_.file("exists.cfg")), "keep\r\nme");
}

TEST_F(Export, NameAndDataCapacitiesEndTheEnumerationOfTheirKey) {
    // Names of 254 characters fit the name buffer, 255 do not.
    const std::string name254(254, 'n');
    const std::string name255(255, 'o');
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\N", "a", "1"));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\N", name254.c_str(), "2"));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\N", name255.c_str(), "3"));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\N", "after", "4"));
    EXPECT_EQ(Run(HKEY_LOCAL_MACHINE, "Software\\N", "names.cfg"), S_OK);
    EXPECT_EQ(text_, "[ZV_HKEY_CONFIG\\Software\\N]\na=1\n" + name254 + "=2\n\n");

    // String data of 255 characters fits on both families, 256 does not,
    // and neither does any larger value of another type.
    const std::string data255(255, 'd');
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\D", "a", data255));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\D", "b", std::string(256, 'e')));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\D", "c", "3"));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\E", "a", "1"));
    ASSERT_TRUE(SetRaw(HKEY_LOCAL_MACHINE, "Software\\E", "big", REG_BINARY, std::string(600, 'b')));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\E", "c", "3"));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\E\\Sub", "s", "4"));
    EXPECT_EQ(Run(HKEY_LOCAL_MACHINE, "Software\\D", "data.cfg"), S_OK);
    EXPECT_EQ(text_, "[ZV_HKEY_CONFIG\\Software\\D]\na=" + data255 + "\n\n");
    EXPECT_EQ(Run(HKEY_LOCAL_MACHINE, "Software\\E", "big.cfg"), S_OK);
    // The subkeys are walked all the same.
    EXPECT_EQ(text_, "[ZV_HKEY_CONFIG\\Software\\E]\na=1\n\n[ZV_HKEY_CONFIG\\Software\\E\\Sub]\ns=4\n\n");
}

TEST_F(Export, KeysWhoseHeaderWouldPassTheLineLimitAreLeftOut) {
    // "[ZV_HKEY_CONFIG\" is 16 characters, "]" one: a path of 493 gives a
    // 510-character header line, 494 one of 511.
    std::string path = "Software\\L";
    while (path.size() < 493) path += "\\" + std::string(std::min<size_t>(100, 492 - path.size()), 'p');
    ASSERT_EQ(path.size(), 493u);
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, path, "v", "fits"));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, path + "\\q", "v", "too long"));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\L\\z", "v", "after"));
    EXPECT_EQ(Run(HKEY_LOCAL_MACHINE, "Software\\L"), S_OK);
    EXPECT_EQ(text_, "[ZV_HKEY_CONFIG\\" + path + "]\nv=fits\n\n[ZV_HKEY_CONFIG\\Software\\L\\z]\nv=after\n\n");
    zv::ConfigDocument back;
    EXPECT_EQ(back.Load(W(file_).c_str()), 0);
    EXPECT_EQ(back.Sections().size(), 2u);
}

TEST_F(Export, BytesBeyondAsciiAreCarriedAsTheirLowByte) {
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\\xC9t\xE9", "caf\xE9", "\xE0 la \xFF"));
    EXPECT_EQ(Run(HKEY_LOCAL_MACHINE, "Software\\\xC9t\xE9"), S_OK);
    EXPECT_EQ(text_, "[ZV_HKEY_CONFIG\\Software\\\xC9t\xE9]\ncaf\xE9=\xE0 la \xFF\n\n");
}

TEST_F(Export, BatchedAndWriteThroughExportsWriteTheSameFile) {
    for (int k = 0; k < 6; ++k)
        for (int v = 0; v < 5; ++v)
            ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\B\\K" + std::to_string(k) + "\\x",
                              ("v" + std::to_string(v)).c_str(), std::to_string(k * v)));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, "Software\\B", "", "top"));
    const std::string batched = dir_.file("batched.cfg"), through = dir_.file("through.cfg");
    EXPECT_EQ(zv::ExportRegistryTree(HKEY_LOCAL_MACHINE, u"Software\\B", W(batched).c_str(), true), S_OK);
    EXPECT_EQ(zv::ExportRegistryTree(HKEY_LOCAL_MACHINE, u"Software\\B", W(through).c_str(), false), S_OK);
    EXPECT_EQ(ReadBytes(batched), ReadBytes(through));
    EXPECT_NE(ReadBytes(batched).find("[ZV_HKEY_CONFIG\\Software\\B\\K3\\x]\nv0=0\nv1=3\nv2=6\nv3=9\nv4=12\n\n"),
              std::string::npos);
    for (const std::string& name : {batched, through}) {
        zv::ConfigDocument doc;
        doc.Load(W(name).c_str());
        EXPECT_EQ(doc.Sections().size(), 7u);
    }
}
