#include "common/Text.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace corvello {

namespace {

// Windows-1252 code points 0x80..0x9F; 0 marks the five undefined positions.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

#include "common/OemCodePages.inc"

const OemPage& oemPage(int codePage) {
    for (const OemPage& p : kOemPages)
        if (p.number == codePage) return p;
    return kOemPages[0];
}

bool isSpace16(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::string toUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // a lone surrogate
        }
        appendUtf8(out, c);
    }
    return out;
}

std::u16string fromUtf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (b < 0x80) {
            cp = b;
        } else if ((b >> 5) == 0x6 && i + 1 < text.size()) {
            cp = ((b & 0x1F) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F);
            len = 2;
        } else if ((b >> 4) == 0xE && i + 2 < text.size()) {
            cp = ((b & 0x0F) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3F) << 6) |
                 (static_cast<unsigned char>(text[i + 2]) & 0x3F);
            len = 3;
        } else if ((b >> 3) == 0x1E && i + 3 < text.size()) {
            cp = ((b & 0x07) << 18) | ((static_cast<unsigned char>(text[i + 1]) & 0x3F) << 12) |
                 ((static_cast<unsigned char>(text[i + 2]) & 0x3F) << 6) |
                 (static_cast<unsigned char>(text[i + 3]) & 0x3F);
            len = 4;
        }
        i += len;
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp > 0xFFFF ? 0xFFFD : cp));
        }
    }
    return out;
}

std::u16string fromCodePage(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        if (b >= 0x80 && b <= 0x9F) {
            const char16_t mapped = kCp1252High[b - 0x80];
            out.push_back(mapped != 0 ? mapped : static_cast<char16_t>(b));
        } else {
            out.push_back(static_cast<char16_t>(b));
        }
    }
    return out;
}

std::string toCodePage(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        char mapped = '?';
        for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
            if (kCp1252High[i] != 0 && kCp1252High[i] == c) {
                mapped = static_cast<char>(0x80 + i);
                break;
            }
        }
        out.push_back(mapped);
    }
    return out;
}

std::u16string throughCodePage(std::u16string_view text) { return fromCodePage(toCodePage(text)); }

bool isOemCodePage(int codePage) {
    for (const OemPage& p : kOemPages)
        if (p.number == codePage) return true;
    return false;
}

std::vector<int> oemCodePages() {
    std::vector<int> pages;
    for (const OemPage& p : kOemPages) pages.push_back(p.number);
    return pages;
}

std::string oemCodePageList() {
    std::string text;
    const std::vector<int> pages = oemCodePages();
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (i > 0) text += i + 1 == pages.size() ? " and " : ", ";
        text += std::to_string(pages[i]);
    }
    return text;
}

std::u16string fromOemCodePage(std::string_view text, int codePage) {
    const OemPage& page = oemPage(codePage);
    std::u16string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        out.push_back(b < 0x80 ? static_cast<char16_t>(b) : page.high[b - 0x80]);
    }
    return out;
}

std::u16string trimmed(std::u16string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && isSpace16(text[b])) ++b;
    while (e > b && isSpace16(text[e - 1])) --e;
    return std::u16string(text.substr(b, e - b));
}

std::u16string trimmedRight(std::u16string_view text) {
    std::size_t e = text.size();
    while (e > 0 && isSpace16(text[e - 1])) --e;
    return std::u16string(text.substr(0, e));
}

bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
        if (x != y) return false;
    }
    return true;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

bool isControlOrOverride(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) ||            // C0, DEL and C1 controls
           c == 0x061C || c == 0x200E || c == 0x200F ||       // bidirectional marks
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);  // embeddings, overrides, isolates
}

std::string fitName(const std::string& name, std::size_t limit) {
    if (name.size() <= limit) return name;
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return name.substr(0, cut);
}

std::string withCopyNumber(const std::string& name, int n, bool keepExtension) {
    if (n < 2) return fitName(name, kMaxNameBytes);
    const auto dot = name.rfind('.');
    const bool hasExtension = keepExtension && dot != std::string::npos && dot > 0;
    std::string stem = hasExtension ? name.substr(0, dot) : name;
    std::string extension = hasExtension ? name.substr(dot) : std::string();
    const std::string suffix = " (" + std::to_string(n) + ")";
    // The base gives way first, so the number and the extension stay readable.
    if (suffix.size() + extension.size() + 1 > kMaxNameBytes) extension.clear();
    stem = fitName(stem, kMaxNameBytes - suffix.size() - extension.size());
    if (stem.empty()) stem = "_";
    return stem + suffix + extension;
}

namespace {

std::string escapedControls(std::string_view text, bool keepTabs) {
    const std::u16string wide = fromUtf8(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const char16_t c = wide[i];
        if ((c != u'\t' || !keepTabs) && isControlOrOverride(c)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            out += escaped;
        } else {
            std::size_t n = 1;
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size()) n = 2;
            out += toUtf8(std::u16string_view(wide).substr(i, n));
            i += n - 1;
        }
    }
    return out;
}

}  // namespace

std::string terminalSafe(std::string_view text) { return escapedControls(text, true); }

std::string fieldSafe(std::string_view text) { return escapedControls(text, false); }

std::string safeFileName(std::u16string_view name) {
    std::u16string cleaned;
    cleaned.reserve(name.size());
    for (char16_t c : name) {
        if (c == u'/' || c == u'\\' || isControlOrOverride(c))
            cleaned.push_back(u'_');
        else
            cleaned.push_back(c);
    }
    if (cleaned.empty() || cleaned == u"." || cleaned == u"..") cleaned = u"_" + cleaned;
    // Keep a component within the usual 255-byte limit without cutting a UTF-8 sequence.
    return fitName(toUtf8(cleaned), kMaxNameBytes);
}

}  // namespace corvello
