// ConfigDocument: names without case, ordering, the operations and
// write-through; Save: the output format and replacing files whole.
#if !defined(_WIN32)
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include <thread>
#include <vector>

#include "child.h"
#include "config_util.h"

using namespace cfgtest;
namespace fs = std::filesystem;

namespace {

// Fills a document named `path` with n sections of n tagged keys, saved once.
void Fill(Document& doc, const std::string& path, int n, const std::string& tag) {
    doc.Load(W(path).c_str());
    doc.DeferSaves(true);
    for (int i = 0; i < n * n; ++i)
        doc.SetValue(W("S" + std::to_string(i / n)).c_str(), W("K" + std::to_string(i % n)).c_str(),
                     W(tag + std::string(40, 'v')).c_str(), 1);
    doc.DeferSaves(false);
}

// A document named doc.cfg in a temporary directory, not yet written.
struct ConfigDocument : ::testing::Test {
    ConfigDocument() { doc.Load(W(path).c_str()); }
    zvtest::TempDir dir;
    const std::string path = dir.file("doc.cfg");
    Document doc;
};

}  // namespace

TEST_F(ConfigDocument, NamesMeetWithoutCaseAndEveryChangeIsWrittenThrough) {
    EXPECT_EQ(ReadBytes(path), "<none>");  // Load only names the document
    EXPECT_EQ(doc.SetValue(u"Sec", u"Key", u"one", 0), 0);
    EXPECT_EQ(ReadBytes(path), OnDisk("[Sec]\nKey=one\n\n"));
    EXPECT_EQ(doc.SetValue(u"SEC", u"KEY", u"two", 1), 0);  // the first spelling stays
    EXPECT_EQ(ReadBytes(path), OnDisk("[Sec]\nKey=two\n\n"));
    EXPECT_EQ(doc.KeyExists(u"sEc", u"kEy") + doc.SectionExists(u"SEC"), 2);
    EXPECT_EQ(doc.KeyExists(u"Sec", u"Ke") + doc.KeyExists(u"Se", u"Key") + doc.SectionExists(u"Se"), 0);

    // Refused changes leave the document and the file alone.
    WriteBytes(path, "marker");
    EXPECT_EQ(doc.SetValue(u"sec", u"key", u"three", 0), 1);
    EXPECT_EQ(doc.AddSection(u"SEC"), 1);
    EXPECT_EQ(ReadBytes(path), "marker");
    EXPECT_EQ(Dump(doc), "[Sec]{Key=two}\n");
    EXPECT_EQ(doc.AddSection(u"Empty"), 0);
    EXPECT_EQ(ReadBytes(path), OnDisk("[Empty]\n\n[Sec]\nKey=two\n\n"));
    // Only A-Z are lowered; bytes from 0x80 up sort above ASCII.
    for (const char* key : {"\xC9", "b", "A", "_x"}) doc.SetValue(u"S", W(key).c_str(), u"", 1);
    EXPECT_EQ(doc.GetKeyNames(u"s"), (zv::NameList{"_x", "A", "b", "\xC9"}));
    // Failed reads leave the buffer alone; the empty value is a terminator only.
    ZVWCHAR buffer[2] = {u'#', u'#'};
    EXPECT_EQ(doc.GetValue(u"S", u"nope", buffer) + doc.GetValue(u"Nope", u"A", buffer), 2);
    EXPECT_EQ(buffer[0], u'#');
    EXPECT_EQ(doc.GetValue(u"S", u"_X", buffer), 0);
    EXPECT_EQ(std::u16string(buffer, 2), std::u16string(u"\0#", 2));
}

// Wide text is narrowed by its low bytes and widened by sign extension;
// texts far beyond 511 characters are carried whole, and nothing is written
// past a buffer (AddressSanitizer).
TEST_F(ConfigDocument, TextIsNarrowedByLowBytesAndKeptWhole) {
    const ZVWCHAR value[] = {u'a', 0x00E9, 0x0141, 0x007F, 0};
    EXPECT_EQ(doc.SetValue(u"S", u"\u00E9", value, 1), 0);
    EXPECT_EQ(ReadBytes(path), OnDisk("[S]\n\xE9=a\xE9\x41\x7F\n\n"));
    ZVWCHAR out[8];
    const ZVWCHAR signExtended[] = {0xFFE9, 0};  // names the same key
    EXPECT_EQ(doc.GetValue(u"S", signExtended, out), 0);
    EXPECT_EQ(std::u16string(out), (std::u16string{u'a', 0xFFE9, u'A', 0x7F}));

    const std::u16string text = W(std::string(4000, 'x'));
    EXPECT_EQ(doc.SetValue(text.c_str(), (text + u"k").c_str(), (text + u"v").c_str(), 1), 0);
    std::u16string whole(4002, u'#');
    EXPECT_EQ(doc.GetValue(text.c_str(), (text + u"k").c_str(), &whole[0]), 0);
    EXPECT_EQ(whole, text + u"v" + u'\0');
    EXPECT_EQ(ReadBytes(path).size(), 12 + 4000 + 3 + 8002 + 2 + 1 + 6 * (OnDisk("\n").size() - 1));  // six lines
}

TEST_F(ConfigDocument, SaveWritesTheFormatAndReadsBack) {
    Document back;
    doc.SetValue(u"ZV_HKEY_CLASSES\\Demo", u"default", u"x", 1);
    doc.SetValue(u"ZV_HKEY_CLASSES\\Demo", u"Mode", u"", 1);
    doc.SetValue(u"[odd] name", u"#k", u";v", 1);
    doc.SetValue(u"[odd] name", u"", u"   ", 1);  // the empty key; a value of spaces only
    doc.AddSection(u"Other");
    EXPECT_EQ(ReadBytes(path), OnDisk("[[odd] name]\n=   \n#k=;v\n\n[Other]\n\n[ZV_HKEY_CLASSES\\Demo]\ndefault=x\nMode=\n\n"));
    EXPECT_EQ(back.Load(W(path).c_str()), 0);
    EXPECT_EQ(Dump(back), Dump(doc));

    // Another name leaves the document's own alone; an empty document leaves
    // a file of no bytes.
    EXPECT_EQ(doc.Save(W(dir.file("copy.cfg")).c_str()), 0);
    EXPECT_EQ(ReadBytes(dir.file("copy.cfg")), ReadBytes(path));
    EXPECT_EQ(std::u16string(doc.FileName()), W(path));
    EXPECT_EQ(Document().Save(W(path).c_str()), 0);
    EXPECT_EQ(ReadBytes(path), "");
    EXPECT_EQ(FileCount(dir.path()), 2);  // no temporary file left
}

// A file closed to writing is left alone, one closed to reading reads as
// missing.
TEST_F(ConfigDocument, FilesClosedToWritingOrReadingAreLeftAlone) {
    cfgtest::RunWithPermissions(dir, [&] {
        Fill(doc, path, 1, "new");
        WriteBytes(path, "old");
#if defined(_WIN32)
        // Closed to writing on Windows: held open by a handle that shares
        // reading only.  (Wine keeps the read-only attribute as the file's
        // Unix mode, which does not stop root.)
        HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(reader, INVALID_HANDLE_VALUE);
#else
        chmod(path.c_str(), 0444);
#endif
        EXPECT_EQ(doc.Save(nullptr), 0);
        EXPECT_EQ(doc.SaveFile(nullptr), zv::SaveResult::kCannotOpen);
        EXPECT_EQ(doc.SaveFile(W(dir.file("no/such.cfg")).c_str()), zv::SaveResult::kCannotOpen);
        EXPECT_EQ(doc.Save(W(dir.path()).c_str()), 0);
        EXPECT_EQ(ReadBytes(path), "old");
        EXPECT_EQ(FileCount(dir.path()), 1);
#if defined(_WIN32)
        CloseHandle(reader);
        // (Windows closes a directory to writing only by its access list;
        // SavesThatCannotMakeATemporaryFileKeepTheOldFile shows a save that
        // can make no temporary file there.)
        // Closed to reading on Windows: held open by a handle that shares
        // nothing.  What it holds is read once the handle is gone.
        WriteBytes(path, "[S]\nk=v\n");
        HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
#else
        chmod(path.c_str(), 0644);
        // A writable file in a directory closed to writing is not written
        // in place either: there is no temporary file to replace it whole.
        chmod(dir.path().c_str(), 0555);
        EXPECT_EQ(doc.SaveFile(nullptr), zv::SaveResult::kFailed);
        chmod(dir.path().c_str(), 0755);
        EXPECT_EQ(ReadBytes(path), "old");
        chmod(path.c_str(), 0200);
#endif
        Document locked;
        EXPECT_EQ(locked.Load(W(path).c_str()), 0);
        EXPECT_TRUE(locked.Sections().empty());
#if defined(_WIN32)
        CloseHandle(holder);
        EXPECT_EQ(locked.Load(W(path).c_str()), 0);
        EXPECT_EQ(Dump(locked), "[S]{k=v}\n");
#endif
    });
}

#if defined(_WIN32)
// The saving child of SavesReplaceTheFileWhole on Windows: fills its two
// documents of the target named by the argument as the test does, says so,
// and saves them in turn until it is killed.
ZVTEST_CHILD_ROLE(Saver) {
    Document first, second;
    Fill(first, argument, 40, "first");
    Fill(second, argument, 40, "second");
    zvtest::Report(reportFd, "saving");
    for (;;) {
        first.Save(nullptr);
        second.Save(nullptr);
    }
}
#endif

// The text goes to a temporary file that then replaces the target: neither
// a full disk nor a process killed while saving leaves a part of a file.
TEST_F(ConfigDocument, SavesReplaceTheFileWhole) {
    Document& first = doc;
    Document second;
    Fill(first, path, 40, "first");  // about 80 KB each
    Fill(second, path, 40, "second");
    first.Save(nullptr);
    const std::string firstText = ReadBytes(path);

#if !defined(_WIN32)  // no file size limit on Windows
    // A file size limit makes writes past it fail as a full disk does (the
    // test has a process of its own: the signal stays ignored).
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit saved, small;
    getrlimit(RLIMIT_FSIZE, &saved);
    small = {16 * 1024, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_EQ(second.Save(nullptr), 0);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(ReadBytes(path), firstText);
#endif
    second.Save(nullptr);
    const std::string secondText = ReadBytes(path);
    ASSERT_NE(secondText, firstText);

    // Killed at random points: the old text or the new one, whole, also
    // under a name too long for the usual temporary name (POSIX: on Windows
    // such a path is past 260 characters).  Without a replacing rename (9x)
    // a kill between removing the old file and renaming the new one leaves
    // no file; the next Load puts it back.
#if defined(_WIN32)
    const std::vector<std::string> targets = {path};
#else
    const std::vector<std::string> targets = {path, dir.file(std::string(250, 'n'))};
#endif
    int missing = 0;
    for (const std::string& target : targets) {
        first.Load(W(target).c_str());   // Load empties: fill again
        second.Load(W(target).c_str());
        Fill(first, target, 40, "first");
        Fill(second, target, 40, "second");
        first.Save(nullptr);
        for (int round = 0; round < 60; ++round) {
#if defined(_WIN32)
            // The child is this program started again; the time runs from
            // its word that it saves.
            zvtest::Child child("Saver", target);
            std::string line;
            ASSERT_TRUE(child.ReadLine(&line, 30000));
            std::this_thread::sleep_for(std::chrono::microseconds(1000 + 600 * (round % 20)));
            child.Kill(9);
            EXPECT_NE(child.Wait(30000), -1);
#else
            pid_t child = fork();
            ASSERT_GE(child, 0);
            while (child == 0) {
                first.Save(nullptr);
                second.Save(nullptr);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(1000 + 600 * (round % 20)));
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
#endif
            std::string now = ReadBytes(target);
            if (now == "<none>") {
                EXPECT_TRUE(zvtest::Family9x());
                Document probe;
                probe.Load(W(target).c_str());
                now = ReadBytes(target);
                ++missing;
            }
            EXPECT_TRUE(now == firstText || now == secondText) << now.size();
        }
    }
    // What the killed savers left beside them goes with the next saves.
    const long targetCount = long(targets.size());
    const long left = FileCount(dir.path()) - targetCount;
    first.Save(nullptr);
    second.Load(W(path).c_str());
    second.Save(nullptr);
    EXPECT_EQ(FileCount(dir.path()), targetCount);
    printf("%ld kills: %d left no file, recovered by Load; %ld temporary files left, removed\n",
           60 * targetCount, missing, left);
}

#if defined(_WIN32)
// No temporary file beside the target: the save fails and the old file
// stays whole; it is never written in place.  On Windows a directory takes
// the temporary file's name ("<target>.<process>-<thread>.zvtmp"): a full
// file system needs a volume of its own, and a 250-character name is past
// the 260 characters of a path.
TEST_F(ConfigDocument, SavesThatCannotMakeATemporaryFileKeepTheOldFile) {
    Fill(doc, path, 10, "old");  // about 5 KB
    ASSERT_EQ(doc.SaveFile(nullptr), zv::SaveResult::kSaved);
    const std::string old = ReadBytes(path);
    Document big;
    Fill(big, path, 40, "new");  // about 80 KB
    const std::string temporary =
        path + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetCurrentThreadId()) + ".zvtmp";
    ASSERT_TRUE(fs::create_directory(temporary));
    EXPECT_EQ(big.SaveFile(nullptr), zv::SaveResult::kFailed);
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(FileCount(dir.path()), 2);  // nothing beside the directory
    fs::remove(temporary);
    EXPECT_EQ(big.SaveFile(nullptr), zv::SaveResult::kSaved);
    Document back;
    back.Load(W(path).c_str());
    EXPECT_EQ(Dump(back), Dump(big));
    EXPECT_EQ(FileCount(dir.path()), 1);
}
#else  // POSIX: a 250-character name, and a small file system of its own
// No temporary file beside the target (no inode, no space): the save fails
// and the old file stays whole; it is never written in place.  A name too
// long for the usual temporary name gets a short one.
TEST_F(ConfigDocument, SavesThatCannotMakeATemporaryFileKeepTheOldFile) {
    const std::string longName = dir.file(std::string(250, 'n'));
    Fill(doc, longName, 3, "long");
    EXPECT_EQ(doc.SaveFile(nullptr), zv::SaveResult::kSaved);
    EXPECT_EQ(doc.SaveFile(nullptr), zv::SaveResult::kSaved);  // over the old one
    Document back;
    back.Load(W(longName).c_str());
    EXPECT_EQ(Dump(back), Dump(doc));
    EXPECT_EQ(FileCount(dir.path()), 1);

    const std::string small = dir.file("small");
    fs::create_directory(small);
    if (geteuid() != 0 || mount("zvtest", small.c_str(), "tmpfs", 0, "size=128k,nr_inodes=16") != 0)
        GTEST_SKIP() << "a small file system needs root (mount)";
    const std::string target = small + "/doc.cfg";
    Document big;
    Fill(doc, target, 10, "old");  // about 5 KB
    Fill(big, target, 40, "new");  // about 80 KB
    ASSERT_EQ(doc.SaveFile(nullptr), zv::SaveResult::kSaved);
    const std::string old = ReadBytes(target);
    // Every inode taken.
    int fillers = 0;
    while (FILE* filler = fopen((small + "/f" + std::to_string(fillers)).c_str(), "w")) fclose(filler), ++fillers;
    EXPECT_EQ(big.SaveFile(nullptr), zv::SaveResult::kFailed);
    EXPECT_EQ(ReadBytes(target), old);
    for (int i = 0; i < fillers; ++i) unlink((small + "/f" + std::to_string(i)).c_str());
    // No space for the new text.
    WriteBytes(small + "/space", std::string(60 * 1024, 's'));
    EXPECT_EQ(big.SaveFile(nullptr), zv::SaveResult::kFailed);
    EXPECT_EQ(ReadBytes(target), old);
    EXPECT_EQ(FileCount(small), 2);  // no temporary file left
    unlink((small + "/space").c_str());
    EXPECT_EQ(big.SaveFile(nullptr), zv::SaveResult::kSaved);
    back.Load(W(target).c_str());
    EXPECT_EQ(Dump(back), Dump(big));
    umount(small.c_str());
}
#endif  // _WIN32
