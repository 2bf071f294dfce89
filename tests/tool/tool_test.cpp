// The zv tool as a user drives it: subcommands, good and bad input, exit
// codes, and a round trip through a file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support.h"

namespace {

typedef std::vector<std::string> Args;

struct Result {
    int exit;
    std::string out, err;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class ToolTest : public ::testing::Test {
  protected:
    void SetUp() override { setenv("ZV_REGISTRY", dir_.file("registry.db").c_str(), 1); }

    // Runs the tool in the test's directory (no argument holds a quote).
    Result Zv(const Args& args) {
        std::string command = "cd '" + dir_.path() + "' && '" ZV_TOOL_PATH "'";
        for (const std::string& arg : args) command += " '" + arg + "'";
        const int status = system((command + " >out 2>err </dev/null").c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(dir_.file("out")), Slurp(dir_.file("err"))};
    }

    zvtest::TempDir dir_;
};

const std::string kKey = "ZV_HKEY_CONFIG\\Software\\ToolDemo";

}  // namespace

TEST_F(ToolTest, UsageErrorsExitWithTwo) {
    const Result help = Zv({"--help"});
    EXPECT_EQ(help.exit, 0);
    EXPECT_TRUE(Has(help.out, "zv reg get KEY"));
    EXPECT_TRUE(Has(Zv({"reg", "get", "HKEY_NOWHERE\\x"}).err, "unknown root"));
    for (const Args& args : {Args{}, Args{"frobnicate"}, Args{"reg"}, Args{"reg", "fetch", kKey},
                             Args{"reg", "get", "HKEY_NOWHERE\\x"}, Args{"reg", "set", kKey},
                             Args{"reg", "delete", "HKLM"}, Args{"info", "extra"},
                             Args{"com", "register", "lib.so", "P.1", "d", "not-a-clsid"}})
        EXPECT_EQ(Zv(args).exit, 2) << (args.empty() ? "" : args.back());
}

TEST_F(ToolTest, RegistryValuesSetReadDrawAndDelete) {
    EXPECT_EQ(Zv({"reg", "set", kKey, "Color", "blue"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "set", kKey, "the default"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "set", kKey + "\\Inner", "Size", "10"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "get", "HKLM\\Software\\ToolDemo", "Color"}).out, "blue\n");
    EXPECT_EQ(Zv({"reg", "get", kKey}).out, "the default\n");
    const std::string tree = Zv({"reg", "tree", kKey}).out;
    for (const char* line : {"Color = \"blue\"", "(default) = \"the default\"", "Inner\\", "Size = \"10\""})
        EXPECT_TRUE(Has(tree, line)) << line;

    EXPECT_EQ(Zv({"reg", "delete", kKey}).exit, 0);
    const Result gone = Zv({"reg", "get", kKey, "Color"});
    EXPECT_EQ(gone.exit, 1);
    EXPECT_EQ(gone.out, "");
    EXPECT_TRUE(Has(gone.err, "0x80004005 (E_FAIL)"));
    EXPECT_EQ(Zv({"reg", "tree", kKey}).exit, 1);
    EXPECT_EQ(Zv({"reg", "delete", kKey}).exit, 1);
}

TEST_F(ToolTest, ExportAndImportRoundTripWithUndo) {
    ASSERT_EQ(Zv({"reg", "set", kKey, "Color", "blue"}).exit, 0);
    ASSERT_EQ(Zv({"reg", "export", kKey, "saved.cfg"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "export", kKey, "saved.cfg"}).exit, 1);  // never overwrites a file
    // Only the two roots with a text form can be exported.
    ASSERT_EQ(Zv({"reg", "set", "HKCU\\Software\\ToolDemo", "x", "y"}).exit, 0);
    const Result user = Zv({"reg", "export", "HKCU\\Software\\ToolDemo", "user.cfg"});
    EXPECT_EQ(user.exit, 1);
    EXPECT_TRUE(Has(user.err, "0x80070057 (E_INVALIDARG)"));

    ASSERT_EQ(Zv({"reg", "delete", kKey}).exit, 0);
    ASSERT_EQ(Zv({"reg", "import", "saved.cfg"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "get", kKey, "Color"}).out, "blue\n");
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
    EXPECT_EQ(created.exit, 0) << created.err;
    EXPECT_TRUE(Has(created.out, clsid + ": 0x00000000 (S_OK)"));
    EXPECT_TRUE(Has(Zv({"com", "create", "No.Such.Class"}).err, "E_FAIL"));
    EXPECT_EQ(Zv({"com", "unregister", "ZVSample.Greeter.1", clsid}).exit, 0);
    EXPECT_EQ(Zv({"com", "create", "ZVSample.Greeter.1"}).exit, 1);
    // A registered class whose server cannot be loaded.
    ASSERT_EQ(Zv({"com", "register", "/nonexistent/server.so", "Broken.1", "b", clsid}).exit, 0);
    const Result broken = Zv({"com", "create", "Broken.1"});
    EXPECT_EQ(broken.exit, 1);
    EXPECT_TRUE(Has(broken.err, "REGDB_E_CLASSNOTREG"));
}

TEST_F(ToolTest, AddressesInfoAndDemo) {
    const std::string parsed = Zv({"uri", "proto://server:99,t=a1,mode=r,flag/dbname"}).out;
    for (const char* line : {"scheme: proto\n", "port: 99\n", "attribute: mode = r\n", "attribute: flag\n"})
        EXPECT_TRUE(Has(parsed, line)) << line;
    EXPECT_EQ(Zv({"uri", "//server/dbname", "--json"}).out,
              "{\"ok\": true, \"scheme\": null, \"host\": \"server\", \"port\": null, \"path\": "
              "\"dbname\", \"transport\": null, \"link\": null, \"attributes\": []}\n");
    EXPECT_EQ(Zv({"uri", "//server/a/b"}).exit, 1);
    EXPECT_EQ(Zv({"uri", "a,,b", "--json"}).out, "{\"ok\": false}\n");

    const std::string info = Zv({"info"}).out;
    EXPECT_TRUE(Has(info, zvtest::Family9x() ? "9x family" : "NT family"));
    EXPECT_TRUE(Has(info, dir_.file("registry.db")));
    const Result demo = Zv({"demo"});
    EXPECT_EQ(demo.exit, 0) << demo.out << demo.err;
    EXPECT_TRUE(Has(demo.out, "Hello, world!"));
    EXPECT_TRUE(Has(demo.out, "description now:    \"ZV sample greeter\""));
    EXPECT_EQ(Zv({"reg", "get", "HKCR\\ZVSample.Greeter.1"}).exit, 1);
}
