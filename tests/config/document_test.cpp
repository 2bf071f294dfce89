// ConfigDocument: ordering, trimming, the operations and write-through.
#include <gtest/gtest.h>

#include "config_util.h"

using cfgtest::Dump;
using cfgtest::ReadBytes;
using cfgtest::W;
using zv::ConfigDocument;

TEST(ConfigDocument, NoCaseLessLowersOnlyAsciiLettersAndComparesUnsignedBytes) {
    zv::NoCaseLess less;
    EXPECT_FALSE(less("Sec", "sEC"));
    EXPECT_FALSE(less("sEC", "Sec"));
    EXPECT_TRUE(less("Alpha", "alpha2"));  // a proper prefix orders first
    EXPECT_TRUE(less("alpha2", "beta"));
    EXPECT_TRUE(less("", "a"));
    EXPECT_FALSE(less("", ""));
    // '_' (0x5F) is below the lowered 'a' (0x61) though above 'A' (0x41).
    EXPECT_TRUE(less("_x", "A"));
    EXPECT_FALSE(less("A", "_x"));
    // Bytes from 0x80 up are not lowered and sort above ASCII.
    EXPECT_TRUE(less("z", "\xC9"));
    EXPECT_TRUE(less("\xC9", "\xE9"));
    EXPECT_TRUE(less("[", "a"));  // '[' 0x5B sorts below letters only once lowered
    EXPECT_FALSE(less("a", "["));
}

TEST(ConfigDocument, TrimSpacesStripsOnlySpacesAndKeepsAllSpaceTexts) {
    EXPECT_EQ(zv::TrimSpaces("  Key  "), "Key");
    EXPECT_EQ(zv::TrimSpaces(" a b "), "a b");
    EXPECT_EQ(zv::TrimSpaces("\tv\t"), "\tv\t");
    EXPECT_EQ(zv::TrimSpaces(" \tv "), "\tv");
    EXPECT_EQ(zv::TrimSpaces("   "), "   ");
    EXPECT_EQ(zv::TrimSpaces(""), "");
    EXPECT_EQ(zv::TrimSpaces("x"), "x");
}

TEST(ConfigDocument, NamesDifferingInCaseMeetAndKeepTheirFirstSpelling) {
    zvtest::TempDir dir;
    ConfigDocument doc;
    EXPECT_EQ(doc.Load(W(dir.file("a.cfg")).c_str()), 0);
    EXPECT_EQ(doc.SetValue(u"Sec", u"Key", u"one", 1), 0);
    EXPECT_EQ(doc.SetValue(u"SEC", u"KEY", u"two", 1), 0);
    EXPECT_EQ(Dump(doc), "[Sec]{Key=two}\n");
    EXPECT_EQ(ReadBytes(dir.file("a.cfg")), "[Sec]\nKey=two\n\n");

    // Without the overwrite flag an existing key stays and nothing is saved.
    cfgtest::WriteBytes(dir.file("a.cfg"), "marker");
    EXPECT_EQ(doc.SetValue(u"sec", u"key", u"three", 0), 1);
    EXPECT_EQ(Dump(doc), "[Sec]{Key=two}\n");
    EXPECT_EQ(ReadBytes(dir.file("a.cfg")), "marker");
    // A new key in an existing section is stored with the flag 0.
    EXPECT_EQ(doc.SetValue(u"sec", u"Other", u"x", 0), 0);
    EXPECT_EQ(ReadBytes(dir.file("a.cfg")), "[Sec]\nKey=two\nOther=x\n\n");

    EXPECT_EQ(doc.SectionExists(u"SEC"), 1);
    EXPECT_EQ(doc.SectionExists(u"Se"), 0);
    EXPECT_EQ(doc.KeyExists(u"sEc", u"kEy"), 1);
    EXPECT_EQ(doc.KeyExists(u"Sec", u"Ke"), 0);
    EXPECT_EQ(doc.KeyExists(u"Nope", u"Key"), 0);
}

TEST(ConfigDocument, SetValueOnANewSectionCreatesTheFileAtOnce) {
    zvtest::TempDir dir;
    const std::string path = dir.file("new.cfg");
    ConfigDocument doc;
    EXPECT_EQ(doc.Load(W(path).c_str()), 0);
    EXPECT_FALSE(cfgtest::FileExists(path));  // Load only names the document
    EXPECT_EQ(doc.SetValue(u"S", u"k", u"v", 0), 0);
    EXPECT_EQ(ReadBytes(path), "[S]\nk=v\n\n");

    // AddSection writes the empty section; an existing one, in any case,
    // returns 1 and leaves the file alone.
    EXPECT_EQ(doc.AddSection(u"Empty"), 0);
    EXPECT_EQ(ReadBytes(path), "[Empty]\n\n[S]\nk=v\n\n");
    cfgtest::WriteBytes(path, "untouched");
    EXPECT_EQ(doc.AddSection(u"EMPTY"), 1);
    EXPECT_EQ(doc.AddSection(u"s"), 1);
    EXPECT_EQ(ReadBytes(path), "untouched");
}

TEST(ConfigDocument, QueriesLeaveTheDocumentAndTheBufferAsTheyWere) {
    zvtest::TempDir dir;
    ConfigDocument doc;
    doc.Load(W(dir.file("q.cfg")).c_str());
    EXPECT_TRUE(doc.GetKeyNames(u"Missing").empty());
    EXPECT_EQ(doc.SectionExists(u"Missing"), 0);  // not created by the query
    EXPECT_TRUE(doc.GetSectionNames().empty());

    doc.SetValue(u"S", u"b", u"2", 1);
    doc.SetValue(u"S", u"A", u"1", 1);
    doc.SetValue(u"S", u"_x", u"", 1);
    EXPECT_EQ(doc.GetKeyNames(u"s"), (zv::NameList{"_x", "A", "b"}));
    EXPECT_EQ(ReadBytes(dir.file("q.cfg")), "[S]\n_x=\nA=1\nb=2\n\n");

    ZVWCHAR buffer[8];
    for (auto& unit : buffer) unit = u'#';
    EXPECT_EQ(doc.GetValue(u"S", u"_X", buffer), 0);
    EXPECT_EQ(buffer[0], 0);  // the empty value: the terminator only
    EXPECT_EQ(buffer[1], u'#');
    EXPECT_EQ(doc.GetValue(u"S", u"nope", buffer), 1);
    EXPECT_EQ(doc.GetValue(u"Nope", u"A", buffer), 1);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[1], u'#');
    EXPECT_EQ(doc.GetValue(u"s", u"a", buffer), 0);
    EXPECT_EQ(std::u16string(buffer), u"1");

    doc.AddSection(u"beta");
    doc.AddSection(u"Alpha");
    doc.AddSection(u"alpha2");
    EXPECT_EQ(doc.GetSectionNames(), (zv::NameList{"Alpha", "alpha2", "beta", "S"}));
}

TEST(ConfigDocument, WideTextIsNarrowedByLowBytesAndWidenedBySignExtension) {
    zvtest::TempDir dir;
    ConfigDocument doc;
    doc.Load(W(dir.file("w.cfg")).c_str());
    const ZVWCHAR value[] = {u'a', 0x00E9, 0x0141, 0x007F, 0};
    EXPECT_EQ(doc.SetValue(u"S", u"k", value, 1), 0);
    ZVWCHAR out[8];
    EXPECT_EQ(doc.GetValue(u"S", u"k", out), 0);
    EXPECT_EQ(out[0], u'a');
    EXPECT_EQ(out[1], 0xFFE9);
    EXPECT_EQ(out[2], 0x0041);  // 0x0141 keeps its low byte, 'A'
    EXPECT_EQ(out[3], 0x007F);
    EXPECT_EQ(out[4], 0);
    EXPECT_EQ(ReadBytes(dir.file("w.cfg")), "[S]\nk=a\xE9\x41\x7F\n\n");
    // The sign-extended form names the same entry.
    const ZVWCHAR key[] = {0xFFE9, 0};
    const ZVWCHAR keyLatin1[] = {0x00E9, 0};
    doc.SetValue(u"S", key, u"1", 1);
    EXPECT_EQ(doc.KeyExists(u"S", keyLatin1), 1);
}

TEST(ConfigDocument, AnUnnamedDocumentWritesNoFile) {
    zvtest::TempDir dir;
    ConfigDocument doc;
    EXPECT_EQ(doc.HasFileName(), false);
    EXPECT_EQ(doc.FileName()[0], 0);
    EXPECT_EQ(doc.SetValue(u"S", u"k", u"v", 1), 0);
    EXPECT_EQ(doc.AddSection(u"T"), 0);
    EXPECT_EQ(doc.Save(nullptr), 0);
    EXPECT_EQ(Dump(doc), "[S]{k=v}\n[T]{}\n");
    // An explicit name works, and the document stays unnamed.
    EXPECT_EQ(doc.Save(W(dir.file("x.cfg")).c_str()), 0);
    EXPECT_EQ(ReadBytes(dir.file("x.cfg")), "[S]\nk=v\n\n[T]\n\n");
    EXPECT_FALSE(doc.HasFileName());
}

TEST(ConfigDocument, DeferredSavesReachTheFileOnlyWhenFlushed) {
    zvtest::TempDir dir;
    const std::string path = dir.file("d.cfg");
    ConfigDocument doc;
    doc.Load(W(path).c_str());
    doc.DeferSaves(true);
    doc.SavePendingChanges();  // nothing pending: no file
    EXPECT_FALSE(cfgtest::FileExists(path));
    doc.SetValue(u"S", u"k", u"v", 1);
    doc.AddSection(u"E");
    EXPECT_TRUE(doc.SavePending());
    EXPECT_FALSE(cfgtest::FileExists(path));
    EXPECT_EQ(doc.SetValue(u"S", u"k", u"w", 0), 1);  // refused: nothing new to save
    doc.SavePendingChanges();
    EXPECT_FALSE(doc.SavePending());
    EXPECT_EQ(ReadBytes(path), "[E]\n\n[S]\nk=v\n\n");

    // Refused changes mark nothing; flushing then leaves the file alone.
    cfgtest::WriteBytes(path, "after");
    EXPECT_EQ(doc.AddSection(u"s"), 1);
    doc.SavePendingChanges();
    EXPECT_EQ(ReadBytes(path), "after");

    // Back to write-through.
    doc.DeferSaves(false);
    doc.SetValue(u"S", u"n", u"1", 1);
    EXPECT_EQ(ReadBytes(path), "[E]\n\n[S]\nk=v\nn=1\n\n");
}

TEST(ConfigDocument, TextsFarBeyondFiveHundredElevenCharactersAreKeptWhole) {
    zvtest::TempDir dir;
    ConfigDocument doc;
    doc.Load(W(dir.file("long.cfg")).c_str());
    const std::string longText(4000, 'x');
    EXPECT_EQ(doc.SetValue(W(longText).c_str(), W(longText + "k").c_str(),
                           W(longText + "v").c_str(), 1),
              0);
    std::u16string out(4002, u'#');
    EXPECT_EQ(doc.GetValue(W(longText).c_str(), W(longText + "k").c_str(), &out[0]), 0);
    EXPECT_EQ(out.substr(0, 4001), W(longText + "v"));
    EXPECT_EQ(out[4001], 0);
    EXPECT_EQ(ReadBytes(dir.file("long.cfg")).size(), 4000 + 3 + 8002 + 2 + 1u);
}
