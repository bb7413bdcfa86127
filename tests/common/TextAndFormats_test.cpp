#include <gtest/gtest.h>

#include "common/DisplayFormat.h"
#include "common/Text.h"
#include "platform/Time.h"

namespace corvello {
namespace {
using namespace std::string_literals;

TEST(DisplayFormat, SizeTexts) {
    const struct {
        std::uint64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0 Bytes"},          {1023, "1023 Bytes"},           {1024, "1.00 KB"},
        {1536, "1.50 KB"},       {1048575, "1024.00 KB"},        {1048576, "1.00 MB"},
        {1073741824, "1.00 GB"}, {5368709120ULL * 2, "10.00 GB"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatSizeText(c.bytes), c.text) << c.bytes;
}

TEST(DisplayFormat, TimeTextsUseTwelveHourClock) {
    const struct {
        int hour;
        const char* text;
    } cases[] = {
        {0, "03/07/2021  00:05 AM"},
        {12, "03/07/2021  12:05 AM"},  // hours up to 12 are written as they are
        {13, "03/07/2021  01:05 PM"},
        {23, "03/07/2021  11:05 PM"},
    };
    for (const auto& c : cases) {
        platform::CivilTime t{2021, 3, 7, c.hour, 5, 0};
        EXPECT_EQ(formatTimeText(t), c.text);
    }
    EXPECT_EQ(formatDateText(platform::CivilTime{1999, 12, 31, 0, 0, 0}), "12/31/1999 ");
}

TEST(DisplayFormat, FatAttributeLetters) {
    EXPECT_EQ(fatAttributeText(0x00), "");
    EXPECT_EQ(fatAttributeText(0x27), "-R-H-S-A");
    EXPECT_EQ(fatAttributeText(0x21), "-R-A");
    EXPECT_EQ(fatAttributeText(0x10), "");
}

TEST(Time, ConversionsOfEveryFamily) {
    // 2001-09-09 01:46:40 UTC = Unix 1,000,000,000.
    const auto ft = platform::fromFiletime(116444736000000000ULL + 1'000'000'000ULL * 10'000'000ULL + 5);
    EXPECT_EQ(ft.seconds, 1'000'000'000);
    EXPECT_EQ(ft.nanoseconds, 500u);
    EXPECT_EQ(platform::fromHfsTime(2082844800U + 1'000'000'000U).seconds, 1'000'000'000);
    const auto dos = platform::civilFromDos(static_cast<std::uint16_t>(((2021 - 1980) << 9) | (3 << 5) | 7),
                                            static_cast<std::uint16_t>((14 << 11) | (30 << 5) | 10));
    ASSERT_TRUE(dos);
    EXPECT_EQ(dos->year, 2021);
    EXPECT_EQ(dos->hour, 14);
    EXPECT_EQ(dos->second, 20);
    EXPECT_FALSE(platform::civilFromDos(0, 0));  // month 0
    // Tests run with TZ=UTC.
    EXPECT_EQ(formatLocalTime(platform::UnixTime{1'000'000'000, 0}), "09/09/2001  01:46 AM");
}

TEST(Text, SafeFileNamesNeverLeaveTheFolder) {
    const struct {
        std::u16string in;
        std::string out;
    } cases[] = {
        {u"report.txt", "report.txt"}, {u"", "_"},          {u".", "_."},
        {u"..", "_.."},                {u"a/b", "a_b"},     {u"..\\..\\etc", ".._.._etc"},
        {u"x\0y"s, "x_y"},             {u"caf\u00e9", "caf\xc3\xa9"},
    };
    for (const auto& c : cases) EXPECT_EQ(safeFileName(c.in), c.out);
    EXPECT_LE(safeFileName(std::u16string(300, u'\u00e9')).size(), 255u);
}

TEST(Text, CodePageAndUtf8) {
    EXPECT_EQ(fromCodePage("\x80\xe9"), u"\u20ac\u00e9");
    EXPECT_EQ(toCodePage(u"\u20ac\u4e2d"), "\x80?");
    EXPECT_EQ(throughCodePage(u"Daten \u4e2d"), u"Daten ?");
    const std::u16string mixed = u"a\u00e9\u4e2d\U0001F600";
    EXPECT_EQ(fromUtf8(toUtf8(mixed)), mixed);
    EXPECT_EQ(trimmed(u"  name \t"), u"name");
    EXPECT_EQ(trimmedRight(u"  name  "), u"  name");
    EXPECT_TRUE(equalsIgnoreCase(u"exFat", u"EXFAT"));
}

}  // namespace
}  // namespace corvello
