// The zv tool as a user drives it: subcommands, good and bad input, exit
// codes, the message that names each failure, and a round trip through a file.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "support.h"

namespace {

typedef std::vector<std::string> Args;

struct Result { int exit; std::string out, err; };

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const std::string kKey = "ZV_HKEY_CONFIG\\Software\\ToolDemo";
const std::string kClsid = "{60F0173A-E9CD-4AD1-BC1E-A1F9003AE300}";
const std::string kProgId = "ZVSample.Greeter.1";

struct ToolTest : ::testing::Test {
    // Runs the tool in the test's directory, on a registry file of its own
    // (no argument holds a quote); `prefix` (variables or a command that
    // runs the tool) goes before the tool, `out` is where its output goes.
    Result Zv(const Args& args, const std::string& prefix = "", const std::string& out = "out") {
        std::string command = "cd '" + dir_.path() + "' && env ZV_REGISTRY=registry.db " + prefix + " '" ZV_TOOL_PATH "'";
        for (const std::string& arg : args) command += " '" + arg + "'";
        const int status = system((command + " >" + out + " 2>err </dev/null").c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(dir_.file("out")), Slurp(dir_.file("err"))};
    }
    void Write(const std::string& name, const std::string& text) { std::ofstream(dir_.file(name)) << text; }
    zvtest::TempDir dir_;
};

}  // namespace

TEST_F(ToolTest, UsageErrorsExitWithTwo) {
    EXPECT_TRUE(Has(Zv({"--help"}).out, "zv reg get KEY"));
    EXPECT_EQ(Zv({"--version"}).out.rfind("zv ", 0), 0u);
    for (const Args& args : {Args{}, Args{"frobnicate"}, Args{"reg"}, Args{"reg", "fetch", kKey},
                             Args{"reg", "get", "HKEY_NOWHERE\\x"}, Args{"reg", "set", kKey},
                             Args{"reg", "delete", "HKLM"}, Args{"info", "extra"}, Args{"reg", "import"}})
        EXPECT_EQ(Zv(args).exit, 2) << (args.empty() ? "" : args.back());
}

TEST_F(ToolTest, RegistryValuesSetReadDrawExportImportAndDelete) {
    // The 9x family's registry calls take texts of at most 255 characters.
    const std::string longValue(zvtest::Family9x() ? 255 : 3000, 'v');
    EXPECT_EQ(Zv({"reg", "set", kKey, "Color", "blue"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "set", kKey, "the default"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "set", kKey + "\\Inner", "Size", "10"}).exit, 0);
    // Roots in any case and in their long forms; values of any length.
    for (const char* root : {"HKLM", "hklm", "HKEY_LOCAL_MACHINE", "Hkey_Local_Machine", "zv_hkey_config"})
        EXPECT_EQ(Zv({"reg", "get", root + std::string("\\Software\\ToolDemo"), "Color"}).out, "blue\n") << root;
    EXPECT_EQ(Zv({"reg", "get", kKey}).out, "the default\n");
    ASSERT_EQ(Zv({"reg", "set", "HKEY_CURRENT_USER\\Software\\Long", "v", longValue}).exit, 0);
    EXPECT_EQ(Zv({"reg", "get", "HKCU\\Software\\Long", "v"}).out, longValue + "\n");
    if (!zvtest::Family9x()) {
        EXPECT_TRUE(Has(Zv({"reg", "tree", "HKCU\\Software\\Long"}).out, "...\" (3000 characters)"));
    }
    const std::string tree = Zv({"reg", "tree", kKey}).out;
    EXPECT_TRUE(Has(tree, "(default) = \"the default\"") && Has(tree, "Inner\\") && Has(tree, "Size = \"10\""));
    ASSERT_EQ(Zv({"reg", "export", kKey, "saved.cfg"}).exit, 0);

    EXPECT_EQ(Zv({"reg", "delete", kKey}).exit, 0);
    EXPECT_EQ(Zv({"reg", "get", kKey, "Color"}).exit, 1);
    ASSERT_EQ(Zv({"reg", "import", "saved.cfg"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "get", kKey + "\\Inner", "Size"}).out, "10\n");
    // Change a value through a file, keep the old one in the undo file.
    Write("change.cfg", "[" + kKey + "]\nColor=green\n");
    const Result changed = Zv({"reg", "import", "change.cfg", "--undo"});
    ASSERT_EQ(changed.exit, 0) << changed.err;
    EXPECT_EQ(changed.out, "undo file: ~hange.cfg\n");
    EXPECT_EQ(Zv({"reg", "get", kKey, "Color"}).out, "green\n");
    ASSERT_EQ(Zv({"reg", "import", "./~hange.cfg"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "get", kKey, "Color"}).out, "blue\n");
}

// A file written before keys were held to 512 levels may hold a far deeper
// chain: the tree, the check and the export stop at 512 levels and say so
// instead of running out of stack.
TEST_F(ToolTest, TreesDeeperThanTheWalkLimitAreCutAndSaid) {
    ASSERT_EQ(Zv({"reg", "set", kKey + "\\Deep", "v", "top"}).exit, 0);
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(dir_.file("registry.db").c_str(), &db));
    const char* chain =
        "BEGIN;"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000)"
        " INSERT INTO keys(id, parent, fold, name)"
        " SELECT m.id + i, m.id + i - 1, x'004B', 'k' FROM n, (SELECT max(id) AS id FROM keys) AS m;"
        "COMMIT;";
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, chain, nullptr, nullptr, nullptr)) << sqlite3_errmsg(db);
    sqlite3_close(db);

    const Result tree = Zv({"reg", "tree", kKey + "\\Deep"});
    EXPECT_TRUE(tree.exit == 0 && Has(tree.out, "(not opened: deeper than 512 levels)")) << tree.exit << tree.err;
    const Result info = Zv({"info"});
    EXPECT_TRUE(info.exit == 0 && Has(info.out, "not walked: the subkeys of HKLM\\Software\\ToolDemo\\Deep\\k\\k") &&
                Has(info.out, "deeper than 512 levels"))
        << info.exit << info.out << info.err;
    const Result exported = Zv({"reg", "export", kKey, "deep.cfg"});
    EXPECT_EQ(exported.exit, 0) << exported.err;
    EXPECT_TRUE(Has(Slurp(dir_.file("deep.cfg")), "v=top"));
}

// Every failure exits with 1 and says what went wrong in words, with the
// code in hex and its name.
TEST_F(ToolTest, FailuresNameTheirCause) {
    ASSERT_EQ(Zv({"reg", "set", kKey, "Color", "blue"}).exit, 0);
    ASSERT_EQ(Zv({"reg", "set", "HKCU\\Software\\ToolDemo", "x", "y"}).exit, 0);
    ASSERT_EQ(Zv({"reg", "set", "HKCR\\CLSID\\" + kClsid + "\\InprocServer32", "/nonexistent/server.so"}).exit, 0);
    ASSERT_EQ(Zv({"reg", "set", "HKCR\\Broken.1\\CLSID", kClsid}).exit, 0);
    Write("exists.cfg", "keep");
    Write("garbage.cfg", "[" + kKey + "\\G]\na=1\n\nstray words\n");
    Write("noequals.cfg", "[" + kKey + "\\N]\na=1\nno equals sign\n");
    Write("bom.cfg", "\xEF\xBB\xBF[" + kKey + "\\B]\na=1\n");
    Write("header.cfg", "[" + kKey + "\\H]\na=1\n[" + kKey + "\\Sub\nb=2\n");
    Write("noroot.cfg", "[Software\\X]\na=1\n");
    Write("notalibrary.so", "text");
    // One past the import's 255 characters of a value, one past the 510 of a line.
    Write("longvalue.cfg", "[" + kKey + "\\V]\nok=" + std::string(255, 'v') + "\nlong=" + std::string(256, 'v') + "\n");
    const std::string key254(254, 'k'), key255(255, 'l'), value255(255, 'v');
    Write("longline.cfg", "[" + kKey + "\\L]\nok=1\n" + key254 + "=" + value255 + "\n" + key255 + "=" + value255 + "\n");
    const std::string tooLong(300, 'k');
    struct Case {
        Args args;
        std::vector<std::string> said;
    };
    std::vector<Case> cases = {
        {{"reg", "get", "HKLM\\Software\\Nope"}, {"key not found: HKLM\\Software\\Nope", "0x00000002 (ERROR_FILE_NOT_FOUND)"}},
        {{"reg", "get", kKey, "Nope"}, {"value not found: Nope in " + kKey}},
        {{"reg", "tree", "HKLM\\Software\\Nope"}, {"key not found: HKLM\\Software\\Nope", "ERROR_FILE_NOT_FOUND"}},
        {{"reg", "delete", "HKLM\\Software\\Nope"}, {"key not found: HKLM\\Software\\Nope", "0x80004005 (E_FAIL)"}},
        {{"reg", "set", "HKLM\\Software\\" + tooLong, "a", "b"}, {"too long: ", "characters, at most 255)"}},
        {{"reg", "export", kKey, "exists.cfg"}, {"file exists: exists.cfg", "0x80004005 (E_FAIL)"}},
        {{"reg", "export", "HKLM\\Software\\Nope", "new.cfg"}, {"key not found: HKLM\\Software\\Nope"}},
        {{"reg", "export", kKey, "nofolder/new.cfg"}, {"folder not found: nofolder"}},
        {{"reg", "export", "HKLM", "root.cfg"}, {"cannot export a whole root: HKLM", "E_INVALIDARG"}},
        {{"reg", "export", "HKCU\\Software\\ToolDemo", "user.cfg"}, {"0x80070057 (E_INVALIDARG)"}},
        {{"reg", "import", "missing.cfg"}, {"file not found: missing.cfg", "0x80004005 (E_FAIL)"}},
        {{"reg", "import", "garbage.cfg"}, {"garbage.cfg:4: outside any section", "--lenient"}},
        {{"reg", "import", "noequals.cfg"}, {"noequals.cfg:3: key line without '='"}},
        {{"reg", "import", "bom.cfg"}, {"bom.cfg:1: a byte-order mark"}},
        {{"reg", "import", "header.cfg"}, {"header.cfg:3: key line without '='"}},
        {{"reg", "import", "longvalue.cfg"}, {"longvalue.cfg:3: section name, key or value longer than 255"}},
        {{"reg", "import", "longline.cfg"}, {"longline.cfg:4: longer than 510 characters: reading stops"}},
        {{"reg", "import", "noroot.cfg"}, {"[Software\\X] is not a registry location", "E_FAIL"}},
        {{"com", "register", "/nonexistent/server.so", "P.1", "d", kClsid}, {"server not found: /nonexistent/server.so"}},
        {{"com", "register", "notalibrary.so", "P.1", "d", kClsid}, {"server cannot be loaded: /"}},
        {{"com", "register", ZV_TEST_LIBRARY_PATH, "P.1", "d", kClsid}, {"server does not export DllGetClassObject"}},
        {{"com", "register", ZV_SAMPLE_SERVER_PATH, "P.1", "d", "{60F0173A}"}, {"not a CLSID: {60F0173A}"}},
        {{"com", "unregister", "No.Such.Class", kClsid}, {"not registered: No.Such.Class"}},
        {{"com", "unregister", "Broken.1", "{00000000-0000-0000-0000-000000000001}"},
         {"Broken.1 names the class " + kClsid + ", not {00000000-0000-0000-0000-000000000001}"}},
        {{"com", "create", "No.Such.Class"}, {"ProgID not registered: No.Such.Class", "E_FAIL"}},
        {{"com", "create", "Broken.1"}, {"server not found: /nonexistent/server.so", "REGDB_E_CLASSNOTREG"}},
    };
    // A value too long for the export (only the NT family's calls can write one).
    if (!zvtest::Family9x()) {
        ASSERT_EQ(Zv({"reg", "set", "HKLM\\Software\\First", "Long", std::string(300, 'x')}).exit, 0);
        ASSERT_EQ(Zv({"reg", "set", "HKLM\\Software\\First", "After", "y"}).exit, 0);
        cases.push_back({{"reg", "export", "HKLM\\Software\\First", "first.cfg"},
                         {"not exported: [ZV_HKEY_CONFIG\\Software\\First] Long: it is longer than the 255",
                          "not exported: [ZV_HKEY_CONFIG\\Software\\First] After: it comes after Long",
                          "without 2 of the values"}});
    } else {
        cases.push_back({{"reg", "set", kKey, std::string(256, 'n'), "v"}, {"value name too long", "E_INVALIDARG"}});
    }
    for (const Case& c : cases) {
        const Result result = Zv(c.args);
        EXPECT_EQ(result.exit, 1) << c.args[1] << " " << c.args[2] << "\n" << result.err;
        for (const std::string& part : c.said) EXPECT_TRUE(Has(result.err, part)) << part << "\n" << result.err;
    }
    EXPECT_EQ(Slurp(dir_.file("exists.cfg")), "keep");
    // The wrong CLSID removed nothing; the import before the broken header did not
    // write its section either; --lenient accepts what was skipped.
    EXPECT_EQ(Zv({"reg", "get", "HKCR\\Broken.1\\CLSID"}).out, kClsid + "\n");
    for (const char* skipped : {"\\N", "\\B", "\\H"}) EXPECT_EQ(Zv({"reg", "get", kKey + skipped, "a"}).exit, 1);
    EXPECT_EQ(Zv({"reg", "get", kKey + "\\V", "ok"}).out, std::string(255, 'v') + "\n");
    EXPECT_EQ(Zv({"reg", "get", kKey + "\\V", "long"}).exit, 1);
    EXPECT_EQ(Zv({"reg", "get", kKey + "\\L", key254}).out, value255 + "\n");  // the 510-character line is read
    EXPECT_EQ(Zv({"reg", "get", kKey + "\\L", key255}).exit, 1);
    const Result lenient = Zv({"reg", "import", "garbage.cfg", "--lenient"});
    EXPECT_TRUE(lenient.exit == 0 && Has(lenient.err, "outside any section")) << lenient.err;
    // Output that cannot be written fails the command.
    const Result full = Zv({"reg", "get", kKey, "Color"}, "", "/dev/full");
    EXPECT_TRUE(full.exit == 1 && Has(full.err, "cannot write the output")) << full.err;
}

// The 9x family's calls narrow when the value is written, the NT family's
// when it is exported.
TEST_F(ToolTest, TextOutsideLatin1IsWrittenWithAWarning) {
    const Result set = Zv({"reg", "set", kKey, "Price", "5\xE2\x82\xAC"});  // 5 and the euro sign
    const Result exported = Zv({"reg", "export", kKey, "price.cfg"});
    EXPECT_TRUE(set.exit == 0 && exported.exit == 0) << set.err << exported.err;
    EXPECT_TRUE(zvtest::Family9x() ? Has(set.err, "warning: text outside ISO-8859-1")
                                   : Has(exported.err, "warning: [" + kKey + "] Price: text outside ISO-8859-1"))
        << set.err << exported.err;
    Write("utf8.cfg", "[" + kKey + "]\nName=caf\xC3\xA9\n");
    const Result imported = Zv({"reg", "import", "utf8.cfg"});
    EXPECT_TRUE(imported.exit == 0 && Has(imported.err, "warning: utf8.cfg:2: holds UTF-8 text")) << imported.err;
}

TEST_F(ToolTest, ComponentsRegisterCreateAndUnregister) {
    ASSERT_EQ(Zv({"com", "register", ZV_SAMPLE_SERVER_PATH, kProgId, "greeter", kClsid}).exit, 0);
    const Result created = Zv({"com", "create", kProgId});
    EXPECT_TRUE(created.exit == 0 && Has(created.out, kClsid + ": 0x00000000 (S_OK)")) << created.err;
    EXPECT_EQ(Zv({"com", "unregister", kProgId, kClsid}).exit, 0);
    EXPECT_EQ(Zv({"com", "create", kProgId}).exit, 1);
    EXPECT_EQ(Zv({"reg", "tree", "HKCR\\CLSID\\" + kClsid}).exit, 1);
}

// A registry the tool may only read, and one that is not a database.
TEST_F(ToolTest, ReadOnlyAndCorruptRegistriesAreNamed) {
    ASSERT_EQ(Zv({"reg", "set", kKey, "Color", "blue"}).exit, 0);
    const std::string registry = dir_.file("registry.db");
    ASSERT_EQ(0, chmod(registry.c_str(), 0444));
    ASSERT_EQ(0, chmod(dir_.path().c_str(), 0755));
    // As root, the check runs as nobody, who may read the files and write none.
    const std::string asReader = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
    EXPECT_EQ(Zv({"reg", "get", kKey, "Color"}, asReader).out, "blue\n");
    const Result info = Zv({"info"}, asReader);
    EXPECT_TRUE(info.exit == 0 && Has(info.out, "refused: the registry is read-only")) << info.out << info.err;
    const Result set = Zv({"reg", "set", kKey, "Color", "red"}, asReader);
    EXPECT_TRUE(set.exit == 1 && Has(set.err, "registry is read-only: registry.db")) << set.err;
    // The library's import passes over values it cannot write; the tool does not.
    Write("change.cfg", "[" + kKey + "]\nColor=red\n");
    const Result import = Zv({"reg", "import", "change.cfg"}, asReader);
    EXPECT_TRUE(import.exit == 1 && Has(import.err, "change.cfg:2: [" + kKey + "] Color was not written: registry is "
                                                    "read-only: registry.db")) << import.err;
    chmod(dir_.path().c_str(), 0700);

    Write("corrupt.db", std::string(8192, 'x'));
    for (const Args& args : {Args{"info"}, Args{"reg", "get", kKey, "Color"}, Args{"reg", "set", kKey, "a", "b"}}) {
        const Result result = Zv(args, "ZV_REGISTRY=corrupt.db");
        EXPECT_TRUE(result.exit == 1 && Has(result.err, "registry is corrupt: corrupt.db")) << args[0] << result.err;
    }
}

TEST_F(ToolTest, AddressesInfoAndDemo) {
    EXPECT_EQ(Zv({"uri", "//server/dbname", "--json"}).out,
              "{\"ok\": true, \"scheme\": null, \"host\": \"server\", \"port\": null, \"path\": "
              "\"dbname\", \"transport\": null, \"link\": null, \"attributes\": []}\n");
    EXPECT_TRUE(Has(Zv({"uri", "proto://server:99,t=a1,mode=r,flag/dbname"}).out, "attribute: mode = r\n"));
    EXPECT_EQ(Zv({"uri", "//server/a/b"}).exit, 1);
    EXPECT_EQ(Zv({"uri", "a,,b", "--json"}).out, "{\"ok\": false}\n");
    // A family the machine does not know is said, and the NT family used.
    const Result misspelt = Zv({"info"}, "ZV_EMULATE_FAMILY=9X");
    EXPECT_TRUE(Has(misspelt.err, "ZV_EMULATE_FAMILY=9X is neither 9x nor nt") && Has(misspelt.out, "NT family"))
        << misspelt.err;
    const std::string info = Zv({"info"}).out;
    EXPECT_TRUE(Has(info, zvtest::Family9x() ? "9x family" : "NT family") && Has(info, "registry.db") &&
                Has(info, "accepted") && Has(info, "all readable"))
        << info;
    // The demo works in a registry of its own: the user's registration of
    // the sample class stays as it was.
    ASSERT_EQ(Zv({"reg", "set", "HKCR\\" + kProgId, "mine"}).exit, 0);
    const Result demo = Zv({"demo"});
    EXPECT_TRUE(demo.exit == 0 && Has(demo.out, "Hello, world!") && Has(demo.out, "a registry of its own"))
        << demo.out << demo.err;
    EXPECT_EQ(Zv({"reg", "get", "HKCR\\" + kProgId}).out, "mine\n");
    const Result broken = Zv({"demo"}, "ZV_SAMPLE_SERVER=/nonexistent/server.so");
    EXPECT_TRUE(broken.exit == 1 && Has(broken.err, "a step of the demo failed")) << broken.err;
    EXPECT_EQ(Zv({"reg", "tree", "HKCR\\CLSID\\" + kClsid}).exit, 1);
}

// The README's zv lines run as written, from the top of the source tree
// (here: with the build's tool and sample server), and print what they say.
TEST_F(ToolTest, ReadmeCommands) {
    std::ifstream readme(ZV_TEST_DATA_DIR "/../../README.md");
    std::string line;
    while (std::getline(readme, line) && line != "## The zv tool") {}
    while (std::getline(readme, line) && line != "```sh") {}
    int run = 0;
    auto replace = [](std::string text, const std::string& from, const std::string& to) {
        for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
            text.replace(at, from.size(), to);
        return text;
    };
    while (std::getline(readme, line) && line != "```") {
        std::string command = replace(line, "build/tools/zv", "'" ZV_TOOL_PATH "'");
        command = replace(command, "build/examples/libzv_sample_server.so", ZV_SAMPLE_SERVER_PATH);
        // The line ends in a comment: the redirections go on the next line.
        const int status = system(("cd '" + dir_.path() + "' && (export ZV_REGISTRY=registry.db; " + command +
                                   "\n) >out 2>err </dev/null").c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << line << "\n" << Slurp(dir_.file("err"));
        const size_t prints = line.find("# prints: ");
        if (prints != std::string::npos) {
            std::string said = line.substr(prints + 10);
            said = said.substr(0, said.find("..."));
            EXPECT_EQ(Slurp(dir_.file("out")).rfind(said, 0), 0u) << line << "\n" << Slurp(dir_.file("out"));
        }
        ++run;
    }
    EXPECT_GE(run, 10);
}

// zv event: a script's waiter in the background meets a set from another
// process; waits time out; bad command lines exit with 2.
TEST_F(ToolTest, EventsMeetScriptsAcrossProcesses) {
    const std::string zv = "ZV_REGISTRY=registry.db '" ZV_TOOL_PATH "'";
    const std::string script = "cd '" + dir_.path() + "' && { " + zv +
                               " event create ping --timeout 20000 >waiter 2>&1; echo $? >>waiter; } & cd '" +
                               dir_.path() + "' && for i in $(seq 200); do " + zv +
                               " event set ping 2>/dev/null && break; sleep 0.05; done; wait";
    EXPECT_EQ(system(script.c_str()), 0);
    EXPECT_EQ(Slurp(dir_.file("waiter")), "created\nsignalled\n0\n");
    Result timedOut = Zv({"event", "create", "lonely", "--manual", "--timeout", "50"});
    EXPECT_EQ(timedOut.exit, 1);
    EXPECT_EQ(timedOut.out, "created\ntimed out\n");
    for (const char* action : {"set", "reset", "pulse", "wait"}) EXPECT_EQ(Zv({"event", action, "nobody"}).exit, 1) << action;
    for (const Args& args : {Args{"event"}, Args{"event", "set"}, Args{"event", "ring", "x"},
                             Args{"event", "set", "x", "--manual"}, Args{"event", "set", "x", "--timeout", "5"},
                             Args{"event", "wait", "x", "--timeout", "soon"}, Args{"event", "wait", "x", "--timeout"},
                             Args{"event", "wait", "x", "y"}})
        EXPECT_EQ(Zv(args).exit, 2) << args.back();
}
