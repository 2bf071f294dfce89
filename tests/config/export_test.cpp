// ZVExportRegistryEntry: the registry tree into a new configuration file.
#include "config/config.h"
#include "config_util.h"

using cfgtest::ReadBytes;
using cfgtest::Set;
using cfgtest::W;

namespace {

class Export : public ::testing::Test {
  protected:
    // Exports root\path to a new file of the temporary directory; the file's
    // bytes are then in text_.
    HRESULT Run(HKEY root, const std::string& path, const std::string& name) {
        HRESULT result = ZVExportRegistryEntry(root, W(path).c_str(), W(dir_.file(name)).c_str());
        text_ = ReadBytes(dir_.file(name));
        return result;
    }

    zvtest::TempDir dir_;
    std::string text_;
};

}  // namespace

TEST_F(Export, StringValuesBecomeKeyLinesOfTheirKeysSection) {
    ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\T", "", "x"));
    EXPECT_EQ(Run(HKEY_LOCAL_MACHINE, "Software\\T", "one.cfg"), S_OK);
    EXPECT_EQ(text_, "[ZV_HKEY_CONFIG\\Software\\T]\ndefault=x\n\n");
    // A value named Default meets the unnamed one; the later enumerated wins.
    ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\T", "Default", "named"));
    // Other types are left out; names come in no-case order, bytes beyond
    // ASCII as they are.
    ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\T", "b", "2"));
    ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\T", "A", "1"));
    ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\T", "c", std::string("\3\0\0\0", 4), REG_DWORD));
    ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\T", "e", std::string("%x%\0", 4), REG_EXPAND_SZ));
    ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\T", "m", std::string("a\0b\0\0", 5), REG_MULTI_SZ));
    ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\T", "_u", ""));
    ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\T", "caf\xE9", "a=b \xFF"));
    // Keys without string values give no section but are walked.
    ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\T\\Dw", "d", std::string("\1\0\0\0", 4), REG_DWORD));
    ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\T\\Dw\\Deep", "w", "3"));
    EXPECT_EQ(Run(HKEY_LOCAL_MACHINE, "Software\\T", "all.cfg"), S_OK);
    EXPECT_EQ(text_, "[ZV_HKEY_CONFIG\\Software\\T]\n_u=\nA=1\nb=2\ncaf\xE9=a=b \xFF\ndefault=named\n\n"
                     "[ZV_HKEY_CONFIG\\Software\\T\\Dw\\Deep]\nw=3\n\n");
    // A tree without string values still makes a file, an empty one.
    ASSERT_TRUE(Set(HKEY_CLASSES_ROOT, "Zv.Demo\\Empty", "d", std::string("\1\0\0\0", 4), REG_DWORD));
    EXPECT_EQ(Run(HKEY_CLASSES_ROOT, "Zv.Demo\\Empty", "empty.cfg"), S_OK);
    EXPECT_EQ(text_, "");
    ASSERT_TRUE(Set(HKEY_CLASSES_ROOT, "Zv.Demo\\CLSID", "", "{0}"));
    EXPECT_EQ(Run(HKEY_CLASSES_ROOT, "Zv.Demo", "classes.cfg"), S_OK);
    EXPECT_EQ(text_, "[ZV_HKEY_CLASSES\\Zv.Demo\\CLSID]\ndefault={0}\n\n");
}

TEST_F(Export, FailuresLeaveTheFileSystemAsItWas) {
    ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\T", "v", "1"));
    ASSERT_TRUE(Set(HKEY_CURRENT_USER, "Software\\T", "v", "1"));
    const struct {
        HKEY root;
        std::string path, name, before;
        HRESULT result;
    } cases[] = {
        {HKEY_LOCAL_MACHINE, "Software\\T", "exists.cfg", "keep\r\nme", E_FAIL},
        {HKEY_LOCAL_MACHINE, "Software\\T", "empty.cfg", "", E_FAIL},
        {HKEY_LOCAL_MACHINE, "Software\\Missing", "missing.cfg", "<none>", E_FAIL},
        {HKEY_CURRENT_USER, "Software\\T", "user.cfg", "<none>", E_INVALIDARG},  // no root text
        {HKEY_CURRENT_USER, "Software\\Missing", "user.cfg", "<none>", E_FAIL},
        {HKEY_LOCAL_MACHINE, "Software\\T", std::string(511 - dir_.path().size() - 1, 'n'), "<none>", E_FAIL},
    };
    for (const auto& t : cases) {
        if (t.before != "<none>") cfgtest::WriteBytes(dir_.file(t.name), t.before);
        EXPECT_EQ(Run(t.root, t.path, t.name), t.result) << t.name;
        EXPECT_EQ(text_, t.before) << t.name;
    }
    EXPECT_EQ(ZVExportRegistryEntry(HKEY_LOCAL_MACHINE, nullptr, W(dir_.file("n.cfg")).c_str()), E_INVALIDARG);
    EXPECT_EQ(ZVExportRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\T", nullptr), E_INVALIDARG);
    // A directory in the file's place counts as missing and cannot be written.
    EXPECT_EQ(ZVExportRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\T", W(dir_.path()).c_str()), S_OK);
    EXPECT_EQ(cfgtest::FileCount(dir_.path()), 2);
}

// A name or data too large for the enumeration's buffers ends its key's
// values; its subkeys are walked all the same.
TEST_F(Export, CapacitiesEndTheEnumerationOfTheirKey) {
    const std::string name254(254, 'n'), data255(255, 'd');
    const struct {
        std::string path, name, data;
        DWORD type;
    } values[] = {
        {"N", "a", "1", REG_SZ},   {"N", name254, "2", REG_SZ}, {"N", name254 + "o", "3", REG_SZ},
        {"N", "after", "4", REG_SZ}, {"N\\D", "a", data255, REG_SZ}, {"N\\D", "b", data255 + "e", REG_SZ},
        {"N\\D", "c", "3", REG_SZ}, {"N\\E", "a", "1", REG_SZ}, {"N\\E", "big", std::string(600, 'b'), REG_BINARY},
        {"N\\E", "c", "3", REG_SZ}, {"N\\E\\Sub", "s", "4", REG_SZ},
    };
    for (const auto& v : values) ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\" + v.path, v.name.c_str(), v.data, v.type));
    EXPECT_EQ(Run(HKEY_LOCAL_MACHINE, "Software\\N", "n.cfg"), S_OK);
    const std::string root = "[ZV_HKEY_CONFIG\\Software\\N";
    EXPECT_EQ(text_, root + "]\na=1\n" + name254 + "=2\n\n" + root + "\\D]\na=" + data255 + "\n\n" + root +
                         "\\E]\na=1\n\n" + root + "\\E\\Sub]\ns=4\n\n");
}

// Saving once at the end writes what saving after every value would have.
TEST_F(Export, BatchedAndWriteThroughExportsWriteTheSameFile) {
    for (int v = 0; v < 30; ++v)
        ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\B\\K" + std::to_string(v % 6), ("v" + std::to_string(v)).c_str(), "x"));
    ASSERT_TRUE(Set(HKEY_LOCAL_MACHINE, "Software\\B", "", "top"));
    for (bool batch : {true, false})
        EXPECT_EQ(zv::ExportRegistryTree(HKEY_LOCAL_MACHINE, u"Software\\B", W(dir_.file(batch ? "b" : "w")).c_str(), batch), S_OK);
    EXPECT_EQ(ReadBytes(dir_.file("b")), ReadBytes(dir_.file("w")));
    zv::ConfigDocument doc;
    doc.Load(W(dir_.file("b")).c_str());
    EXPECT_EQ(doc.Sections().size(), 7u);
}
