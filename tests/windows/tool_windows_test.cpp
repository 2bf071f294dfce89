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

// UTF-8 text as Windows' UTF-16.
std::wstring WideOf(const std::string& utf8) {
    std::wstring wide(utf8.size() + 1, L'\0');
    wide.resize(size_t(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], int(wide.size())) - 1));
    return wide;
}

struct ToolWindowsTest : ::testing::Test {
    // Runs zv.exe in the test's folder, its output into files there.  The
    // arguments are UTF-8 and reach the tool in UTF-16, as a shell passes them.
    Result Zv(const Args& args) {
        std::string commandLine = "\"" ZV_TOOL_PATH "\"";
        for (const std::string& arg : args) commandLine += " \"" + arg + "\"";
        std::wstring wideLine = WideOf(commandLine);
        HANDLE out = Inheritable(dir_.file("out"), GENERIC_WRITE, CREATE_ALWAYS);
        HANDLE err = Inheritable(dir_.file("err"), GENERIC_WRITE, CREATE_ALWAYS);
        HANDLE in = Inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in, startup.hStdOutput = out, startup.hStdError = err;
        PROCESS_INFORMATION child;
        DWORD code = DWORD(-1);
        if (CreateProcessW(nullptr, &wideLine[0], nullptr, nullptr, TRUE, 0, nullptr, WideOf(dir_.path()).c_str(),
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

// A string value straight from the machine's registry in UTF-8, read with
// the wide calls so that no character is lost on the way, or "<none>".
std::string RegistryString(HKEY root, const char* path, const char* name) {
    wchar_t data[256];
    DWORD size = sizeof data, type = 0;
    HKEY key;
    if (RegOpenKeyExW(root, WideOf(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<none>";
    const LONG status = RegQueryValueExW(key, name ? WideOf(name).c_str() : nullptr, nullptr, &type,
                                         reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return "<none>";
    char utf8[1024];
    return WideCharToMultiByte(CP_UTF8, 0, data, -1, utf8, sizeof utf8, nullptr, nullptr) ? utf8 : "<none>";
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

// Each failure exits with 1 and names its cause, as Windows reported it:
// the machine's registry, its file system and its module loader.
TEST_F(ToolWindowsTest, FailuresNameTheirCause) {
    const std::string key = "ZV_HKEY_CONFIG\\Software\\ZvToolFailures", clsid = "{60F0173A-E9CD-4AD1-BC1E-A1F9003AE301}";
    auto write = [this](const std::string& name, const std::string& text) { std::ofstream(dir_.file(name)) << text; };
    ASSERT_EQ(Zv({"reg", "set", key, "Color", "blue"}).exit, 0);
    ASSERT_EQ(Zv({"reg", "set", "HKCR\\CLSID\\" + clsid + "\\InprocServer32", "C:\\nonexistent\\server.dll"}).exit, 0);
    ASSERT_EQ(Zv({"reg", "set", "HKCR\\ZvBroken.1\\CLSID", clsid}).exit, 0);
    write("exists.cfg", "keep");
    write("garbage.cfg", "[" + key + "\\G]\na=1\n\nstray words\n");
    write("longvalue.cfg", "[" + key + "\\V]\nok=" + std::string(255, 'v') + "\nlong=" + std::string(256, 'v') + "\n");
    write("notalibrary.dll", "text");
    const std::string nope = "HKLM\\Software\\ZvNope";
    const struct {
        Args args;
        std::vector<std::string> said;
    } cases[] = {
        {{"reg", "get", nope}, {"key not found: " + nope, "0x00000002 (ERROR_FILE_NOT_FOUND)"}},
        {{"reg", "get", key, "Nope"}, {"value not found: Nope in " + key}},
        {{"reg", "delete", nope}, {"key not found: " + nope, "0x80004005 (E_FAIL)"}},
        {{"reg", "set", "HKLM\\Software\\" + std::string(300, 'k'), "a", "b"}, {"too long: ", "characters, at most 255)"}},
        {{"reg", "export", key, "exists.cfg"}, {"file exists: exists.cfg", "0x80004005 (E_FAIL)"}},
        {{"reg", "export", key, "nofolder\\new.cfg"}, {"folder not found: nofolder"}},
        {{"reg", "export", "HKLM", "root.cfg"}, {"cannot export a whole root: HKLM", "E_INVALIDARG"}},
        {{"reg", "import", "missing.cfg"}, {"file not found: missing.cfg", "0x80004005 (E_FAIL)"}},
        {{"reg", "import", "garbage.cfg"}, {"garbage.cfg:4: outside any section", "--lenient"}},
        {{"reg", "import", "longvalue.cfg"}, {"longvalue.cfg:3: section name, key or value longer than 255"}},
        {{"com", "register", "C:\\nonexistent\\server.dll", "P.1", "d", clsid},
         {"server not found: C:\\nonexistent\\server.dll"}},
        {{"com", "register", "notalibrary.dll", "P.1", "d", clsid}, {"server cannot be loaded: "}},
        {{"com", "register", ZV_TEST_LIBRARY_PATH, "P.1", "d", clsid}, {"server does not export DllGetClassObject"}},
        {{"com", "register", ZV_SAMPLE_SERVER_PATH, "P.1", "d", "{60F0173A}"}, {"not a CLSID: {60F0173A}"}},
        {{"com", "create", "No.Such.Class"}, {"ProgID not registered: No.Such.Class", "E_FAIL"}},
        {{"com", "create", "ZvBroken.1"}, {"server not found: C:\\nonexistent\\server.dll", "REGDB_E_CLASSNOTREG"}},
    };
    for (const auto& c : cases) {
        const Result result = Zv(c.args);
        EXPECT_EQ(result.exit, 1) << c.args[1] << " " << c.args[2] << "\n" << result.err;
        for (const std::string& part : c.said) EXPECT_TRUE(Has(result.err, part)) << part << "\n" << result.err;
    }
    EXPECT_EQ(Slurp(dir_.file("exists.cfg")), "keep");
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, "Software\\ZvToolFailures\\V", "ok"), std::string(255, 'v'));
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, "Software\\ZvToolFailures\\V", "long"), "<none>");
    EXPECT_EQ(Zv({"reg", "delete", key}).exit, 0);
    EXPECT_EQ(Zv({"reg", "delete", "HKCR\\ZvBroken.1"}).exit, 0);
    EXPECT_EQ(Zv({"reg", "delete", "HKCR\\CLSID\\" + clsid}).exit, 0);
}

// Text reaches the registry whole, whatever the ANSI code page holds, and
// text that a configuration file cannot keep is written with a warning.
TEST_F(ToolWindowsTest, TextOutsideLatin1IsWrittenWithAWarning) {
    const std::string key = "ZV_HKEY_CONFIG\\Software\\ZvToolText";  // each test has keys of its own
    const Result price = Zv({"reg", "set", key, "Price", "5\xE2\x82\xAC"});  // 5 and the euro sign
    const Result name = Zv({"reg", "set", key, "Name", "caf\xC3\xA9 \xCE\xB1"});  // and an alpha
    EXPECT_TRUE(price.exit == 0 && name.exit == 0) << price.err << name.err;
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, "Software\\ZvToolText", "Price"), "5\xE2\x82\xAC");
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, "Software\\ZvToolText", "Name"), "caf\xC3\xA9 \xCE\xB1");
    EXPECT_EQ(Zv({"reg", "get", key, "Price"}).out, "5\xE2\x82\xAC\n");
    const Result exported = Zv({"reg", "export", key, "price.cfg"});
    EXPECT_TRUE(exported.exit == 0 && Has(exported.err, "warning: [" + key + "] Price: text outside ISO-8859-1"))
        << exported.err;
    std::ofstream(dir_.file("utf8.cfg")) << "[" << key << "]\nCity=caf\xC3\xA9\n";
    const Result imported = Zv({"reg", "import", "utf8.cfg"});
    EXPECT_TRUE(imported.exit == 0 && Has(imported.err, "warning: utf8.cfg:2: holds UTF-8 text")) << imported.err;
    EXPECT_EQ(Zv({"reg", "delete", key}).exit, 0);
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
