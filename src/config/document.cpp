// document.cpp - ConfigDocument's tables and operations.
//
// Names are compared without regard to the case of A-Z; the spelling that
// reached a table first is the one it keeps.  Every change is saved at once
// (write-through) unless the owner defers saves for the length of one call.
#include "config/document.h"

namespace zv {

namespace {

inline unsigned char LowerByte(char c) {
    unsigned char byte = static_cast<unsigned char>(c);
    return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

}  // namespace

bool NoCaseLess::operator()(const std::string& a, const std::string& b) const {
    // The same answer as comparing lowered copies, without making them.
    const size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i) {
        unsigned char x = LowerByte(a[i]);
        unsigned char y = LowerByte(b[i]);
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

std::string TrimSpaces(const std::string& text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return text;
    size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::string Narrow(const WCHAR* text) {
    std::string out(ZVStrLenW(text), '\0');
    ZVToAnsi(&out[0], text);  // writes the length plus the terminator's 0
    return out;
}

WString Widen(const std::string& text) {
    WString out(text.size(), WCHAR(0));
    ZVFromAnsi(&out[0], text.c_str());
    return out;
}

ConfigDocument::ConfigDocument() { fileName_[0] = 0; }

ConfigDocument::~ConfigDocument() {}

uint16_t ConfigDocument::SectionExists(const WCHAR* section) const {
    return sections_.count(Narrow(section)) ? 1 : 0;
}

uint16_t ConfigDocument::KeyExists(const WCHAR* section, const WCHAR* key) const {
    SectionTable::const_iterator found = sections_.find(Narrow(section));
    if (found == sections_.end()) return 0;
    return found->second.count(Narrow(key)) ? 1 : 0;
}

int32_t ConfigDocument::AddSection(const WCHAR* section) {
    if (SectionExists(section)) return 1;
    sections_.emplace(Narrow(section), KeyTable());
    WriteThrough();
    return 0;
}

int32_t ConfigDocument::SetValue(const WCHAR* section, const WCHAR* key, const WCHAR* value,
                                 uint16_t overwrite) {
    if (!overwrite && KeyExists(section, key)) return 1;
    // A new section is saved once on its own, still empty, as AddSection
    // always does; then the value.
    if (!SectionExists(section)) AddSection(section);
    KeyTable& keys = sections_[Narrow(section)];
    keys[Narrow(key)] = Narrow(value);
    WriteThrough();
    return 0;
}

int32_t ConfigDocument::GetValue(const WCHAR* section, const WCHAR* key, WCHAR* out) const {
    SectionTable::const_iterator found = sections_.find(Narrow(section));
    if (found == sections_.end()) return 1;
    KeyTable::const_iterator entry = found->second.find(Narrow(key));
    if (entry == found->second.end()) return 1;
    ZVFromAnsi(out, entry->second.c_str());
    return 0;
}

NameList ConfigDocument::GetSectionNames() const {
    NameList names;
    names.reserve(sections_.size());
    for (const auto& section : sections_) names.push_back(section.first);
    return names;
}

NameList ConfigDocument::GetKeyNames(const WCHAR* section) const {
    NameList names;
    SectionTable::const_iterator found = sections_.find(Narrow(section));
    if (found == sections_.end()) return names;
    names.reserve(found->second.size());
    for (const auto& entry : found->second) names.push_back(entry.first);
    return names;
}

void ConfigDocument::WriteThrough() {
    if (deferSaves_) {
        savePending_ = true;
        return;
    }
    Save(nullptr);
}

void ConfigDocument::SavePendingChanges() {
    if (!savePending_) return;
    savePending_ = false;
    Save(nullptr);
}

}  // namespace zv
