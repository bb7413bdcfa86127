#pragma once
// Text conversion: UTF-16 names from disk, 8-bit names through the one code page (Windows-1252),
// UTF-8 at the edges, and names made safe before they become paths.

#include <string>
#include <string_view>
#include <vector>

namespace corvello {

std::string toUtf8(std::u16string_view text);
std::u16string fromUtf8(std::string_view text);
// 8-bit text in the program's code page (Windows-1252) to UTF-16.
std::u16string fromCodePage(std::string_view text);
// UTF-16 to the code page; characters it cannot hold become '?'.
std::string toCodePage(std::u16string_view text);
// A UTF-16 text passed through the code page and back, as an 8-bit round trip would leave it.
std::u16string throughCodePage(std::u16string_view text);

// FAT short names are OEM text, not text of the program's code page. The page used when none is
// chosen is 437, as the Linux FAT driver assumes.
inline constexpr int kDefaultOemCodePage = 437;
// Whether an OEM code page can be decoded: the single-byte DOS pages 437, 720, 737, 775, 850,
// 852, 855, 857, 858, 860 to 866, 869 and 874.
bool isOemCodePage(int codePage);
// The OEM code pages that can be chosen, in ascending order.
std::vector<int> oemCodePages();
// The same as a text for messages: "437, 720, ... and 874".
std::string oemCodePageList();
// 8-bit text in an OEM code page to UTF-16; a page that cannot be decoded is read as 437.
std::u16string fromOemCodePage(std::string_view text, int codePage = kDefaultOemCodePage);

std::u16string trimmed(std::u16string_view text);        // white space removed at both ends
std::u16string trimmedRight(std::u16string_view text);   // trailing white space removed
bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b);
bool equalsIgnoreCase(std::string_view a, std::string_view b);

// The longest name (in UTF-8 bytes) a folder entry can have.
inline constexpr std::size_t kMaxNameBytes = 255;

// C0 and C1 control characters, DEL and the bidirectional marks, embeddings, overrides and
// isolates: characters that can disguise a name or drive a terminal.
bool isControlOrOverride(char32_t c);

// A name from disk made safe as one path component (UTF-8): no separator, no NUL, control or
// bidirectional-override character, never empty, "." or "..", at most 255 bytes. Nothing a
// volume holds can leave the output folder.
std::string safeFileName(std::u16string_view name);

// A UTF-8 name cut to at most limit bytes without splitting a character.
std::string fitName(const std::string& name, std::size_t limit);

// The n-th copy of a name: "name" for n < 2, else "stem (n).ext" (the extension kept for
// files), the stem shortened so the whole stays within 255 bytes.
std::string withCopyNumber(const std::string& name, int n, bool keepExtension);

// Text from disk made harmless for a terminal: control and bidirectional-override characters
// are shown as \uXXXX.
std::string terminalSafe(std::string_view text);
// The same for one field of a tab-separated line: a tab is shown as \u0009 too.
std::string fieldSafe(std::string_view text);

}  // namespace corvello
