// Save: the output format, reading back, and replacing files whole.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <thread>

#include "config_util.h"

using cfgtest::Dump;
using cfgtest::FileCount;
using cfgtest::ReadBytes;
using cfgtest::W;

namespace {

// Fills a document named `path` with n sections of n tagged keys, saved once.
void Fill(zv::ConfigDocument& doc, const std::string& path, int n, const std::string& tag) {
    doc.Load(W(path).c_str());
    doc.DeferSaves(true);
    for (int i = 0; i < n * n; ++i)
        doc.SetValue(W("S" + std::to_string(i / n)).c_str(), W("K" + std::to_string(i % n)).c_str(),
                     W(tag + std::string(40, 'v')).c_str(), 1);
    doc.DeferSaves(false);
}

}  // namespace

TEST(ConfigWriter, WritesTheFormatAndReadsBack) {
    zvtest::TempDir dir;
    zv::ConfigDocument doc, back;
    doc.Load(W(dir.file("out.cfg")).c_str());
    doc.SetValue(u"ZV_HKEY_CLASSES\\Demo", u"default", u"x", 1);
    doc.SetValue(u"ZV_HKEY_CLASSES\\Demo", u"Mode", u"", 1);
    doc.SetValue(u"[odd] name", u"#k", u";v", 1);
    doc.SetValue(u"[odd] name", u"", u"   ", 1);  // the empty key; a value of spaces only
    doc.AddSection(u"Other");
    EXPECT_EQ(ReadBytes(dir.file("out.cfg")), "[[odd] name]\n=   \n#k=;v\n\n[Other]\n\n[ZV_HKEY_CLASSES\\Demo]\ndefault=x\nMode=\n\n");
    EXPECT_EQ(back.Load(W(dir.file("out.cfg")).c_str()), 0);
    EXPECT_EQ(Dump(back), Dump(doc));

    // Another name leaves the document's own alone; an empty document leaves
    // a file of no bytes.
    EXPECT_EQ(doc.Save(W(dir.file("copy.cfg")).c_str()), 0);
    EXPECT_EQ(ReadBytes(dir.file("copy.cfg")), ReadBytes(dir.file("out.cfg")));
    EXPECT_EQ(std::u16string(doc.FileName()), W(dir.file("out.cfg")));
    EXPECT_EQ(zv::ConfigDocument().Save(W(dir.file("out.cfg")).c_str()), 0);
    EXPECT_EQ(ReadBytes(dir.file("out.cfg")), "");
    EXPECT_EQ(FileCount(dir.path()), 2);  // no temporary file left
}

TEST(ConfigWriter, ATargetClosedToWritingIsLeftAlone) {
    zvtest::TempDir dir;
    cfgtest::RunWithPermissions(dir, [&] {
        const std::string path = dir.file("ro.cfg");
        zv::ConfigDocument doc;
        Fill(doc, path, 1, "new");
        cfgtest::WriteBytes(path, "old");
        chmod(path.c_str(), 0444);
        EXPECT_EQ(doc.Save(nullptr), 0);
        EXPECT_EQ(doc.Save(W(dir.file("no/such.cfg")).c_str()), 0);
        EXPECT_EQ(doc.Save(W(dir.path()).c_str()), 0);
        EXPECT_EQ(ReadBytes(path), "old");
        EXPECT_EQ(FileCount(dir.path()), 1);
        // A writable file in a directory closed to writing is written in place.
        chmod(path.c_str(), 0644);
        chmod(dir.path().c_str(), 0555);
        EXPECT_EQ(doc.Save(nullptr), 0);
        chmod(dir.path().c_str(), 0755);
        EXPECT_EQ(ReadBytes(path), "[S0]\nK0=new" + std::string(40, 'v') + "\n\n");
    });
}

// The text goes to a temporary file that then replaces the target: neither
// a full disk nor a process killed while saving leaves a part of a file.
TEST(ConfigWriter, SavesReplaceTheFileWhole) {
    zvtest::TempDir dir;
    const std::string path = dir.file("big.cfg");
    zv::ConfigDocument first, second;
    Fill(first, path, 40, "first");  // about 80 KB each
    Fill(second, path, 40, "second");
    first.Save(nullptr);
    const std::string firstText = ReadBytes(path);

    // A file size limit makes writes past it fail as a full disk does.
    struct sigaction ignore = {}, previous;
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    struct rlimit saved, small;
    getrlimit(RLIMIT_FSIZE, &saved);
    small = saved;
    small.rlim_cur = 16 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_EQ(second.Save(nullptr), 0);
    setrlimit(RLIMIT_FSIZE, &saved);
    sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_EQ(ReadBytes(path), firstText);
    second.Save(nullptr);
    const std::string secondText = ReadBytes(path);
    ASSERT_NE(secondText, firstText);

    for (int round = 0; round < 20; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        while (child == 0) {
            first.Save(nullptr);
            second.Save(nullptr);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + 1500 * round));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        // Without a replacing rename (9x) the old file goes first; a crash
        // right then leaves the whole new text under the temporary name.
        if (zvtest::Family9x() && ReadBytes(path) == "<none>") continue;
        EXPECT_TRUE(ReadBytes(path) == firstText || ReadBytes(path) == secondText) << "round " << round;
    }
}
