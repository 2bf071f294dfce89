// registry.cpp - the Win32 registry calls of the emulated machine.
//
// Key handles come from the process-wide handle table; the predefined keys
// are fixed values that name the store's roots and views.  Names are UTF-16
// throughout; the narrow forms read and write ISO-8859-1 names, and the
// string data of the narrow forms (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) is
// converted the same way, so that the store always holds UTF-16 strings
// and a value written by one form reads back through the other.
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/posix/handles.h"
#include "platform/posix/registry_store.h"

namespace {

using zvp::reg::KeyId;
using zvp::reg::NameRef;
using zvp::reg::ValueView;

constexpr DWORD kDelete = 0x00010000;
constexpr DWORD kWriteDac = 0x00040000;
constexpr DWORD kWriteOwner = 0x00080000;
constexpr DWORD kMaximumAllowed = 0x02000000;
constexpr DWORD kGenericAll = 0x10000000;
constexpr DWORD kGenericExecute = 0x20000000;
constexpr DWORD kGenericWrite = 0x40000000;
constexpr DWORD kGenericRead = 0x80000000;
constexpr DWORD kWow64Flags = 0x00000300;
constexpr DWORD kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | kDelete | kWriteDac | kWriteOwner;
constexpr DWORD kOpenLinkOption = 0x00000008;

// Windows' limits on names, in characters.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;

class RegistryKey : public zvp::KernelObject {
  public:
    RegistryKey(KeyId id, DWORD access)
        : KernelObject(zvp::ObjectKind::RegistryKey), id(id), access(access) {}
    const KeyId id;
    const DWORD access;
    // Where this handle's enumerations stopped; the store reads and moves
    // them under its lock.
    zvp::reg::EnumCursor subkeys;
    zvp::reg::EnumCursor values;
};

struct OpenedKey {
    KeyId id;
    DWORD access;
    // The handle object, which keeps the cursors (null for the predefined
    // keys, which enumerate from the start each time).
    std::shared_ptr<RegistryKey> object;
};

// The predefined key a handle value stands for.  Windows reads only the
// low 32 bits of these values, so a zero-extended 0x80000002 is
// HKEY_LOCAL_MACHINE as well.  Table handles never reach bit 31.
bool PredefinedRoot(HKEY key, zvp::reg::Root* root) {
    switch (uint32_t(reinterpret_cast<uintptr_t>(key))) {
        case 0x80000000u: *root = zvp::reg::Root::ClassesRoot; return true;
        case 0x80000001u: *root = zvp::reg::Root::CurrentUser; return true;
        case 0x80000002u: *root = zvp::reg::Root::LocalMachine; return true;
        case 0x80000003u: *root = zvp::reg::Root::Users; return true;
        default: return false;
    }
}

bool IsPredefined(HKEY key) {
    zvp::reg::Root root;
    return PredefinedRoot(key, &root);
}

bool IsClassesRoot(HKEY key) {
    zvp::reg::Root root;
    return PredefinedRoot(key, &root) && root == zvp::reg::Root::ClassesRoot;
}

// The key that a handle names, and the access the handle grants.
DWORD KeyOf(HKEY key, OpenedKey* opened) {
    zvp::reg::Root root;
    if (!PredefinedRoot(key, &root)) {
        auto object = zvp::LookupHandleAs<RegistryKey>(reinterpret_cast<HANDLE>(key),
                                                       zvp::ObjectKind::RegistryKey);
        if (!object) return ERROR_INVALID_HANDLE;
        opened->id = object->id;
        opened->access = object->access;
        opened->object = std::move(object);
        return ERROR_SUCCESS;
    }
    // The predefined keys are open with all the access the store allows.
    bool readOnly = false;
    DWORD error = zvp::reg::RootKey(root, &opened->id, &readOnly);
    opened->access = readOnly ? DWORD(KEY_READ) : DWORD(KEY_ALL_ACCESS);
    return error;
}

// The rights a requested access mask stands for.
DWORD MapAccess(REGSAM requested) {
    DWORD access = requested & 0x001FFFFF & ~kWow64Flags;
    if (requested & (kGenericRead | kGenericExecute)) access |= KEY_READ;
    if (requested & kGenericWrite) access |= KEY_WRITE;
    if (requested & kGenericAll) access |= KEY_ALL_ACCESS;
    if (requested & kMaximumAllowed) {
        KeyId ignored;
        bool readOnly = false;
        zvp::reg::RootKey(zvp::reg::Root::LocalMachine, &ignored, &readOnly);
        access |= readOnly ? DWORD(KEY_READ) : DWORD(KEY_ALL_ACCESS);
    }
    return access;
}

bool OnlyBackslashes(const char16_t* p) {
    while (*p == u'\\') ++p;
    return *p == 0;
}

// Splits a key path at its backslashes.  Empty or null is the key itself;
// trailing backslashes are allowed, a leading one or an empty name between
// two is not, except that HKEY_CLASSES_ROOT takes one leading backslash
// (so "\\CLSID" and "\\" name CLSID and the key itself), as Windows does.
DWORD SplitPath(const char16_t* path, bool classesRoot, std::vector<NameRef>* parts) {
    parts->clear();
    if (!path || !*path) return ERROR_SUCCESS;
    if (classesRoot && *path == u'\\') ++path;
    if (*path == u'\\') return ERROR_BAD_PATHNAME;
    const char16_t* start = path;
    for (const char16_t* p = path;; ++p) {
        if (*p != u'\\' && *p != 0) continue;
        size_t length = size_t(p - start);
        if (length == 0) {
            if (OnlyBackslashes(p)) break;
            return ERROR_BAD_PATHNAME;
        }
        if (length > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
        parts->push_back(NameRef{start, length});
        if (*p == 0) break;
        start = p + 1;
    }
    return ERROR_SUCCESS;
}

size_t Length(const char16_t* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

// A value name; null is the unnamed value, as the empty name is.
DWORD ValueName(const char16_t* name, NameRef* ref) {
    ref->text = name ? name : u"";
    ref->length = name ? Length(name) : 0;
    return ref->length > kMaxValueNameLength ? DWORD(ERROR_INVALID_PARAMETER) : DWORD(ERROR_SUCCESS);
}

// Narrow text of the ANSI code page (ISO-8859-1) as UTF-16, unit for byte.
struct Widened {
    explicit Widened(const char* narrow) : isNull(narrow == nullptr) {
        if (narrow)
            for (; *narrow; ++narrow) text += char16_t(static_cast<unsigned char>(*narrow));
    }
    const char16_t* get() const { return isNull ? nullptr : text.c_str(); }
    std::u16string text;
    bool isNull;
};

// One UTF-16 unit in the ANSI code page.
char NarrowUnit(char16_t unit) { return unit <= 0xFF ? char(unit) : '?'; }

void CopyName(char16_t* out, const char16_t* name, size_t length) {
    memcpy(out, name, length * sizeof(char16_t));
    out[length] = 0;
}

void CopyName(char* out, const char16_t* name, size_t length) {
    for (size_t i = 0; i < length; ++i) out[i] = NarrowUnit(name[i]);
    out[length] = 0;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// What a value's data comes to in the form the caller reads: the narrow
// forms get string data in the ANSI code page, one byte per stored unit.
struct DataOut {
    LPDWORD type;
    LPBYTE data;
    LPDWORD size;
    bool narrow;
};

// The size of a value's data in the form the caller reads.
size_t NeededSize(const DataOut& out, const ValueView& value) {
    return out.narrow && IsStringType(value.type) ? value.size / 2 : value.size;
}

// Whether the caller's buffer takes the data (no buffer: only the size is asked).
bool DataFits(const DataOut& out, const ValueView& value) {
    return !out.data || *out.size >= NeededSize(out, value);
}

// String data stored without its terminator gets one in the caller's
// buffer when there is room after the data; the size reported stays the
// data's.  Empty data is left alone, and one terminator is added at most.
void Terminate(const DataOut& out, DWORD type, size_t needed, DWORD capacity) {
    if (!IsStringType(type) || needed == 0) return;
    size_t unit = out.narrow ? 1 : 2;
    if (needed % unit != 0 || capacity < needed + unit) return;
    if (out.data[needed - 1] == 0 && out.data[needed - unit] == 0) return;
    memset(out.data + needed, 0, unit);
}

DWORD DeliverData(const DataOut& out, const ValueView& value) {
    size_t needed = NeededSize(out, value);
    if (needed > 0xFFFFFFFFu) return ERROR_NOT_ENOUGH_MEMORY;
    // Type and size may point at one variable: the capacity is read first.
    DWORD capacity = out.size ? *out.size : 0;
    if (out.type) *out.type = value.type;
    if (out.data) {
        if (capacity < needed) {
            *out.size = DWORD(needed);
            return ERROR_MORE_DATA;
        }
        if (out.narrow && IsStringType(value.type)) {
            for (size_t i = 0; i < needed; ++i)
                out.data[i] = BYTE(NarrowUnit(char16_t(value.data[2 * i] | value.data[2 * i + 1] << 8)));
        } else if (needed) {
            memcpy(out.data, value.data, needed);
        }
        Terminate(out, value.type, needed, capacity);
    }
    if (out.size) *out.size = DWORD(needed);
    return ERROR_SUCCESS;
}

DWORD DeliverQueried(void* context, const ValueView& value) {
    return DeliverData(*static_cast<DataOut*>(context), value);
}

// The key a handle names, provided the handle grants `right`.
DWORD KeyWith(HKEY key, DWORD right, OpenedKey* opened) {
    DWORD error = KeyOf(key, opened);
    if (error == ERROR_SUCCESS && !(opened->access & right)) return ERROR_ACCESS_DENIED;
    return error;
}

// The key a handle names and the names of a path below it.
DWORD KeyAndPath(HKEY key, const char16_t* subKey, OpenedKey* parent, std::vector<NameRef>* parts) {
    DWORD error = KeyOf(key, parent);
    return error == ERROR_SUCCESS ? SplitPath(subKey, IsClassesRoot(key), parts) : error;
}

// The key a handle names, provided the handle grants `right`, and a value
// name in it.
DWORD KeyAndValue(HKEY key, DWORD right, const char16_t* valueName, OpenedKey* opened,
                  NameRef* name) {
    DWORD error = KeyWith(key, right, opened);
    return error == ERROR_SUCCESS ? ValueName(valueName, name) : error;
}

// A new handle to a key found or made.
DWORD HandOut(KeyId id, DWORD access, PHKEY result) {
    auto object = std::make_shared<RegistryKey>(id, access);
    HKEY handle = reinterpret_cast<HKEY>(zvp::InsertHandle(std::move(object)));
    if (!handle) return ERROR_NOT_ENOUGH_MEMORY;
    *result = handle;
    return ERROR_SUCCESS;
}

// Opens a key below an open one, or with `create` makes the missing keys of
// the path on the way.
LSTATUS FindKey(HKEY key, const char16_t* subKey, REGSAM requested, PHKEY result, bool create,
                bool isVolatile, LPDWORD disposition) {
    OpenedKey parent;
    std::vector<NameRef> parts;
    DWORD error = KeyAndPath(key, subKey, &parent, &parts);
    if (error != ERROR_SUCCESS) return LSTATUS(error);
    DWORD access = MapAccess(requested);
    bool write = (access & kWriteRights) != 0;
    KeyId id;
    bool created = false;
    // Windows ignores the rights of the handle a key is created through.
    if (create)
        error = zvp::reg::CreateKey(parent.id, parts.data(), parts.size(), write, true, &id,
                                    &created, isVolatile);
    else
        error = zvp::reg::OpenKey(parent.id, parts.data(), parts.size(), write, &id);
    if (error == ERROR_SUCCESS) error = HandOut(id, access, result);
    if (error == ERROR_SUCCESS && disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return LSTATUS(error);
}

LSTATUS CreateKey(HKEY key, const char16_t* subKey, DWORD options, REGSAM requested, PHKEY result,
                  LPDWORD disposition) {
    if (!result) return ERROR_BADKEY;
    *result = nullptr;
    if (!subKey || (options & ~DWORD(REG_OPTION_VOLATILE))) return ERROR_INVALID_PARAMETER;
    return FindKey(key, subKey, requested, result, true, (options & REG_OPTION_VOLATILE) != 0,
                   disposition);
}

LSTATUS OpenKey(HKEY key, const char16_t* subKey, DWORD options, REGSAM requested, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    // A predefined key with no path is handed back as it is.
    if ((!subKey || !*subKey) && IsPredefined(key)) {
        *result = key;
        return ERROR_SUCCESS;
    }
    *result = nullptr;
    if (options & ~kOpenLinkOption) return ERROR_INVALID_PARAMETER;
    return FindKey(key, subKey, requested, result, false, false, nullptr);
}

LSTATUS SetValue(HKEY key, const char16_t* valueName, DWORD type, const BYTE* data, DWORD size) {
    if (!data && size) return ERROR_NOACCESS;
    OpenedKey opened;
    NameRef name;
    DWORD error = KeyAndValue(key, KEY_SET_VALUE, valueName, &opened, &name);
    if (error != ERROR_SUCCESS) return LSTATUS(error);
    return LSTATUS(zvp::reg::SetValue(opened.id, name, type, data, size));
}

LSTATUS QueryValue(HKEY key, const char16_t* valueName, LPDWORD reserved, LPDWORD type,
                   LPBYTE data, LPDWORD size, bool narrow) {
    if (reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
    OpenedKey opened;
    NameRef name;
    DWORD error = KeyAndValue(key, KEY_QUERY_VALUE, valueName, &opened, &name);
    if (error != ERROR_SUCCESS) return LSTATUS(error);
    DataOut out = {type, data, size, narrow};
    error = zvp::reg::QueryValue(opened.id, name, DeliverQueried, &out);
    // A size query of a missing value answers 0.
    if (error == ERROR_FILE_NOT_FOUND && size && !data) *size = 0;
    return LSTATUS(error);
}

template <class Char>
LSTATUS EnumKey(HKEY key, DWORD index, Char* name, LPDWORD nameLength, LPDWORD reserved,
                Char* keyClass, LPDWORD classLength, PFILETIME lastWriteTime) {
    if (!name || !nameLength || reserved || (keyClass && !classLength))
        return ERROR_INVALID_PARAMETER;
    OpenedKey opened;
    DWORD error = KeyWith(key, KEY_ENUMERATE_SUB_KEYS, &opened);
    if (error != ERROR_SUCCESS) return LSTATUS(error);
    std::u16string found;
    error = zvp::reg::EnumKey(opened.id, index, opened.object ? &opened.object->subkeys : nullptr,
                              &found);
    if (error != ERROR_SUCCESS) return LSTATUS(error);
    // The capacity counts the terminator; the length returned does not.
    if (found.size() + 1 > *nameLength) return ERROR_MORE_DATA;
    CopyName(name, found.data(), found.size());
    *nameLength = DWORD(found.size());
    // Keys have no class, and no write time is kept.
    if (keyClass) {
        if (*classLength < 1) return ERROR_MORE_DATA;
        keyClass[0] = 0;
    }
    if (classLength) *classLength = 0;
    if (lastWriteTime) lastWriteTime->dwLowDateTime = lastWriteTime->dwHighDateTime = 0;
    return ERROR_SUCCESS;
}

template <class Char>
struct EnumeratedValue {
    Char* name;
    LPDWORD nameLength;
    DataOut out;
};

// A name that does not fit still reports the data's type and size, and
// writes neither name nor data.  Data that does not fit: the wide form has
// written the name by then, the narrow form leaves it, as Windows' do.
template <class Char>
DWORD DeliverEnumerated(void* context, const ValueView& value) {
    auto* target = static_cast<EnumeratedValue<Char>*>(context);
    const DataOut& out = target->out;
    if (value.nameLength + 1 > *target->nameLength) {
        size_t needed = NeededSize(out, value);
        if (out.type) *out.type = value.type;
        if (out.size && needed <= 0xFFFFFFFFu) *out.size = DWORD(needed);
        return ERROR_MORE_DATA;
    }
    if (sizeof(Char) == 2 || DataFits(out, value)) {
        CopyName(target->name, value.name, value.nameLength);
        *target->nameLength = DWORD(value.nameLength);
    }
    return DeliverData(out, value);
}

template <class Char>
LSTATUS EnumValue(HKEY key, DWORD index, Char* valueName, LPDWORD valueNameLength,
                  LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (!valueName || !valueNameLength || reserved || (data && !dataSize))
        return ERROR_INVALID_PARAMETER;
    OpenedKey opened;
    DWORD error = KeyWith(key, KEY_QUERY_VALUE, &opened);
    if (error != ERROR_SUCCESS) return LSTATUS(error);
    EnumeratedValue<Char> target = {valueName, valueNameLength,
                                    DataOut{type, data, dataSize, sizeof(Char) == 1}};
    return LSTATUS(zvp::reg::EnumValue(opened.id, index,
                                       opened.object ? &opened.object->values : nullptr,
                                       DeliverEnumerated<Char>, &target));
}

LSTATUS DeleteKey(HKEY key, const char16_t* subKey, bool subtree) {
    if (!subKey) return ERROR_INVALID_PARAMETER;
    // As on Windows, the right to delete is checked on the key deleted (here:
    // the store's), not on the handle it is named through.
    OpenedKey parent;
    std::vector<NameRef> parts;
    DWORD error = KeyAndPath(key, subKey, &parent, &parts);
    if (error != ERROR_SUCCESS) return LSTATUS(error);
    return LSTATUS(zvp::reg::DeleteKey(parent.id, parts.data(), parts.size(), subtree));
}

// String data from a narrow form: each byte becomes one stored unit.
std::vector<BYTE> WidenData(const BYTE* data, DWORD size) {
    std::vector<BYTE> wide(size_t(size) * 2);
    for (DWORD i = 0; i < size; ++i) wide[2 * size_t(i)] = data[i];
    return wide;
}

}  // namespace

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD options, REGSAM access,
                        LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    if (zvp::WideCallUnavailable()) return ERROR_CALL_NOT_IMPLEMENTED;
    return CreateKey(key, subKey, options, access, result, disposition);
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD options, REGSAM access,
                        LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    Widened path(subKey);
    return CreateKey(key, path.get(), options, access, result, disposition);
}

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    if (zvp::WideCallUnavailable()) return ERROR_CALL_NOT_IMPLEMENTED;
    return OpenKey(key, subKey, options, access, result);
}

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    // Unlike the wide form, the narrow one leaves the result alone for a
    // null key.
    if (!key && result) return ERROR_INVALID_HANDLE;
    Widened path(subKey);
    return OpenKey(key, path.get(), options, access, result);
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data,
                       DWORD size) {
    if (zvp::WideCallUnavailable()) return ERROR_CALL_NOT_IMPLEMENTED;
    return SetValue(key, valueName, type, data, size);
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data,
                       DWORD size) {
    Widened name(valueName);
    // 9x refuses a string without data; NT stores an empty one.
    if (type == REG_SZ && !data && !size && zvp::IsFamily9x()) return ERROR_INVALID_PARAMETER;
    if (!IsStringType(type) || !data) return SetValue(key, name.get(), type, data, size);
    if (size > 0x7FFFFFFFu) return ERROR_NOT_ENOUGH_MEMORY;
    std::vector<BYTE> wide = WidenData(data, size);
    return SetValue(key, name.get(), type, wide.data(), size * 2);
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size) {
    if (zvp::WideCallUnavailable()) return ERROR_CALL_NOT_IMPLEMENTED;
    return QueryValue(key, valueName, reserved, type, data, size, false);
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size) {
    Widened name(valueName);
    return QueryValue(key, name.get(), reserved, type, data, size, true);
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                      LPWSTR keyClass, LPDWORD classLength, PFILETIME lastWriteTime) {
    if (zvp::WideCallUnavailable()) return ERROR_CALL_NOT_IMPLEMENTED;
    return EnumKey<char16_t>(key, index, name, nameLength, reserved, keyClass, classLength,
                             lastWriteTime);
}

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved,
                      LPSTR keyClass, LPDWORD classLength, PFILETIME lastWriteTime) {
    return EnumKey<char>(key, index, name, nameLength, reserved, keyClass, classLength,
                         lastWriteTime);
}

LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameLength,
                      LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (zvp::WideCallUnavailable()) return ERROR_CALL_NOT_IMPLEMENTED;
    return EnumValue<char16_t>(key, index, valueName, valueNameLength, reserved, type, data,
                               dataSize);
}

LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameLength,
                      LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    return EnumValue<char>(key, index, valueName, valueNameLength, reserved, type, data, dataSize);
}

LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    if (zvp::WideCallUnavailable()) return ERROR_CALL_NOT_IMPLEMENTED;
    return DeleteKey(key, subKey, false);
}

LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) {
    // The 9x family removes the whole subtree; NT refuses a key with subkeys.
    Widened path(subKey);
    return DeleteKey(key, path.get(), zvp::IsFamily9x());
}

LSTATUS RegCloseKey(HKEY key) {
    if (IsPredefined(key)) return ERROR_SUCCESS;
    HANDLE handle = reinterpret_cast<HANDLE>(key);
    if (!zvp::LookupHandle(handle, zvp::ObjectKind::RegistryKey)) return ERROR_INVALID_HANDLE;
    return zvp::RemoveHandle(handle) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
