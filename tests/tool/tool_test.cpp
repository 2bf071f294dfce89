// The zv tool as a user drives it: subcommands, good and bad input, exit
// codes, and a round trip through a file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"

namespace {

struct Result {
    int exit;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& arg) {
    std::string quoted = "'";
    for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class ToolTest : public ::testing::Test {
  protected:
    void SetUp() override { setenv("ZV_REGISTRY", dir_.file("registry.db").c_str(), 1); }

    Result Zv(const std::vector<std::string>& args) {
        std::string command = "cd " + Quote(dir_.path()) + " && " + Quote(ZV_TOOL_PATH);
        for (const std::string& arg : args) command += " " + Quote(arg);
        command += " >" + Quote(dir_.file("out")) + " 2>" + Quote(dir_.file("err")) + " </dev/null";
        int status = system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(dir_.file("out")),
                Slurp(dir_.file("err"))};
    }

    zvtest::TempDir dir_;
};

const char kKey[] = "ZV_HKEY_CONFIG\\Software\\ToolDemo";

}  // namespace

TEST_F(ToolTest, UsageErrorsAndHelp) {
    EXPECT_EQ(Zv({}).exit, 2);
    Result help = Zv({"--help"});
    EXPECT_EQ(help.exit, 0);
    EXPECT_NE(help.out.find("zv reg get KEY"), std::string::npos);
    EXPECT_EQ(Zv({"reg", "get", "--help"}).exit, 0);
    EXPECT_EQ(Zv({"frobnicate"}).exit, 2);
    EXPECT_EQ(Zv({"reg"}).exit, 2);
    EXPECT_EQ(Zv({"reg", "fetch", kKey}).exit, 2);
    Result badRoot = Zv({"reg", "get", "HKEY_NOWHERE\\x"});
    EXPECT_EQ(badRoot.exit, 2);
    EXPECT_NE(badRoot.err.find("unknown root"), std::string::npos);
    EXPECT_EQ(Zv({"reg", "set", kKey}).exit, 2);
    EXPECT_EQ(Zv({"reg", "delete", "HKLM"}).exit, 2);  // never a whole root
    EXPECT_EQ(Zv({"com", "register", "lib.so", "P.1", "d", "not-a-clsid"}).exit, 2);
    EXPECT_EQ(Zv({"info", "extra"}).exit, 2);
}

TEST_F(ToolTest, RegistryValuesSetReadDrawAndDelete) {
    EXPECT_EQ(Zv({"reg", "set", kKey, "Color", "blue"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "set", kKey, "the default"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "set", std::string(kKey) + "\\Inner", "Size", "10"}).exit, 0);

    Result color = Zv({"reg", "get", kKey, "Color"});
    EXPECT_EQ(color.exit, 0);
    EXPECT_EQ(color.out, "blue\n");
    EXPECT_EQ(Zv({"reg", "get", kKey}).out, "the default\n");
    // The short root names the same key.
    EXPECT_EQ(Zv({"reg", "get", "HKLM\\Software\\ToolDemo", "Color"}).out, "blue\n");

    Result tree = Zv({"reg", "tree", kKey});
    EXPECT_EQ(tree.exit, 0);
    EXPECT_NE(tree.out.find("Color = \"blue\""), std::string::npos);
    EXPECT_NE(tree.out.find("(default) = \"the default\""), std::string::npos);
    EXPECT_NE(tree.out.find("Inner\\"), std::string::npos);
    EXPECT_NE(tree.out.find("Size = \"10\""), std::string::npos);

    EXPECT_EQ(Zv({"reg", "delete", kKey}).exit, 0);
    Result gone = Zv({"reg", "get", kKey, "Color"});
    EXPECT_EQ(gone.exit, 1);
    EXPECT_EQ(gone.out, "");
    EXPECT_NE(gone.err.find("0x80004005 (E_FAIL)"), std::string::npos);
    EXPECT_EQ(Zv({"reg", "tree", kKey}).exit, 1);
    EXPECT_EQ(Zv({"reg", "delete", kKey}).exit, 1);
}

TEST_F(ToolTest, ExportAndImportRoundTripWithUndo) {
    ASSERT_EQ(Zv({"reg", "set", kKey, "Color", "blue"}).exit, 0);
    ASSERT_EQ(Zv({"reg", "set", std::string(kKey) + "\\Inner", "Size", "10"}).exit, 0);
    ASSERT_EQ(Zv({"reg", "export", kKey, "saved.cfg"}).exit, 0);
    Result again = Zv({"reg", "export", kKey, "saved.cfg"});
    EXPECT_EQ(again.exit, 1);  // an export never overwrites a file
    EXPECT_NE(again.err.find("E_FAIL"), std::string::npos);
    // Only the two roots with a text form can be exported.
    ASSERT_EQ(Zv({"reg", "set", "HKCU\\Software\\ToolDemo", "x", "y"}).exit, 0);
    Result user = Zv({"reg", "export", "HKCU\\Software\\ToolDemo", "user.cfg"});
    EXPECT_EQ(user.exit, 1);
    EXPECT_NE(user.err.find("0x80070057 (E_INVALIDARG)"), std::string::npos);

    ASSERT_EQ(Zv({"reg", "delete", kKey}).exit, 0);
    ASSERT_EQ(Zv({"reg", "import", "saved.cfg"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "get", kKey, "Color"}).out, "blue\n");
    EXPECT_EQ(Zv({"reg", "get", std::string(kKey) + "\\Inner", "Size"}).out, "10\n");

    // Change a value through a file, keep the old one in the undo file.
    std::ofstream(dir_.file("change.cfg")) << "[" << kKey << "]\nColor=green\n";
    ASSERT_EQ(Zv({"reg", "import", "change.cfg", "--undo"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "get", kKey, "Color"}).out, "green\n");
    EXPECT_NE(Slurp(dir_.file("~hange.cfg")).find("Color=blue"), std::string::npos);
    ASSERT_EQ(Zv({"reg", "import", "./~hange.cfg"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "get", kKey, "Color"}).out, "blue\n");

    EXPECT_EQ(Zv({"reg", "import", "missing.cfg"}).exit, 1);
}

TEST_F(ToolTest, ComponentsRegisterCreateAndUnregister) {
    const std::string clsid = "{60F0173A-E9CD-4AD1-BC1E-A1F9003AE300}";
    ASSERT_EQ(Zv({"com", "register", ZV_SAMPLE_SERVER_PATH, "ZVSample.Greeter.1", "greeter", clsid})
                  .exit,
              0);
    Result created = Zv({"com", "create", "ZVSample.Greeter.1"});
    EXPECT_EQ(created.exit, 0) << created.err;
    EXPECT_NE(created.out.find(clsid), std::string::npos);
    EXPECT_NE(created.out.find("S_OK"), std::string::npos);

    Result unknown = Zv({"com", "create", "No.Such.Class"});
    EXPECT_EQ(unknown.exit, 1);
    EXPECT_NE(unknown.err.find("E_FAIL"), std::string::npos);

    EXPECT_EQ(Zv({"com", "unregister", "ZVSample.Greeter.1", clsid}).exit, 0);
    EXPECT_EQ(Zv({"com", "create", "ZVSample.Greeter.1"}).exit, 1);

    // A registered class whose server cannot be loaded.
    ASSERT_EQ(Zv({"com", "register", "/nonexistent/server.so", "Broken.1", "b", clsid}).exit, 0);
    Result broken = Zv({"com", "create", "Broken.1"});
    EXPECT_EQ(broken.exit, 1);
    EXPECT_NE(broken.err.find("REGDB_E_CLASSNOTREG"), std::string::npos);
}

TEST_F(ToolTest, AddressesForPeopleAndMachines) {
    Result parsed = Zv({"uri", "proto://server:99,t=a1,l=b2,mode=r,flag/dbname"});
    EXPECT_EQ(parsed.exit, 0);
    EXPECT_NE(parsed.out.find("scheme: proto\n"), std::string::npos);
    EXPECT_NE(parsed.out.find("port: 99\n"), std::string::npos);
    EXPECT_NE(parsed.out.find("attribute: mode = r\n"), std::string::npos);
    EXPECT_NE(parsed.out.find("attribute: flag\n"), std::string::npos);

    Result json = Zv({"uri", "//server/dbname", "--json"});
    EXPECT_EQ(json.exit, 0);
    EXPECT_EQ(json.out,
              "{\"ok\": true, \"scheme\": null, \"host\": \"server\", \"port\": null, \"path\": "
              "\"dbname\", \"transport\": null, \"link\": null, \"attributes\": []}\n");

    Result refused = Zv({"uri", "//server/a/b"});
    EXPECT_EQ(refused.exit, 1);
    EXPECT_NE(refused.err.find("not an address"), std::string::npos);
    EXPECT_EQ(Zv({"uri", "a,,b", "--json"}).out, "{\"ok\": false}\n");
}

TEST_F(ToolTest, InfoAndDemo) {
    Result info = Zv({"info"});
    EXPECT_EQ(info.exit, 0);
    EXPECT_NE(info.out.find("ZV_PLATFORM_WIN32"), std::string::npos);
    EXPECT_NE(info.out.find(zvtest::Family9x() ? "9x family" : "NT family"), std::string::npos);
    EXPECT_NE(info.out.find("spin count:"), std::string::npos);
    EXPECT_NE(info.out.find(dir_.file("registry.db")), std::string::npos);

    Result demo = Zv({"demo"});
    EXPECT_EQ(demo.exit, 0) << demo.out << demo.err;
    EXPECT_NE(demo.out.find("Hello, world!"), std::string::npos);
    EXPECT_NE(demo.out.find("description after:  \"ZV sample greeter, changed\""), std::string::npos);
    EXPECT_NE(demo.out.find("description now:    \"ZV sample greeter\""), std::string::npos);
    EXPECT_NE(demo.out.find("done:"), std::string::npos);
    EXPECT_EQ(Zv({"reg", "get", "HKCR\\ZVSample.Greeter.1"}).exit, 1);
}
