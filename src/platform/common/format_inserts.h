// Message formatting for builds that format catalogue texts themselves.
#pragma once

#include <string>

namespace plat {

// Expands a stored catalogue text: "%1" and "%2" become the inserts (a null
// insert is empty), "%0" ends the text, CR LF becomes "\n"; every other
// character is copied unchanged.
std::wstring ExpandInserts(const wchar_t* text, const wchar_t* insert1, const wchar_t* insert2);

}  // namespace plat
