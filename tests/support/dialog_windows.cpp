// dialog_windows.cpp - answers message boxes as a user would: finds the box
// by its caption and presses one of its buttons.
#include <chrono>

#include "windows_support.h"

namespace zvtest {
namespace {

struct Search {
    const std::wstring* caption;
    HWND found;
};

BOOL CALLBACK MatchCaption(HWND window, LPARAM context) {
    Search* search = reinterpret_cast<Search*>(context);
    wchar_t title[256];
    if (IsWindowVisible(window) && GetWindowTextW(window, title, 256) > 0 && *search->caption == title) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The box's message: the longest static text among its children.
BOOL CALLBACK LongestStatic(HWND child, LPARAM context) {
    wchar_t kind[16], text[1024];
    if (GetClassNameW(child, kind, 16) && lstrcmpiW(kind, L"Static") == 0 && GetWindowTextW(child, text, 1024) > 0) {
        std::wstring* longest = reinterpret_cast<std::wstring*>(context);
        if (wcslen(text) > longest->size()) *longest = text;
    }
    return TRUE;
}

}  // namespace

BoxAnswerer::BoxAnswerer(const wchar_t* caption, int buttonId, int boxes, int timeoutMs)
    : caption_(caption), buttonId_(buttonId), boxes_(boxes), timeoutMs_(timeoutMs) {
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

BoxAnswerer::~BoxAnswerer() { Join(); }

std::vector<AnsweredBox> BoxAnswerer::Join() {
    if (thread_) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    return answered_;
}

DWORD WINAPI BoxAnswerer::Run(void* context) {
    BoxAnswerer* self = static_cast<BoxAnswerer*>(context);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(self->timeoutMs_);
    HWND last = nullptr;
    while (int(self->answered_.size()) < self->boxes_ && std::chrono::steady_clock::now() < deadline) {
        Search search = {&self->caption_, nullptr};
        EnumWindows(MatchCaption, reinterpret_cast<LPARAM>(&search));
        HWND button = search.found ? GetDlgItem(search.found, self->buttonId_) : nullptr;
        if (!button || search.found == last) {
            Sleep(20);
            continue;
        }
        std::wstring text;
        EnumChildWindows(search.found, LongestStatic, reinterpret_cast<LPARAM>(&text));
        self->answered_.push_back({Utf8(self->caption_), Utf8(text)});
        last = search.found;
        PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(self->buttonId_, BN_CLICKED), LPARAM(button));
    }
    return 0;
}

}  // namespace zvtest
