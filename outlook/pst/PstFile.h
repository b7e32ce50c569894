// The thin layer over libpff: an open data file, items that keep it alive, and reading a
// property's raw bytes. Only files of this folder include it.
//
// libpff items point into their file's caches, so an item must be freed before its file.
// Every ItemHandle therefore holds a reference to its PstFile, and the file is closed only
// when the last item of it is gone, whatever order the rest of the program lets go in.
#pragma once

#include "outlook/ObjectModel.h"
#include "outlook/Store.h"
#include "outlook/pst/PstValues.h"

#include <libpff.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillmark::outlook::pst {

// Collects a libpff error and frees it.
class PffError {
public:
    PffError() = default;
    PffError(const PffError&) = delete;
    PffError& operator=(const PffError&) = delete;
    ~PffError();
    libpff_error_t** Out() { return &error_; }
    // The innermost reason libpff gives, in its own words ("invalid file signature."),
    // without the names of its functions; "unknown error" when it gave none.
    std::string Reason() const;

private:
    libpff_error_t* error_ = nullptr;
};

class PstFile : public std::enable_shared_from_this<PstFile> {
public:
    // Opens the file at path (8-bit ANSI). Throws EStoreError naming the file.
    static std::shared_ptr<PstFile> Open(const std::string& path, std::shared_ptr<WarningSink> warnings);
    // Opens a copy of bytes held in memory; name stands for the file in messages.
    static std::shared_ptr<PstFile> OpenMemory(std::string bytes, const std::string& name,
                                               std::shared_ptr<WarningSink> warnings);
    ~PstFile();
    PstFile(const PstFile&) = delete;
    PstFile& operator=(const PstFile&) = delete;

    libpff_file_t* Handle() const { return file_; }
    const std::string& Path() const { return path_; }
    void Warn(const std::string& message) const;

    // The file's name-to-id map, read on first use; null when the file has none or it
    // cannot be read (named properties are then found by looking at each message's own).
    const NamedPropertyMap* NamedProperties();

private:
    PstFile() = default;
    void OpenCommon(const std::string& name);

    libpff_file_t* file_ = nullptr;
    libbfio_handle_t* memoryIo_ = nullptr;
    std::string memory_;
    std::string path_;
    std::shared_ptr<WarningSink> warnings_;
    enum class MapState { Unread, Ready, Unreadable } namedState_ = MapState::Unread;
    NamedPropertyMap named_;
};

// A property's raw value: its MAPI type and bytes.
struct RawProperty {
    std::uint32_t type = 0;
    std::string data;
};

// The common named-property set PSETID_Common {00062008-0000-0000-C000-000000000046} and
// PS_PUBLIC_STRINGS {00020329-0000-0000-C000-000000000046}, as stored (little-endian GUID).
using PropertySetGuid = std::array<std::uint8_t, 16>;
extern const PropertySetGuid PsetidCommon;
extern const PropertySetGuid PsPublicStrings;

// One libpff item (folder, message, attachment, the message store) with its file.
class ItemHandle {
public:
    ItemHandle(std::shared_ptr<PstFile> file, libpff_item_t* item) : file_(std::move(file)), item_(item) {}
    ~ItemHandle();
    ItemHandle(const ItemHandle&) = delete;
    ItemHandle& operator=(const ItemHandle&) = delete;

    libpff_item_t* Get() const { return item_; }
    const std::shared_ptr<PstFile>& File() const { return file_; }
    std::uint32_t Identifier() const;

    // A standard property by its id (the high 16 bits of the tag), any type. nullopt when
    // the item has no such property; throws EStoreError when it is there but unreadable.
    std::optional<RawProperty> Find(std::uint32_t propertyId) const;
    // A named property by set and long id, or by set and name, through the file's
    // name-to-id map.
    std::optional<RawProperty> FindNamed(const PropertySetGuid& set, std::uint32_t longId) const;
    std::optional<RawProperty> FindNamed(const PropertySetGuid& set, const std::string& name) const;

    // Text of a string property (8-bit ones decoded by codePage); nullopt when absent or
    // not a string.
    std::optional<WideString> FindText(std::uint32_t propertyId, std::uint32_t codePage) const;
    std::optional<std::int64_t> FindInteger(std::uint32_t propertyId) const;

private:
    // The item's property set, opened on first use and kept: opening it is most of the
    // cost of a property read. Null when the item has no properties.
    libpff_record_set_t* Properties() const;

    // The owner comes first so that it is destroyed last: the record set and the item are
    // freed in the destructor's body, while the file is still open.
    std::shared_ptr<PstFile> file_;
    libpff_item_t* item_;
    mutable libpff_record_set_t* properties_ = nullptr;
    mutable bool propertiesOpened_ = false;
};

// One row of a message's recipient table: its kind (PR_RECIPIENT_TYPE: 1 To, 2 Cc, 3 Bcc)
// and its address, the SMTP one where the store keeps it (an Exchange recipient's own
// address is a directory name that no reader knows).
struct RecipientRow {
    std::int64_t type = 0;
    WideString address;
};
// The recipient table of a message; empty when it has none. Throws EStoreError when the
// table is there but unreadable.
std::vector<RecipientRow> RecipientRows(const ItemHandle& message, std::uint32_t codePage);

// The item with this node id; null with the reason when the file has none or cannot read it.
std::shared_ptr<ItemHandle> GetItemById(const std::shared_ptr<PstFile>& file, std::uint32_t id, std::string& reason);

// Text of a raw value: strings decoded, multi-valued strings joined by separator, numbers
// in decimal; nullopt for types that have no text.
std::optional<WideString> TextOfRaw(const RawProperty& raw, std::uint32_t codePage, std::u16string_view separator);

// What every folder and item of one opened store shares.
struct StoreContext {
    std::shared_ptr<PstFile> file;
    WideString storeId;         // the file's path
    WideString displayName;     // the store's display name, or the file's name
    RecordKey recordKey{};      // the store's record key, part of every entry identifier
    std::uint32_t ipmSubtreeId = 0;
};

} // namespace quillmark::outlook::pst
