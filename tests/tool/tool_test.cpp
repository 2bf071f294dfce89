// The zv tool as a user drives it: subcommands, good and bad input, exit
// codes, and a round trip through a file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

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

struct ToolTest : ::testing::Test {
    // Runs the tool in the test's directory, on a registry file of its own
    // (no argument holds a quote).
    Result Zv(const Args& args) {
        std::string command = "cd '" + dir_.path() + "' && ZV_REGISTRY=registry.db '" ZV_TOOL_PATH "'";
        for (const std::string& arg : args) command += " '" + arg + "'";
        const int status = system((command + " >out 2>err </dev/null").c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(dir_.file("out")), Slurp(dir_.file("err"))};
    }
    zvtest::TempDir dir_;
};

const std::string kKey = "ZV_HKEY_CONFIG\\Software\\ToolDemo";

}  // namespace

TEST_F(ToolTest, UsageErrorsExitWithTwo) {
    EXPECT_TRUE(Has(Zv({"--help"}).out, "zv reg get KEY"));
    for (const Args& args : {Args{}, Args{"frobnicate"}, Args{"reg"}, Args{"reg", "fetch", kKey},
                             Args{"reg", "get", "HKEY_NOWHERE\\x"}, Args{"reg", "set", kKey},
                             Args{"reg", "delete", "HKLM"}, Args{"info", "extra"},
                             Args{"com", "register", "lib.so", "P.1", "d", "not-a-clsid"}})
        EXPECT_EQ(Zv(args).exit, 2) << (args.empty() ? "" : args.back());
}

TEST_F(ToolTest, RegistryValuesSetReadDrawExportImportAndDelete) {
    EXPECT_EQ(Zv({"reg", "set", kKey, "Color", "blue"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "set", kKey, "the default"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "set", kKey + "\\Inner", "Size", "10"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "get", "HKLM\\Software\\ToolDemo", "Color"}).out, "blue\n");
    EXPECT_EQ(Zv({"reg", "get", kKey}).out, "the default\n");
    const std::string tree = Zv({"reg", "tree", kKey}).out;
    EXPECT_TRUE(Has(tree, "(default) = \"the default\"") && Has(tree, "Inner\\") && Has(tree, "Size = \"10\""));
    ASSERT_EQ(Zv({"reg", "export", kKey, "saved.cfg"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "export", kKey, "saved.cfg"}).exit, 1);  // never overwrites a file
    // Only the two roots with a text form can be exported.
    ASSERT_EQ(Zv({"reg", "set", "HKCU\\Software\\ToolDemo", "x", "y"}).exit, 0);
    const Result user = Zv({"reg", "export", "HKCU\\Software\\ToolDemo", "user.cfg"});
    EXPECT_TRUE(user.exit == 1 && Has(user.err, "0x80070057 (E_INVALIDARG)"));

    EXPECT_EQ(Zv({"reg", "delete", kKey}).exit, 0);
    const Result gone = Zv({"reg", "get", kKey, "Color"});
    EXPECT_TRUE(gone.exit == 1 && gone.out.empty() && Has(gone.err, "0x80004005 (E_FAIL)"));
    EXPECT_TRUE(Zv({"reg", "tree", kKey}).exit == 1 && Zv({"reg", "delete", kKey}).exit == 1);
    ASSERT_EQ(Zv({"reg", "import", "saved.cfg"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "get", kKey + "\\Inner", "Size"}).out, "10\n");
    // Change a value through a file, keep the old one in the undo file.
    std::ofstream(dir_.file("change.cfg")) << "[" << kKey << "]\nColor=green\n";
    ASSERT_EQ(Zv({"reg", "import", "change.cfg", "--undo"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "get", kKey, "Color"}).out, "green\n");
    ASSERT_EQ(Zv({"reg", "import", "./~hange.cfg"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "get", kKey, "Color"}).out, "blue\n");
    EXPECT_EQ(Zv({"reg", "import", "missing.cfg"}).exit, 1);
}

TEST_F(ToolTest, ComponentsRegisterCreateAndUnregister) {
    const std::string clsid = "{60F0173A-E9CD-4AD1-BC1E-A1F9003AE300}";
    ASSERT_EQ(Zv({"com", "register", ZV_SAMPLE_SERVER_PATH, "ZVSample.Greeter.1", "greeter", clsid}).exit, 0);
    const Result created = Zv({"com", "create", "ZVSample.Greeter.1"});
    EXPECT_TRUE(created.exit == 0 && Has(created.out, clsid + ": 0x00000000 (S_OK)")) << created.err;
    const Result unknown = Zv({"com", "create", "No.Such.Class"});
    EXPECT_TRUE(unknown.exit == 1 && Has(unknown.err, "E_FAIL"));
    EXPECT_EQ(Zv({"com", "unregister", "ZVSample.Greeter.1", clsid}).exit, 0);
    EXPECT_EQ(Zv({"com", "create", "ZVSample.Greeter.1"}).exit, 1);
    // A registered class whose server cannot be loaded.
    ASSERT_EQ(Zv({"com", "register", "/nonexistent/server.so", "Broken.1", "b", clsid}).exit, 0);
    const Result broken = Zv({"com", "create", "Broken.1"});
    EXPECT_TRUE(broken.exit == 1 && Has(broken.err, "REGDB_E_CLASSNOTREG")) << broken.err;
}

TEST_F(ToolTest, AddressesInfoAndDemo) {
    EXPECT_EQ(Zv({"uri", "//server/dbname", "--json"}).out,
              "{\"ok\": true, \"scheme\": null, \"host\": \"server\", \"port\": null, \"path\": "
              "\"dbname\", \"transport\": null, \"link\": null, \"attributes\": []}\n");
    EXPECT_TRUE(Has(Zv({"uri", "proto://server:99,t=a1,mode=r,flag/dbname"}).out, "attribute: mode = r\n"));
    EXPECT_EQ(Zv({"uri", "//server/a/b"}).exit, 1);
    EXPECT_EQ(Zv({"uri", "a,,b", "--json"}).out, "{\"ok\": false}\n");
    const std::string info = Zv({"info"}).out;
    EXPECT_TRUE(Has(info, zvtest::Family9x() ? "9x family" : "NT family") && Has(info, "registry.db"));
    const Result demo = Zv({"demo"});
    EXPECT_TRUE(demo.exit == 0 && Has(demo.out, "Hello, world!")) << demo.err;
    EXPECT_EQ(Zv({"reg", "get", "HKCR\\ZVSample.Greeter.1"}).exit, 1);  // the demo cleans up
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
