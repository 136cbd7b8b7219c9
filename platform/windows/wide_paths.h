// 8-bit paths checked against the wide ones the platform holds. Where a name has a character that
// the active code page cannot represent, the platform's 8-bit path functions give a look-alike
// instead ("best fit": Ł as L) or "?", and that spelling may name another file. So an 8-bit path
// that the platform hands back is used only when it converts back to exactly the wide path.
#pragma once

#include <windows.h>

#include <string>

namespace platform {

// True when the 8-bit `path`, read in the active code page, is exactly `wide`.
bool SpellsExactly(const std::string& path, const std::wstring& wide);

// The wide path of the 8-bit `path`, read in the active code page; empty when it cannot be read.
std::wstring WidePath(const std::string& path);

}  // namespace platform
