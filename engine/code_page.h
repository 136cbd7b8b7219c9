// Text in the active 8-bit code page ("ANSI", as the platform calls it) converted to and from
// UTF-8, for profile files that are UTF-8 text. Each build has one implementation: the Windows
// build converts with the platform's own functions for its active code page, as the platform's
// profile functions do (code_page_windows.cpp); the Linux build has no active code page and takes
// Windows-1252 for it (code_page.cpp).
// Guarantees (Windows-1252): every byte converts to UTF-8 and back unchanged (0x81, 0x8D, 0x8F,
// 0x90 and 0x9D, which name no letter, stand for U+0081, U+008D, U+008F, U+0090 and U+009D, as on
// the platform). From UTF-8, a character that Windows-1252 lacks becomes "?", once for each UTF-16
// unit that the platform holds it in (twice beyond U+FFFF), and so does each maximal run of bytes
// that starts a character but does not complete it, and each other byte that is not UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace engine {

std::string Utf8FromAnsi(std::string_view text);

std::string AnsiFromUtf8(std::string_view text);

}  // namespace engine
