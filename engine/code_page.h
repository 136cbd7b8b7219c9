// Text in the active 8-bit code page ("ANSI", as the platform calls it) converted to and from
// UTF-8, for profile files that are UTF-8 text. Each build has one implementation: the Windows
// build converts with the platform's own functions for its active code page, as the platform's
// profile functions do (code_page_windows.cpp); the Linux build has no active code page and takes
// Windows-1252 for it (code_page.cpp).
// Guarantees (Windows-1252): every byte converts to UTF-8 and back unchanged (0x81, 0x8D, 0x8F,
// 0x90 and 0x9D, which name no letter, stand for U+0081, U+008D, U+008F, U+0090 and U+009D, as on
// the platform). From UTF-8, every character converts to the bytes that the platform's
// WideCharToMultiByte(1252) gives for it: a character that Windows-1252 lacks becomes the
// platform's best fit for it where it has one (U+0141, L with stroke, becomes "L"; the table is
// made from the platform's answers by best_fit/make_table.sh), and "?" otherwise; one beyond
// U+FFFF becomes "??", "?" for each of its two UTF-16 units. Each maximal run of bytes that starts
// a character but does not complete it becomes "?", and so does each other byte that is not UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace engine {

std::string Utf8FromAnsi(std::string_view text);

std::string AnsiFromUtf8(std::string_view text);

}  // namespace engine
