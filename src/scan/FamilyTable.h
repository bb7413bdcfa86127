#pragma once
// The file-system families the scan layer reads, one row each: the file-system kinds a family
// reads, its name, its scan entry, the recovery modes the wizard offers for it, its candidate
// search for the advanced input, and what the wizard's pages show for it. The scan layer and
// the wizard read the rows instead of branching on the family: adding a file system is one row
// here, one folder under src/fs/ and its scan file under src/scan/.

#include <array>
#include <memory>
#include <span>
#include <string>

#include "common/VolumeRecord.h"
#include "scan/ScanRequest.h"

namespace corvello {

class ResultTree;
class ScanHost;
class ScanSession;
struct CandidateList;

enum class Family { None, Ntfs, Fat16, Fat32, ExFat, Ext, HfsPlus };

// Runs the family's scan steps for the request's mode (see runScan).
using ScanEntry = std::unique_ptr<ScanSession> (*)(const ScanRequest&, ScanHost&, ResultTree&);
// The advanced input's search of the request's volume (see findCandidates).
using CandidateSearch = void (*)(const ScanRequest&, ScanHost&, CandidateList&);

// The recovery modes as bits of a row's mode set.
constexpr unsigned modeBit(RecoveryMode mode) { return 1u << static_cast<unsigned>(mode); }
inline constexpr unsigned kAllModes =
    modeBit(RecoveryMode::Standard) | modeBit(RecoveryMode::Advanced) | modeBit(RecoveryMode::Deep);

// What the wizard's scan pages show and do for a family; null texts show nothing particular.
struct FamilyWizardTexts {
    const char* selected = nullptr;     // the status line when its scan or search starts
    const char* tablesTitle = nullptr;  // the advanced input's title of the table list
    const char* searchDone = nullptr;   // the status line when its search ended
    bool clusterChoices = false;        // the advanced input offers cluster sizes
    bool heapChoices = false;           // ...and cluster-heap starts, whose lists a stop leaves alone
    bool quickSaveNamesPath = false;    // the quick save says where it wrote the file
    bool ownScanEnd = false;            // the scan ends with its own status line, not the "done" notice
    bool doneWithoutSession = false;    // a scan that gave no results still counts as done
};

struct FamilyRow {
    Family family = Family::None;
    std::array<FileSystemKind, 2> kinds{};  // the file-system kinds it reads (None pads)
    const char* name = "";                  // the entry of the wizard's "Treat file system as:"
    const char* typedName = "";             // the file-system text that entry gives the volume
    ScanEntry scan = nullptr;
    unsigned modes = 0;                      // the recovery modes the wizard offers (modeBit)
    CandidateSearch search = nullptr;       // the advanced input's search, or null for none
    const char* tableLabel = nullptr;       // the entry text of a found table ("MFT_ENTRY:%d")
    FamilyWizardTexts wizard;

    bool takes(RecoveryMode mode) const { return (modes & modeBit(mode)) != 0; }
};

// Every family, one row each.
std::span<const FamilyRow> families();
// The row of a family; null for Family::None.
const FamilyRow* familyRow(Family family);

// What the wizard shows for a family (nothing particular for Family::None).
const FamilyWizardTexts& wizardTexts(Family family);

// The parser family that reads a file-system kind.
Family familyOf(FileSystemKind kind);
// The family for a file-system text as the user may type it (fileSystemKindOf).
Family familyOf(const std::u16string& fileSystem);

}  // namespace corvello
