#include "scan/FamilyTable.h"

#include "scan/Families.h"

namespace corvello {

namespace {

constexpr unsigned kStandard = modeBit(RecoveryMode::Standard);
constexpr unsigned kAdvanced = modeBit(RecoveryMode::Advanced);
constexpr unsigned kDeep = modeBit(RecoveryMode::Deep);
constexpr FileSystemKind kNone = FileSystemKind::None;

// In the order "Treat file system as:" offers them.
const FamilyRow kFamilies[] = {
    {Family::Ext, {FileSystemKind::Ext, kNone}, "EXTX", "extX", runExtScan, kStandard, nullptr, nullptr,
     {.quickSaveNamesPath = true, .doneWithoutSession = true}},
    {Family::ExFat, {FileSystemKind::ExFat, kNone}, "FAT64", "fat64", runExFatScan, kStandard | kAdvanced,
     findExFatCandidates, "FAT64_ENTRY:%d",
     {.tablesTitle = "Total fat64 Entries Found:",
      .searchDone = "Parsing done.Click Next to continue.",
      .clusterChoices = true,
      .heapChoices = true,
      .quickSaveNamesPath = true}},
    {Family::Fat32, {FileSystemKind::Fat32, kNone}, "FAT32", "fat32", runFat32Scan, kStandard | kAdvanced,
     findFat32Candidates, "FAT32_ENTRY:%d",
     {.searchDone = "Parsing done.Click Next to continue.", .clusterChoices = true}},
    {Family::Fat16, {FileSystemKind::Fat16, FileSystemKind::Fat12}, "FAT16", "fat16", runFat16Scan,
     kStandard | kAdvanced, findFat16Candidates, "FAT_ENTRY:%d",
     {.tablesTitle = "Total fat16 Entries Found:",
      .searchDone = "Parsing done.Click Next to continue.",
      .clusterChoices = true}},
    {Family::Ntfs, {FileSystemKind::Ntfs, kNone}, "NTFS", "ntfs", runNtfsScan, kStandard | kAdvanced | kDeep,
     findNtfsCandidates, "MFT_ENTRY:%d",
     {.selected = "ntfs partition selected....", .searchDone = "Parsing done.Click next to continue."}},
    {Family::HfsPlus, {FileSystemKind::HfsPlus, kNone}, "HFS+", "HFS+", runHfsPlusScan, kStandard | kDeep, nullptr,
     nullptr, {.quickSaveNamesPath = true, .ownScanEnd = true}},
};

}  // namespace

std::span<const FamilyRow> families() { return kFamilies; }

const FamilyRow* familyRow(Family family) {
    for (const FamilyRow& row : kFamilies)
        if (row.family == family) return &row;
    return nullptr;
}

const FamilyWizardTexts& wizardTexts(Family family) {
    static const FamilyWizardTexts none;
    const FamilyRow* row = familyRow(family);
    return row != nullptr ? row->wizard : none;
}

Family familyOf(FileSystemKind kind) {
    if (kind == FileSystemKind::None) return Family::None;
    for (const FamilyRow& row : kFamilies)
        for (FileSystemKind k : row.kinds)
            if (k == kind) return row.family;
    return Family::None;
}

Family familyOf(const std::u16string& fs) { return familyOf(fileSystemKindOf(fs)); }

}  // namespace corvello
