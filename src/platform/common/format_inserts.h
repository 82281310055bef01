// Message formatting for builds that format catalogue texts themselves.
#pragma once

#include <string>
#include <vector>

namespace plat {

// Expands a stored catalogue text: "%1" and "%2" become the inserts (a null
// insert is empty), "%0" ends the text, CR LF becomes "\n"; every other
// character is copied unchanged. The texts hold no higher insert numbers.
std::wstring ExpandInserts(const wchar_t* text, const wchar_t* insert1, const wchar_t* insert2);

// The same with any number of inserts: "%1" to "%99" become the inserts
// (one that is not given is empty).
std::wstring ExpandInsertList(const wchar_t* text, const std::vector<std::wstring>& inserts);

}  // namespace plat
