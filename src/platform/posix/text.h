// POSIX only: helpers the POSIX seam files share (UTF-8 <-> wchar_t, Windows-form paths, times, error code).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plat::posix {

// ---- UTF-8 and wchar_t (UTF-32 here) ----
//
// Decoding is strict UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF); every byte that is not part of a valid sequence becomes
// U+DC00 + byte (U+DC80..U+DCFF), and encoding turns those back into the raw
// byte, so any file name survives the round trip.

// Replaces `out` with the decoded `bytes`; `out` keeps its capacity.
void DecodeUtf8(const char* bytes, size_t length, std::wstring& out);
std::wstring WideFromUtf8(std::string_view bytes);

// Writes the encoding of `c` to `out` (room for 4 bytes) and returns its
// length. U+DC80..U+DCFF give their raw byte; other surrogates and values
// that are no code point give U+FFFD.
size_t EncodeUtf8(wchar_t c, char* out);
std::string Utf8FromWide(std::wstring_view text);

// ---- Windows-form paths ----

// True when `path` is already in the system's form (plat::IsNativeFormPath):
// it holds a '/' and begins with neither a drive prefix nor a backslash.
bool InSystemForm(std::wstring_view path);
// The system-call path for a Windows-form `path`: backslashes become
// slashes, a drive prefix "X:" names the root ("C:" -> "/", "C:foo" ->
// "/foo"), a leading separator starts at the root, anything else stays
// relative to the current directory. A path InSystemForm is taken as it is.
std::string NativePath(std::wstring_view path);
// The folder a listing pattern ("folder\*") names: the pattern without its
// final '*', mapped as NativePath does; "." when nothing is left.
std::string NativeListingFolder(std::wstring_view pattern);
// The Windows form of an absolute system path, without a final separator:
// "/root" -> "C:\root", "/" -> "C:".
std::wstring WindowsFormPath(std::string_view posixPath);

// ---- times ----

// The FileTime of a time in seconds and nanoseconds since 1970-01-01 UTC.
uint64_t FileTimeOf(int64_t seconds, long nanoseconds);

// ---- shared state of the layer ----

// Records `code` (an errno value) as the code LastErrorCode() returns.
void RecordError(int code);
// Writes out whatever WriteText has buffered.
void FlushOutput();

}  // namespace plat::posix
