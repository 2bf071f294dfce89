// Load: the file format, its limits and its errors.
#include "config_util.h"

using cfgtest::Dump;
using cfgtest::W;
using namespace std::string_literals;

TEST(ConfigReader, ReadsTheFormatWithItsLimitsAndErrors) {
    const std::string v508(508, 'v'), at510 = "k=" + v508;
    const struct {
        std::string text;
        int32_t result;
        std::string dump;
    } cases[] = {
        {"", 0, ""},
        {"; by hand\n[ZV_HKEY_CONFIG\\Demo]\nPath = C:\\Demo\ndefault=on\n\n[ZV_HKEY_CONFIG\\Demo\\Sub]\nLevel=3\n", 0,
         "[ZV_HKEY_CONFIG\\Demo]{default=on,Path=C:\\Demo}\n[ZV_HKEY_CONFIG\\Demo\\Sub]{Level=3}\n"},
        // Key lines split at the first "=" and lose spaces only; inside a
        // section nothing else is special.
        {"[S]\nKey = Value\na=b=c\n=x\nk=\nsp=   \ntab=\tv\t\n#note=1\n;semi = 2 \n[no header]=3\n", 0,
         "[S]{=x,#note=1,;semi=2,[no header]=3,a=b=c,k=,Key=Value,sp=   ,tab=\tv\t}\n"},
        {"[a]b]\nk=1\n\n[]\nk=2\n\n[ x ]\nk=3\n\n[[in]]tail\nk=4\n\n[empty]\n", 0,
         "[]{k=2}\n[ x ]{k=3}\n[[in]]{k=4}\n[a]b]{k=1}\n[empty]{}\n"},
        // Outside a section only headers count.
        {"stray=1\n# c\n: c\n   [indented]\n\n[S]\nk=v\n\n# between\nloose\n[T]\nk=w\n", 0, "[S]{k=v}\n[T]{k=w}\n"},
        // A repeated section replaces the earlier one, keeping its spelling.
        {"[S]\nold=1\nKey=a\n\n[other]\no=1\n\n[s]\nnew=2\nkey=b\nKEY=c\n", 0, "[other]{o=1}\n[S]{key=c,new=2}\n"},
        // A line that begins with white space ends the section; a byte
        // from 0x80 up is no white space.
        {"[S]\nk1=1\n\tk2=2\nk3=3\n[T]\n\vt=1\n[U]\n\fu=1\n[V]\n\rv=1\n[X]\n x=1\n[W]\n\xA0w=1\n", 0,
         "[S]{k1=1}\n[T]{}\n[U]{}\n[V]{}\n[W]{\xA0w=1}\n[X]{}\n"},
        // A carriage return before a line feed is dropped, elsewhere text.
        {"[S]\r\nk=v\r\nm=w", 0, "[S]{k=v,m=w}\n"},
        {"[S]\r\na=1\rx\r\n\r\n[T]\r\nb=2\r", 0, "[S]{a=1\rx}\n[T]{b=2\r}\n"},
        // Format errors keep the sections stored before.
        {"[A]\na=1\n\n[broken\nb=2\n\n[C]\nc=3\n", 1, "[A]{a=1}\n"},
        {"[A]\na=1\n\n[B]\nb=1\n[C]\nc=1\n\n[D]\nd=1\n", 1, "[A]{a=1}\n"},
        {"[A]\n# note\n", 1, ""},
        // 510 characters make a line; 511 end the reading, keeping what
        // came before.  A zero byte ends a line's text but not its length.
        {"[S]\n" + at510 + "\nn=1\n", 0, "[S]{k=" + v508 + ",n=1}\n"},
        {"[S]\r\n" + at510 + "\r\nn=1", 0, "[S]{k=" + v508 + ",n=1}\n"},
        {"[S]\n" + at510, 0, "[S]{k=" + v508 + "}\n"},
        {"[" + v508 + "]\nk=1\n", 0, "[" + v508 + "]{k=1}\n"},
        {"[A]\na=1\n\n[S]\nfirst=1\n" + at510 + "v\nn=1\n\n[T]\nt=1\n", 0, "[A]{a=1}\n[S]{first=1}\n"},
        {"[A]\na=1\n\n#" + v508 + "cc\n[B]\nb=1\n", 0, "[A]{a=1}\n"},
        {"[S]\nk=v\0junk=2\nn=1\n\0x=1\nm=1\n"s, 0, "[S]{k=v,n=1}\n"},
        {"[A]\na=1\n\n[S]\nk=v\0"s + v508.substr(1) + "\n", 0, "[A]{a=1}\n[S]{}\n"},
    };
    zvtest::TempDir dir;
    for (const auto& t : cases) {
        cfgtest::WriteBytes(dir.file("in.cfg"), t.text);
        cfgtest::Document doc;
        EXPECT_EQ(doc.Load(W(dir.file("in.cfg")).c_str()), t.result) << t.text;
        EXPECT_EQ(Dump(doc), t.dump) << t.text;
    }
}

TEST(ConfigReader, FileNames) {
    zvtest::TempDir dir;
    cfgtest::Document doc;
    const std::u16string name = W(dir.path() + "/") + u"\u00E9.cfg";
#if defined(_WIN32)
    // Made under the wide name itself; the library opens it by its narrow
    // name, 0xE9 by low bytes, which is "\u00E9" in the ANSI code page of
    // Western Windows (1252).
    std::ofstream(std::filesystem::path(name), std::ios::binary) << "[S]\nk=v\n";
#else
    cfgtest::WriteBytes(dir.file("\xC3\xA9.cfg"), "[S]\nk=v\n");  // the host's UTF-8 for "é.cfg"
#endif
    EXPECT_EQ(doc.Load(name.c_str()), 0);
    EXPECT_EQ(Dump(doc), "[S]{k=v}\n");
    // Longer than 510: refused, the document keeps its name and content.
    const std::u16string name510 = W(dir.path() + "/" + std::string(510 - dir.path().size() - 1, 'n'));
    EXPECT_EQ(doc.Load((name510 + u'n').c_str()), 1);
    EXPECT_EQ(std::u16string(doc.FileName()), name);
    EXPECT_EQ(Dump(doc), "[S]{k=v}\n");
    // A missing file, a directory, and a name of 510 (the host may refuse
    // it): nothing read, the name taken.
    for (const std::u16string& empty : {W(dir.file("missing.cfg")), W(dir.path()), name510}) {
        EXPECT_EQ(doc.Load(empty.c_str()), 0);
        EXPECT_EQ(std::u16string(doc.FileName()), empty);
        EXPECT_TRUE(doc.Sections().empty());
    }
}
