// ConfigDocument: names without case, ordering, the operations and
// write-through.
#include "config_util.h"

using cfgtest::Dump;
using cfgtest::ReadBytes;
using cfgtest::W;
using cfgtest::WriteBytes;

TEST(ConfigDocument, NamesMeetWithoutCaseAndEveryChangeIsWrittenThrough) {
    zvtest::TempDir dir;
    const std::string path = dir.file("a.cfg");
    zv::ConfigDocument doc;
    EXPECT_EQ(doc.Load(W(path).c_str()), 0);
    EXPECT_EQ(ReadBytes(path), "<none>");  // Load only names the document
    EXPECT_EQ(doc.SetValue(u"Sec", u"Key", u"one", 0), 0);
    EXPECT_EQ(ReadBytes(path), "[Sec]\nKey=one\n\n");
    EXPECT_EQ(doc.SetValue(u"SEC", u"KEY", u"two", 1), 0);  // the first spelling stays
    EXPECT_EQ(ReadBytes(path), "[Sec]\nKey=two\n\n");
    EXPECT_EQ(doc.KeyExists(u"sEc", u"kEy") + doc.SectionExists(u"SEC"), 2);
    EXPECT_EQ(doc.KeyExists(u"Sec", u"Ke") + doc.KeyExists(u"Se", u"Key") + doc.SectionExists(u"Se"), 0);

    // Refused changes leave the document and the file alone.
    WriteBytes(path, "marker");
    EXPECT_EQ(doc.SetValue(u"sec", u"key", u"three", 0), 1);
    EXPECT_EQ(doc.AddSection(u"SEC"), 1);
    EXPECT_EQ(ReadBytes(path), "marker");
    EXPECT_EQ(Dump(doc), "[Sec]{Key=two}\n");
    EXPECT_EQ(doc.AddSection(u"Empty"), 0);
    EXPECT_EQ(ReadBytes(path), "[Empty]\n\n[Sec]\nKey=two\n\n");
}

TEST(ConfigDocument, QueriesListInOrderAndLeaveTheBufferAlone) {
    zvtest::TempDir dir;
    zv::ConfigDocument doc;
    doc.Load(W(dir.file("q.cfg")).c_str());
    EXPECT_TRUE(doc.GetKeyNames(u"S").empty());
    EXPECT_EQ(doc.SectionExists(u"S"), 0);  // not created by the query
    // Only A-Z are lowered; bytes from 0x80 up sort above ASCII.
    for (const char* key : {"\xC9", "b", "A", "_x", "z"}) doc.SetValue(u"S", W(key).c_str(), u"", 1);
    EXPECT_EQ(doc.GetKeyNames(u"s"), (zv::NameList{"_x", "A", "b", "z", "\xC9"}));
    for (const char16_t* section : {u"beta", u"Alpha", u"alpha2"}) doc.AddSection(section);
    EXPECT_EQ(doc.GetSectionNames(), (zv::NameList{"Alpha", "alpha2", "beta", "S"}));

    ZVWCHAR buffer[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(doc.GetValue(u"S", u"nope", buffer) + doc.GetValue(u"Nope", u"A", buffer), 2);
    EXPECT_EQ(buffer[0], u'#');
    EXPECT_EQ(doc.GetValue(u"S", u"_X", buffer), 0);
    EXPECT_EQ(std::u16string(buffer, 2), std::u16string(u"\0#", 2));  // the empty value: a terminator only
}

TEST(ConfigDocument, WideTextIsNarrowedByLowBytesAndWidenedBySignExtension) {
    zvtest::TempDir dir;
    zv::ConfigDocument doc;
    doc.Load(W(dir.file("w.cfg")).c_str());
    const ZVWCHAR value[] = {u'a', 0x00E9, 0x0141, 0x007F, 0};
    EXPECT_EQ(doc.SetValue(u"S", u"\u00E9", value, 1), 0);
    EXPECT_EQ(ReadBytes(dir.file("w.cfg")), "[S]\n\xE9=a\xE9\x41\x7F\n\n");
    ZVWCHAR out[8];
    const ZVWCHAR signExtended[] = {0xFFE9, 0};  // names the same key
    EXPECT_EQ(doc.GetValue(u"S", signExtended, out), 0);
    EXPECT_EQ(std::u16string(out), (std::u16string{u'a', 0xFFE9, u'A', 0x7F}));
}

// Texts far beyond 511 characters are carried whole, and nothing is written
// past a buffer (AddressSanitizer).
TEST(ConfigDocument, LongTextsAreKeptWhole) {
    zvtest::TempDir dir;
    zv::ConfigDocument doc;
    doc.Load(W(dir.file("long.cfg")).c_str());
    const std::u16string text = W(std::string(4000, 'x'));
    EXPECT_EQ(doc.SetValue(text.c_str(), (text + u"k").c_str(), (text + u"v").c_str(), 1), 0);
    std::u16string out(4002, u'#');
    EXPECT_EQ(doc.GetValue(text.c_str(), (text + u"k").c_str(), &out[0]), 0);
    EXPECT_EQ(out, text + u"v" + u'\0');
    EXPECT_EQ(ReadBytes(dir.file("long.cfg")).size(), 4000 + 3 + 8002 + 2 + 1u);
}
