// The system's legacy code page (the Windows ANSI code page of GetACP): on this platform the
// character set of the user's locale, learned from LC_ALL / LC_CTYPE / LANG without touching
// the process's global locale. Files without a byte-order mark (INI documents, the auto-run
// script) are read and written in it.
//
// The plain-ASCII character set of the C and POSIX locales is taken as UTF-8: it is ASCII's
// superset, it is what this platform's file names are, and writing a settings file in ASCII
// would turn every Japanese character into "?".
#pragma once

#include <string>
#include <string_view>

namespace qm {

// The character set's iconv name, such as "UTF-8" or "EUC-JP".
const std::string& SystemCodePageName();
bool SystemCodePageIsUtf8();

// Never fails: bytes that do not decode become U+FFFD.
std::u16string DecodeSystemText(std::string_view bytes);
// Characters the code page cannot hold become "?", its default character.
std::string EncodeSystemText(std::u16string_view text);

// Replaces the detected code page (an empty name restores detection). For tests and tools
// that need a fixed code page; not thread-safe.
void SetSystemCodePage(std::string_view iconvName);

}  // namespace qm
