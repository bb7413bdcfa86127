// The family table is the one place the scan layer and the wizard learn what a file system is
// read with: every kind the volume records carry has exactly one row, every entry of "Treat file
// system as:" leads back to its own row, and a row's advanced-input parts come with its search.
#include <gtest/gtest.h>

#include <set>

#include "common/Text.h"
#include "scan/Candidates.h"
#include "scan/FamilyTable.h"

namespace corvello {
namespace {

TEST(FamilyTable, EveryKindHasOneRowAndEveryRowItsOwnFamily) {
    std::set<Family> seen;
    for (const FamilyRow& row : families()) {
        EXPECT_NE(row.family, Family::None);
        EXPECT_TRUE(seen.insert(row.family).second) << row.name << " has two rows";
        EXPECT_NE(row.scan, nullptr) << row.name;
        EXPECT_EQ(familyRow(row.family), &row) << row.name;
        EXPECT_TRUE(row.takes(RecoveryMode::Standard)) << row.name;
    }
    EXPECT_EQ(familyRow(Family::None), nullptr);

    using K = FileSystemKind;
    for (K kind : {K::Ntfs, K::Fat12, K::Fat16, K::Fat32, K::ExFat, K::Ext, K::HfsPlus}) {
        int rows = 0;
        for (const FamilyRow& row : families())
            for (K k : row.kinds) rows += k == kind ? 1 : 0;
        EXPECT_EQ(rows, 1) << "kind " << static_cast<int>(kind);
        EXPECT_NE(familyOf(kind), Family::None) << "kind " << static_cast<int>(kind);
    }
    EXPECT_EQ(familyOf(K::None), Family::None);
}

TEST(FamilyTable, TreatAsEntriesLeadBackToTheirRow) {
    for (const FamilyRow& row : families()) {
        // The text the entry gives the volume is read by the row's own family.
        EXPECT_EQ(familyOf(fromUtf8(row.typedName)), row.family) << row.name;
        // So is the list's name of each kind the row reads.
        for (FileSystemKind k : row.kinds) {
            if (k != FileSystemKind::None) {
                EXPECT_EQ(familyOf(k), row.family) << row.name;
            }
        }
    }
}

TEST(FamilyTable, AdvancedInputPartsComeWithTheSearch) {
    for (const FamilyRow& row : families()) {
        const bool search = row.search != nullptr;
        EXPECT_EQ(search, hasCandidateSearch(row.family)) << row.name;
        EXPECT_EQ(search, row.tableLabel != nullptr) << row.name;
        EXPECT_EQ(search, row.takes(RecoveryMode::Advanced)) << row.name;
        EXPECT_EQ(search, row.wizard.searchDone != nullptr) << row.name;
        if (!search) {
            EXPECT_FALSE(row.wizard.clusterChoices) << row.name;
            EXPECT_FALSE(row.wizard.heapChoices) << row.name;
        }
    }
}

}  // namespace
}  // namespace corvello
