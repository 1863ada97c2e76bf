#include <windows.h>

#include <string>

#include "platform/notifier.h"

namespace markwire {

// The texts are UTF-8; converted to UTF-16 they read the same on a Windows
// of any language, where the classic code page 936 texts did not.
void ShowUserMessage(std::string_view utf8) {
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                      nullptr, 0);
  std::wstring text(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), n);
  ::MessageBoxW(nullptr, text.c_str(), L"Markwire", MB_OK);
}

}  // namespace markwire
