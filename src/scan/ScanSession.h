#pragma once
// What the wizard and the command line need from a finished scan, whatever the file system:
// the facts behind each tree item, the display texts, the save walk's rules and extraction.
// Each parser family provides one implementation over its own records.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/ResultTree.h"

namespace corvello {

class ScanHost;

// How the save walk treats a child record.
enum class SaveKind { Folder, File, Skip };

class ScanSession {
public:
    virtual ~ScanSession() = default;

    // The top-level item of the results tree ("ROOT") the parser inserted, or 0.
    virtual TreeItem rootItem() const = 0;

    // Item data that names a record of this parser.
    virtual bool isValid(ItemData data) const = 0;
    // A folder record (shown with the folder icon).
    virtual bool isFolder(ItemData data) const = 0;
    // The record's child records, in the parser's order.
    virtual std::vector<ItemData> children(ItemData data) const = 0;
    // Whether a child drawn under the opened folder is shown as deleted (red).
    virtual bool isDeleted(ItemData child, ItemData openedFolder) const = 0;
    // The record's name as stored.
    virtual std::u16string name(ItemData data) const = 0;
    // The number of bytes extraction writes for a file record.
    virtual std::uint64_t size(ItemData data) const = 0;

    // Display texts of a file-list row: creation, access, modification time and attributes.
    virtual std::array<std::string, 4> rowTexts(ItemData data) const = 0;
    virtual std::string sizeText(ItemData data) const = 0;

    // The save walk: whether a selected folder can be saved, and what a child record is.
    virtual bool isSavableFolder(ItemData data) const = 0;
    virtual SaveKind saveKind(ItemData data) const = 0;
    // Whether the walk enters a child folder (an NTFS "." folder is listed, not entered).
    virtual bool entersFolder(ItemData /*data*/) const { return true; }
    // The name a saved file or folder gets (before it is made safe as a path component).
    virtual std::u16string saveName(ItemData data) const { return name(data); }
    // Whether the file is written (an NTFS "$BadClus" is counted but not written).
    virtual bool isExtracted(ItemData /*data*/) const { return true; }
    // Writes one file record to the given path (UTF-8) and restores its times.
    virtual bool extract(ItemData data, const std::string& path) = 0;

    // Renames a record (the recycle-bin pass); false when the family keeps no such names.
    virtual bool rename(ItemData /*data*/, const std::u16string& /*name*/) { return false; }
    // Whether the scan completion runs the recycle-bin pass for this family.
    virtual bool hasRecycleBin() const { return false; }
    // The folders of a recycle bin that hold "$I" index files: the bin itself on FAT and exFAT,
    // its per-user subfolders on NTFS.
    virtual std::vector<ItemData> recycleIndexFolders(ItemData bin) const { return {bin}; }
};

}  // namespace corvello
