#include "app/text_hook.h"

#include <map>
#include <vector>

#include "platform/lock.h"

namespace qs::app {

namespace {
std::map<DWORD, TextReplaceHook*>& Hooks() {
  static std::map<DWORD, TextReplaceHook*> hooks;
  return hooks;
}
plat::RecursiveLock& HooksLock() {
  static plat::RecursiveLock lock;
  return lock;
}

std::wstring TextOf(HWND w) {
  int n = GetWindowTextLengthW(w);
  if (n <= 0) return std::wstring();
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  int got = GetWindowTextW(w, &s[0], n + 1);
  s.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return s;
}
}  // namespace

TextReplaceHook::TextReplaceHook(std::wstring find, std::wstring replace)
    : find_(std::move(find)), replace_(std::move(replace)) {
  hook_ = SetWindowsHookExW(WH_CBT, Proc, nullptr, GetCurrentThreadId());
  plat::ScopedLock g(HooksLock());
  Hooks()[GetCurrentThreadId()] = this;
}

TextReplaceHook::~TextReplaceHook() {
  if (hook_) UnhookWindowsHookEx(hook_);
  plat::ScopedLock g(HooksLock());
  Hooks().erase(GetCurrentThreadId());
}

LRESULT CALLBACK TextReplaceHook::Proc(int code, WPARAM wp, LPARAM lp) {
  TextReplaceHook* self = nullptr;
  {
    plat::ScopedLock g(HooksLock());
    auto it = Hooks().find(GetCurrentThreadId());
    if (it != Hooks().end()) self = it->second;
  }
  if (self && code == HCBT_ACTIVATE) {
    HWND w = reinterpret_cast<HWND>(wp);
    for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
      if (TextOf(c) == self->find_) SetWindowTextW(c, self->replace_.c_str());
  }
  return CallNextHookEx(self ? self->hook_ : nullptr, code, wp, lp);
}

std::wstring VersionText() {
  std::wstring v = L"v";
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return v;
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return v;
  std::vector<unsigned char> data(size);
  if (!GetFileVersionInfoW(path, 0, size, data.data())) return v;
  struct Translation {
    WORD language, codePage;
  }* t = nullptr;
  UINT len = 0;
  std::wstring block = L"\\StringFileInfo\\040904b0\\FileVersion";
  if (VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&t), &len) && t &&
      len >= sizeof *t) {
    wchar_t name[64];
    swprintf(name, 64, L"\\StringFileInfo\\%04x%04x\\FileVersion", t->language, t->codePage);
    block = name;
  }
  wchar_t* text = nullptr;
  if (VerQueryValueW(data.data(), block.c_str(), reinterpret_cast<void**>(&text), &len) && text && len > 0) {
    size_t k = 0;
    while (k < len && text[k]) ++k;
    v.append(text, k);
  }
  return v;
}

}  // namespace qs::app
