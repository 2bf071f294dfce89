// Load: the file format, its limits and its errors.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config_util.h"

using cfgtest::Dump;
using cfgtest::LoadBytes;
using cfgtest::W;
using zv::ConfigDocument;
using namespace std::string_literals;

TEST(ConfigReader, EmptyAndMissingFilesGiveAnEmptyNamedDocument) {
    zvtest::TempDir dir;
    ConfigDocument doc;
    EXPECT_EQ(LoadBytes(doc, dir, ""), 0);
    EXPECT_TRUE(doc.Sections().empty());
    EXPECT_EQ(std::u16string(doc.FileName()), W(dir.file("in.cfg")));

    // A later Load empties the document first, also when nothing is read.
    EXPECT_EQ(LoadBytes(doc, dir, "[S]\nk=v\n"), 0);
    EXPECT_EQ(Dump(doc), "[S]{k=v}\n");
    EXPECT_EQ(doc.Load(W(dir.file("missing.cfg")).c_str()), 0);
    EXPECT_TRUE(doc.Sections().empty());
    EXPECT_EQ(std::u16string(doc.FileName()), W(dir.file("missing.cfg")));

    // A directory is no file: nothing read, no error.
    EXPECT_EQ(doc.Load(W(dir.path()).c_str()), 0);
    EXPECT_TRUE(doc.Sections().empty());
}

TEST(ConfigReader, ReadsTheWellFormedExample) {
    zvtest::TempDir dir;
    ConfigDocument doc;
    EXPECT_EQ(LoadBytes(doc, dir,
                        "; written by hand\n"
                        "[ZV_HKEY_CONFIG\\Software\\Demo]\n"
                        "Path = C:\\Demo\n"
                        "default=on\n"
                        "\n"
                        "[ZV_HKEY_CONFIG\\Software\\Demo\\Sub]\n"
                        "Level=3\n"),
              0);
    EXPECT_EQ(Dump(doc),
              "[ZV_HKEY_CONFIG\\Software\\Demo]{default=on,Path=C:\\Demo}\n"
              "[ZV_HKEY_CONFIG\\Software\\Demo\\Sub]{Level=3}\n");
}

TEST(ConfigReader, SplitsKeyLinesAtTheFirstEqualsAndTrimsOnlySpaces) {
    zvtest::TempDir dir;
    ConfigDocument doc;
    EXPECT_EQ(LoadBytes(doc, dir,
                        "[S]\n"
                        "Key = Value\n"
                        "a=b=c\n"
                        "=x\n"
                        "k=\n"
                        "sp=   \n"
                        "tab=\tv\t\n"
                        "#note=1\n"
                        ";semi = 2 \n"
                        "[not a header]=3\n"),
              0);
    const zv::KeyTable& keys = doc.Sections().at("S");
    EXPECT_EQ(keys.at("Key"), "Value");
    EXPECT_EQ(keys.at("a"), "b=c");
    EXPECT_EQ(keys.at(""), "x");
    EXPECT_EQ(keys.at("k"), "");
    EXPECT_EQ(keys.at("sp"), "   ");  // all spaces: kept as they are
    EXPECT_EQ(keys.at("tab"), "\tv\t");
    EXPECT_EQ(keys.at("#note"), "1");
    EXPECT_EQ(keys.at(";semi"), "2");
    EXPECT_EQ(keys.at("[not a header]"), "3");
    EXPECT_EQ(keys.size(), 9u);
}

TEST(ConfigReader, HeaderNamesRunFromTheFirstBracketToTheLastOne) {
    zvtest::TempDir dir;
    ConfigDocument doc;
    EXPECT_EQ(LoadBytes(doc, dir,
                        "[a]b]\nk=1\n\n"
                        "[]\nk=2\n\n"
                        "[ x ]\nk=3\n\n"
                        "[[in]]tail\nk=4\n\n"
                        "[empty]\n"),
              0);
    EXPECT_EQ(Dump(doc), "[]{k=2}\n[ x ]{k=3}\n[[in]]{k=4}\n[a]b]{k=1}\n[empty]{}\n");
}

TEST(ConfigReader, OutsideSectionsOnlyHeadersCount) {
    zvtest::TempDir dir;
    ConfigDocument doc;
    EXPECT_EQ(LoadBytes(doc, dir,
                        "stray=1\n"
                        "# comment\n"
                        ": colon\n"
                        "   [indented]\n"
                        "\n"
                        "[S]\nk=v\n\n"
                        "# between sections\n"
                        "loose line\n"
                        "[T]\nk=w\n"),
              0);
    EXPECT_EQ(Dump(doc), "[S]{k=v}\n[T]{k=w}\n");
}

TEST(ConfigReader, WhiteSpaceAtTheStartOfALineEndsTheSection) {
    zvtest::TempDir dir;
    for (const char* closer : {"", " k2=2", "\tk2=2", "\vk2=2", "\fk2=2", "\rk2=2"}) {
        ConfigDocument doc;
        std::string text = std::string("[S]\nk1=1\n") + closer + "\nk3=3\n[T]\nt=1\n";
        EXPECT_EQ(LoadBytes(doc, dir, text), 0) << text;
        // k3 follows the terminator outside any section and is skipped.
        EXPECT_EQ(Dump(doc), "[S]{k1=1}\n[T]{t=1}\n") << text;
    }
    // A byte from 0x80 up is no white space: the line is a key line.
    ConfigDocument doc;
    EXPECT_EQ(LoadBytes(doc, dir, "[S]\n\xA0k=1\n"), 0);
    EXPECT_EQ(Dump(doc), "[S]{\xA0k=1}\n");
}

TEST(ConfigReader, FormatErrorsKeepOnlyTheSectionsStoredBefore) {
    zvtest::TempDir dir;
    {
        // Header without "]".
        ConfigDocument doc;
        EXPECT_EQ(LoadBytes(doc, dir, "[A]\na=1\n\n[broken\nb=2\n\n[C]\nc=3\n"), 1);
        EXPECT_EQ(Dump(doc), "[A]{a=1}\n");
    }
    {
        // Two sections without a blank line: the second header is a key
        // line without "=", so neither of them is kept.
        ConfigDocument doc;
        EXPECT_EQ(LoadBytes(doc, dir, "[A]\na=1\n\n[B]\nb=1\n[C]\nc=1\n\n[D]\nd=1\n"), 1);
        EXPECT_EQ(Dump(doc), "[A]{a=1}\n");
    }
    {
        // A comment inside a section is an error unless it holds "=".
        ConfigDocument doc;
        EXPECT_EQ(LoadBytes(doc, dir, "[A]\n# note\n"), 1);
        EXPECT_TRUE(doc.Sections().empty());
    }
    {
        // The name stays what was given, also after an error.
        ConfigDocument doc;
        EXPECT_EQ(LoadBytes(doc, dir, "[x", "err.cfg"), 1);
        EXPECT_EQ(std::u16string(doc.FileName()), W(dir.file("err.cfg")));
    }
}

TEST(ConfigReader, RepeatedSectionsReplaceAndRepeatedKeysOverwrite) {
    zvtest::TempDir dir;
    ConfigDocument doc;
    EXPECT_EQ(LoadBytes(doc, dir,
                        "[S]\nold=1\nKey=a\n\n"
                        "[other]\no=1\n\n"
                        "[s]\nnew=2\nkey=b\nKEY=c\n"),
              0);
    // The section keeps its first spelling, the keys are the later ones.
    EXPECT_EQ(Dump(doc), "[other]{o=1}\n[S]{key=c,new=2}\n");
}

TEST(ConfigReader, TheLastSectionNeedsNoBlankLineAndCrLfReadsAsLf) {
    zvtest::TempDir dir;
    ConfigDocument doc;
    EXPECT_EQ(LoadBytes(doc, dir, "[S]\r\nk=v\r\nm=w"), 0);
    EXPECT_EQ(Dump(doc), "[S]{k=v,m=w}\n");
    // A carriage return elsewhere is text; one before a line feed is not
    // even a blank line's content.
    EXPECT_EQ(LoadBytes(doc, dir, "[S]\r\na=1\rx\r\n\r\n[T]\r\nb=2\r"), 0);
    EXPECT_EQ(Dump(doc), "[S]{a=1\rx}\n[T]{b=2\r}\n");
    // A lone carriage return at the start of a line closes the section.
    EXPECT_EQ(LoadBytes(doc, dir, "[S]\na=1\n\rb=2\n"), 0);
    EXPECT_EQ(Dump(doc), "[S]{a=1}\n");
}

TEST(ConfigReader, LineLimitIsFiveHundredTenCharacters) {
    zvtest::TempDir dir;
    const std::string key = "k=";
    const std::string at(510 - key.size(), 'v');
    {
        ConfigDocument doc;
        EXPECT_EQ(LoadBytes(doc, dir, "[S]\n" + key + at + "\nn=1\n"), 0);
        EXPECT_EQ(doc.Sections().at("S").at("k"), at);
        EXPECT_EQ(doc.Sections().at("S").at("n"), "1");
    }
    {
        // The same line as the file's last, without a line feed.
        ConfigDocument doc;
        EXPECT_EQ(LoadBytes(doc, dir, "[S]\n" + key + at), 0);
        EXPECT_EQ(doc.Sections().at("S").at("k"), at);
    }
    {
        // One more character stops the reading; what came before stays,
        // the keys collected for the open section included.
        ConfigDocument doc;
        EXPECT_EQ(LoadBytes(doc, dir, "[A]\na=1\n\n[S]\nfirst=1\n" + key + at + "v\nn=1\n\n[T]\nt=1\n"),
                  0);
        EXPECT_EQ(Dump(doc), "[A]{a=1}\n[S]{first=1}\n");
    }
    {
        // A carriage return before the line feed does not count.
        ConfigDocument doc;
        EXPECT_EQ(LoadBytes(doc, dir, "[S]\r\n" + key + at + "\r\nn=1\r\n"), 0);
        EXPECT_EQ(doc.Sections().at("S").size(), 2u);
    }
    {
        // Outside a section the limit applies too: a long comment ends it all.
        ConfigDocument doc;
        EXPECT_EQ(LoadBytes(doc, dir, "[A]\na=1\n\n#" + std::string(510, 'c') + "\n[B]\nb=1\n"), 0);
        EXPECT_EQ(Dump(doc), "[A]{a=1}\n");
    }
    {
        // A header of exactly 510 characters.
        ConfigDocument doc;
        const std::string name(508, 'n');
        EXPECT_EQ(LoadBytes(doc, dir, "[" + name + "]\nk=1\n"), 0);
        EXPECT_EQ(doc.Sections().count(name), 1u);
    }
}

TEST(ConfigReader, AZeroByteEndsTheLineButCountsTowardTheLimit) {
    zvtest::TempDir dir;
    {
        ConfigDocument doc;
        EXPECT_EQ(LoadBytes(doc, dir, "[S]\nk=v\0junk=2\nn=1\n"s), 0);
        EXPECT_EQ(Dump(doc), "[S]{k=v,n=1}\n");
    }
    {
        // A line that starts with the zero byte is empty and closes the section.
        ConfigDocument doc;
        EXPECT_EQ(LoadBytes(doc, dir, "[S]\nk=v\n\0x=1\nn=1\n"s), 0);
        EXPECT_EQ(Dump(doc), "[S]{k=v}\n");
    }
    {
        ConfigDocument doc;
        std::string line = "k=v";
        line += '\0';
        line += std::string(510 - line.size() + 1, 'z');  // 511 with the bytes after the zero
        EXPECT_EQ(LoadBytes(doc, dir, "[A]\na=1\n\n[S]\n" + line + "\n"), 0);
        EXPECT_EQ(Dump(doc), "[A]{a=1}\n[S]{}\n");
    }
}

TEST(ConfigReader, FileNamesLongerThanFiveHundredTenAreRejected) {
    zvtest::TempDir dir;
    ConfigDocument doc;
    ASSERT_EQ(LoadBytes(doc, dir, "[S]\nk=v\n"), 0);
    const std::u16string before = doc.FileName();

    std::u16string name510 = W(dir.path() + "/");
    name510.append(510 - name510.size(), u'n');
    std::u16string name511 = name510 + u'n';
    EXPECT_EQ(doc.Load(name511.c_str()), 1);
    EXPECT_EQ(std::u16string(doc.FileName()), before);  // old name and old content
    EXPECT_EQ(Dump(doc), "[S]{k=v}\n");

    // 510 is accepted (the host may refuse to open it: then it names a
    // document with no sections).
    EXPECT_EQ(doc.Load(name510.c_str()), 0);
    EXPECT_EQ(std::u16string(doc.FileName()), name510);
    EXPECT_TRUE(doc.Sections().empty());
}

TEST(ConfigReader, NarrowNamesAreLatin1AndNameTheFileTheWideNameNames) {
    zvtest::TempDir dir;
    // The host file "é.cfg" in UTF-8.
    cfgtest::WriteBytes(dir.file("\xC3\xA9.cfg"), "[S]\nk=v\n");
    ConfigDocument doc;
    const std::u16string name = W(dir.path() + "/") + u"\u00E9.cfg";
    EXPECT_EQ(doc.Load(name.c_str()), 0);
    EXPECT_EQ(Dump(doc), "[S]{k=v}\n");
    // Saving goes to the same host file.
    doc.SetValue(u"S", u"n", u"1", 1);
    EXPECT_EQ(cfgtest::ReadBytes(dir.file("\xC3\xA9.cfg")), "[S]\nk=v\nn=1\n\n");
}

TEST(ConfigReader, AnUnreadableFileReadsAsMissing) {
    zvtest::TempDir dir;
    cfgtest::RunWithPermissions(dir, [&] {
        cfgtest::WriteBytes(dir.file("locked.cfg"), "[S]\nk=v\n");
        chmod(dir.file("locked.cfg").c_str(), 0200);
        ConfigDocument doc;
        EXPECT_EQ(doc.Load(W(dir.file("locked.cfg")).c_str()), 0);
        EXPECT_TRUE(doc.Sections().empty());
    });
}
