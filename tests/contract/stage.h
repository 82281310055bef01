// Staging for the seam's contract test: builds the items a case needs on the
// back end under test (the fake, or the real POSIX layer on a temporary folder).
#pragma once

#include <string>

// A fresh, empty folder, in Windows form without a final separator.
std::wstring StageRoot();
void StageDirectory(const std::wstring& path);
void StageFile(const std::wstring& path);
void StageLink(const std::wstring& path, const std::wstring& target);
bool StageExists(const std::wstring& path);  // the item itself, links not followed
