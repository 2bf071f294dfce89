// zv.exe as a user drives it on Windows, against the machine's own
// registry: subcommands, exit codes, and what lands in the registry.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support.h"
#include "windows_support.h"

namespace {

typedef std::vector<std::string> Args;

struct Result {
    int exit;
    std::string out, err;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text(std::istreambuf_iterator<char>(in), {});
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
    return text;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

HANDLE Inheritable(const std::string& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

struct ToolWindowsTest : ::testing::Test {
    // Runs zv.exe in the test's folder, its output into files there.
    Result Zv(const Args& args) {
        std::string commandLine = "\"" ZV_TOOL_PATH "\"";
        for (const std::string& arg : args) commandLine += " \"" + arg + "\"";
        HANDLE out = Inheritable(dir_.file("out"), GENERIC_WRITE, CREATE_ALWAYS);
        HANDLE err = Inheritable(dir_.file("err"), GENERIC_WRITE, CREATE_ALWAYS);
        HANDLE in = Inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in, startup.hStdOutput = out, startup.hStdError = err;
        PROCESS_INFORMATION child;
        DWORD code = DWORD(-1);
        if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, dir_.path().c_str(),
                           &startup, &child)) {
            if (WaitForSingleObject(child.hProcess, 60000) != WAIT_OBJECT_0) TerminateProcess(child.hProcess, DWORD(-1));
            GetExitCodeProcess(child.hProcess, &code);
            CloseHandle(child.hThread);
            CloseHandle(child.hProcess);
        }
        for (HANDLE h : {out, err, in}) CloseHandle(h);
        return {int(code), Slurp(dir_.file("out")), Slurp(dir_.file("err"))};
    }
    zvtest::TempDir dir_;
};

// A string value straight from the machine's registry, or "<none>".
std::string RegistryString(HKEY root, const char* path, const char* name) {
    char data[256];
    DWORD size = sizeof data, type = 0;
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<none>";
    const LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ ? std::string(data) : "<none>";
}

const std::string kKey = "ZV_HKEY_CONFIG\\Software\\ToolDemoWindows";

TEST_F(ToolWindowsTest, UsageErrorsExitWithTwo) {
    EXPECT_TRUE(Has(Zv({"--help"}).out, "zv reg get KEY"));
    for (const Args& args : {Args{}, Args{"frobnicate"}, Args{"reg"}, Args{"reg", "fetch", kKey},
                             Args{"reg", "get", "HKEY_NOWHERE\\x"}, Args{"reg", "set", kKey},
                             Args{"info", "extra"}})
        EXPECT_EQ(Zv(args).exit, 2) << (args.empty() ? "" : args.back());
}

TEST_F(ToolWindowsTest, RegistryValuesLandInTheMachinesRegistryAndComeBackFromAFile) {
    ASSERT_EQ(Zv({"reg", "set", kKey, "Color", "blue"}).exit, 0);
    ASSERT_EQ(Zv({"reg", "set", kKey + "\\Inner", "Size", "10"}).exit, 0);
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, "Software\\ToolDemoWindows", "Color"), "blue");
    EXPECT_EQ(Zv({"reg", "get", "HKLM\\Software\\ToolDemoWindows", "Color"}).out, "blue\n");
    const std::string tree = Zv({"reg", "tree", kKey}).out;
    EXPECT_TRUE(Has(tree, "Inner\\") && Has(tree, "Size = \"10\"")) << tree;
    ASSERT_EQ(Zv({"reg", "export", kKey, "saved.cfg"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "export", kKey, "saved.cfg"}).exit, 1);  // never overwrites a file
    EXPECT_EQ(Zv({"reg", "delete", kKey}).exit, 0);
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, "Software\\ToolDemoWindows", "Color"), "<none>");
    const Result gone = Zv({"reg", "get", kKey, "Color"});
    EXPECT_TRUE(gone.exit == 1 && Has(gone.err, "key not found")) << gone.err;
    ASSERT_EQ(Zv({"reg", "import", "saved.cfg"}).exit, 0);
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, "Software\\ToolDemoWindows\\Inner", "Size"), "10");
    EXPECT_EQ(Zv({"reg", "import", "missing.cfg"}).exit, 1);
    EXPECT_EQ(Zv({"reg", "delete", kKey}).exit, 0);
}

// The sample server serves one class, of this identifier.
TEST_F(ToolWindowsTest, ComponentsRegisterCreateAndUnregister) {
    const std::string clsid = "{60F0173A-E9CD-4AD1-BC1E-A1F9003AE300}";
    ASSERT_EQ(Zv({"com", "register", ZV_SAMPLE_SERVER_PATH, "ZVSample.WinGreeter.1", "greeter", clsid}).exit, 0);
    // The server is registered by its full Windows path.
    const std::string server = RegistryString(HKEY_CLASSES_ROOT, ("CLSID\\" + clsid + "\\InprocServer32").c_str(), nullptr);
    EXPECT_TRUE(server.size() > 2 && server[1] == ':' && Has(server, "\\libzv_sample_server.dll")) << server;
    const Result created = Zv({"com", "create", "ZVSample.WinGreeter.1"});
    EXPECT_TRUE(created.exit == 0 && Has(created.out, clsid + ": 0x00000000 (S_OK)")) << created.out << created.err;
    EXPECT_EQ(Zv({"com", "unregister", "ZVSample.WinGreeter.1", clsid}).exit, 0);
    EXPECT_EQ(Zv({"com", "create", "ZVSample.WinGreeter.1"}).exit, 1);
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, "ZVSample.WinGreeter.1\\CLSID", nullptr), "<none>");
}

TEST_F(ToolWindowsTest, AddressesAndInfo) {
    EXPECT_EQ(Zv({"uri", "//server/dbname", "--json"}).out,
              "{\"ok\": true, \"scheme\": null, \"host\": \"server\", \"port\": null, \"path\": "
              "\"dbname\", \"transport\": null, \"link\": null, \"attributes\": []}\n");
    EXPECT_EQ(Zv({"uri", "a,,b", "--json"}).out, "{\"ok\": false}\n");
    // The walk passes over keys closed to this user, the performance text
    // the system serves under ...\\Perflib\\009, and keys that a thread
    // makes and removes meanwhile.
    std::atomic<bool> stop(false);
    std::thread churn([&stop] {
        for (unsigned i = 0; !stop; ++i) {
            const std::string key = "Software\\ZvChurn\\k" + std::to_string(i % 50) + "\\inner";
            HKEY made;
            if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made,
                                nullptr) == ERROR_SUCCESS)
                RegCloseKey(made);
            if (i % 50 == 49) RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ZvChurn");
        }
    });
    for (int run = 0; run < 3; ++run) {
        const Result info = Zv({"info"});
        EXPECT_TRUE(info.exit == 0 && Has(info.out, "NT family") && Has(info.out, "the Windows registry") &&
                    Has(info.out, "values, all readable"))
            << info.out << info.err;
    }
    stop = true;
    churn.join();
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\ZvChurn");
}

// The keys below HKEY_CURRENT_USER\Software whose names begin with `prefix`.
std::vector<std::string> SoftwareKeys(const std::string& prefix) {
    std::vector<std::string> found;
    HKEY software;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &software) != ERROR_SUCCESS) return found;
    char name[256];
    for (DWORD index = 0, size = sizeof name;
         RegEnumKeyExA(software, index, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++index, size = sizeof name)
        if (std::string(name).compare(0, prefix.size(), prefix) == 0) found.push_back(name);
    RegCloseKey(software);
    return found;
}

// The demo works in a key of its own below HKEY_CURRENT_USER\Software and
// removes it, and the key a killed demo left (no process has id 0).
TEST_F(ToolWindowsTest, DemoRunsAndCleansUp) {
    HKEY left;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\ZV demo 0\\CLSID", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &left, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(left);
    const Result demo = Zv({"demo"});
    EXPECT_TRUE(demo.exit == 0 && Has(demo.out, "Hello, world!") && Has(demo.out, "description after:  \"ZV sample greeter, changed\""))
        << demo.out << demo.err;
    EXPECT_EQ(Zv({"reg", "get", "HKCR\\ZVSample.Greeter.1"}).exit, 1);  // the machine's own classes untouched
    EXPECT_EQ(SoftwareKeys("ZV demo "), std::vector<std::string>());
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path(), error))
        EXPECT_NE(entry.path().filename().string().rfind("zv-demo-", 0), 0u) << entry.path();  // its folder went
}

}  // namespace
