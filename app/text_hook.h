// While it lives, every window activated on this thread has its direct
// children whose text is exactly `find` retitled to `replace`. Used to put the
// real version into the About box.
#pragma once
#include <windows.h>

#include <string>

namespace qs::app {

class TextReplaceHook {
 public:
  TextReplaceHook(std::wstring find, std::wstring replace);
  ~TextReplaceHook();
  TextReplaceHook(const TextReplaceHook&) = delete;
  TextReplaceHook& operator=(const TextReplaceHook&) = delete;

 private:
  static LRESULT CALLBACK Proc(int code, WPARAM wp, LPARAM lp);
  std::wstring find_;
  std::wstring replace_;
  HHOOK hook_ = nullptr;
};

// "v" and the FileVersion of the program's own version resource ("v" alone
// when it cannot be read).
std::wstring VersionText();

}  // namespace qs::app
