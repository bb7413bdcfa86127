// The table of known formats: each extension names one format, in any case, and nothing else
// is taken for one.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "raw/FileFormats.h"

namespace corvello::test {
namespace {

TEST(FileFormats, EachExtensionNamesOneFormatInAnyCase) {
    std::map<std::string, std::string_view> owner;
    for (const FileFormat& format : knownFormats()) {
        EXPECT_NE(format.check, nullptr) << format.name;
        std::string_view list = format.extensions;
        ASSERT_FALSE(list.empty()) << format.name;
        while (!list.empty()) {
            const std::string ext(list.substr(0, list.find(' ')));
            list.remove_prefix(std::min(list.size(), ext.size() + 1));
            ASSERT_FALSE(ext.empty()) << format.name << ": an empty extension";
            const auto [it, added] = owner.emplace(ext, format.name);
            EXPECT_TRUE(added) << ext << " is listed by " << it->second << " and " << format.name;
            std::u16string upper;
            for (const char c : ext) upper.push_back(static_cast<char16_t>(c >= 'a' && c <= 'z' ? c - 32 : c));
            const FileFormat* found = formatForExtension(upper);
            ASSERT_NE(found, nullptr) << ext;
            EXPECT_EQ(found->name, it->second) << ext;
        }
    }
    EXPECT_FALSE(owner.empty());
}

TEST(FileFormats, OtherExtensionsHaveNoKnownStructure) {
    for (const std::u16string ext : {u"", u"txt", u"jp", u"jpgx", u"jpg jpeg", u" jpg", u"j\u00e9g", u"bz2 "})
        EXPECT_EQ(formatForExtension(ext), nullptr);
    // The stored extension may be padded with zeros: they end it.
    EXPECT_NE(formatForExtension(std::u16string(u"png\0\0", 5)), nullptr);
}

}  // namespace
}  // namespace corvello::test
