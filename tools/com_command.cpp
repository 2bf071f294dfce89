// com_command.cpp - `zv com register|unregister|create`: in-process server
// registrations.  The library writes, removes and uses them; the tool checks
// beforehand what the library takes on trust (the server loads and exports
// DllGetClassObject, the CLSID is the one the ProgID names) and afterwards
// that the registry holds what was asked.
#include <stdio.h>

#include <filesystem>

#include "tools/cli.h"
#include "tools/registry_view.h"

namespace zvtool {
namespace {

const size_t kNarrowLimit = 255;   // texts of the 9x family's registry calls
const size_t kProgIdLimit = 505;   // the library's key path buffer

std::string ClsidForm() { return " (the form is {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX})"; }

// The default value of HKCR\path as text; false when there is none.
bool ClassesText(const WString& path, std::string* text) {
    HKEY key;
    if (OpenKey(HKEY_CLASSES_ROOT, path, KEY_READ, &key) != ERROR_SUCCESS) return false;
    Value value;
    const WString unnamed;
    LONG error = ReadValue(key, &unnamed, &value);
    RegCloseKey(key);
    if (error != ERROR_SUCCESS || !IsText(value.type)) return false;
    *text = Utf8(value.text);
    return true;
}

bool ClassesKeyExists(const WString& path) {
    HKEY key;
    if (OpenKey(HKEY_CLASSES_ROOT, path, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// Loads the server the way object creation will and looks for its entry;
// the exit status of a failure, else 0.
int CheckServer(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::u8path(path), error))
        return FailWin32("server not found: " + path, ERROR_FILE_NOT_FOUND);
    ZVHANDLE library = ZVOpenLibrary(Wide(path).c_str());
    if (!library) return FailWin32("server cannot be loaded: " + path, LONG(GetLastError()));
    void* entry = ZVGetSymbol(library, ZV_W("DllGetClassObject"));
    LONG lookup = LONG(GetLastError());
    ZVCloseLibrary(library);
    if (!entry) return FailWin32("server does not export DllGetClassObject: " + path, lookup);
    return kExitOk;
}

int ComRegister(const Args& args) {
    if (args.size() != 4) return UsageError("com register SERVER PROGID DESCRIPTION CLSID");
    CLSID parsed;
    if (!ParseClsid(args[3], &parsed)) return Fail("not a CLSID: " + args[3] + ClsidForm(), E_INVALIDARG);
    // The registry keeps the full path: object creation may run anywhere.
    std::error_code error;
    const std::string server = std::filesystem::absolute(std::filesystem::u8path(args[0]), error).u8string();
    const WString progId = Wide(args[1]), description = Wide(args[2]), clsid = Wide(args[3]);
    if (progId.empty() || progId.size() > kProgIdLimit)
        return Fail("ProgID empty or too long: " + args[1] + " (at most 505 characters)", E_INVALIDARG);
    if (!WideCalls() && (Wide(server).size() > kNarrowLimit || progId.size() + 6 > kNarrowLimit ||
                         description.size() > kNarrowLimit))
        return Fail("server path, ProgID or description too long for the 9x family (at most 255 characters)",
                    E_INVALIDARG);
    if (int failed = CheckServer(server)) return failed;
    HRESULT status = ZVRegisterComponent(Wide(server).c_str(), progId.c_str(), description.c_str(), clsid.c_str());
    if (FAILED(status)) {
        std::string cause = RegistryCause(ProbeWrite());
        return Fail(cause.empty() ? "cannot register " + args[1] : cause, status);
    }
    return kExitOk;
}

int ComUnregister(const Args& args) {
    if (args.size() != 2) return UsageError("com unregister PROGID CLSID");
    CLSID parsed;
    if (!ParseClsid(args[1], &parsed)) return Fail("not a CLSID: " + args[1] + ClsidForm(), E_INVALIDARG);
    const WString progId = Wide(args[0]), clsid = Wide(args[1]);
    const WString classKey = ZV_W("CLSID\\") + clsid;
    std::string named, classProgId;
    if (ClassesText(progId + ZV_W("\\CLSID"), &named)) {
        if (!SameText(named, args[1]))
            return Fail(args[0] + " names the class " + named + ", not " + args[1] + " (nothing was removed)",
                        E_INVALIDARG);
    } else if (ClassesKeyExists(progId)) {
        return Fail(args[0] + " names no class (nothing was removed)", E_INVALIDARG);
    } else if (!ClassesText(classKey, &classProgId) || !SameText(classProgId, args[0])) {
        // Neither the ProgID nor a class left behind by it.
        return FailWin32("not registered: " + args[0] + " " + args[1], ERROR_FILE_NOT_FOUND);
    }
    HRESULT status = ZVUnregisterComponent(progId.c_str(), clsid.c_str());
    if (ClassesKeyExists(progId) || ClassesKeyExists(classKey)) {
        std::string cause = RegistryCause(ProbeWrite());
        return Fail(cause.empty() ? "could not remove the registration of " + args[0] : cause, status);
    }
    return kExitOk;
}

// Why ZVCreateObject found no usable server for the class.
std::string ServerFailure(const std::string& clsid) {
    std::string server;
    if (!ClassesText(Wide("CLSID\\" + clsid + "\\InprocServer32"), &server)) return "class not registered: " + clsid;
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::u8path(server), error))
        return "server not found: " + server;
    return "server cannot be loaded or does not export DllGetClassObject: " + server;
}

int ComCreate(const Args& args) {
    if (args.size() != 1) return UsageError("com create PROGID");
    const WString progId = Wide(args[0]);
    ZVInitializeZCom();
    CLSID clsid = {};
    int result = kExitOk;
    HRESULT status = ZVClsidFromProgId(progId.c_str(), &clsid);
    if (FAILED(status)) {
        result = Fail((ClassesKeyExists(progId) ? "ProgID names no valid CLSID: " : "ProgID not registered: ") + args[0],
                      status);
    } else {
        void* object = nullptr;
        status = ZVCreateObject(0, &clsid, nullptr, &IID_IUnknown, &object);
        if (status == REGDB_E_CLASSNOTREG) {
            result = Fail(ServerFailure(ClsidText(clsid)), status);
        } else if (FAILED(status)) {
            result = Fail("cannot create an object of " + args[0] + " " + ClsidText(clsid), status);
        } else {
            printf("created an object of %s %s: %s\n", args[0].c_str(), ClsidText(clsid).c_str(),
                   StatusText(status).c_str());
            static_cast<IUnknown*>(object)->Release();
        }
    }
    ZVUninitializeZCom();
    return result;
}

}  // namespace

int ComCommand(const Args& args) {
    return Dispatch("com", {{"register", ComRegister}, {"unregister", ComUnregister}, {"create", ComCreate}}, args);
}

}  // namespace zvtool
