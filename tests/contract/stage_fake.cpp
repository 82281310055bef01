// Contract staging on the fake platform.
#include "contract/stage.h"
#include "fake/fake_platform.h"

std::wstring StageRoot() {
  fake::Reset();
  fake::AddDirectory(L"C:\\contract");
  return L"C:\\contract";
}
void StageDirectory(const std::wstring& path) { fake::AddDirectory(path); }
void StageFile(const std::wstring& path) { fake::AddFile(path); }
void StageLink(const std::wstring& path, const std::wstring& target) { fake::AddLink(path, target); }
bool StageExists(const std::wstring& path) { return fake::Exists(path); }
