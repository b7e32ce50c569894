#include "outlook/pst/PstFile.h"

#include "platform/FileSystem.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace quillmark::outlook::pst {

const PropertySetGuid PsetidCommon = {0x08, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00,
                                      0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
const PropertySetGuid PsPublicStrings = {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                         0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

PffError::~PffError() {
    if (error_)
        libpff_error_free(&error_);
}

std::string PffError::Reason() const {
    if (!error_)
        return "unknown error";
    std::vector<char> buffer(8192, '\0');
    if (libpff_error_backtrace_sprint(error_, buffer.data(), buffer.size()) < 0)
        return "unknown error";
    // The first line is the innermost cause ("libpff_io_handle_read_file_header: invalid
    // file signature."); the lines after it only say which caller gave up.
    std::string text(buffer.data());
    std::string line = text.substr(0, text.find('\n'));
    std::size_t colon = line.find(": ");
    if (colon != std::string::npos && line.compare(0, 3, "lib") == 0)
        line.erase(0, colon + 2);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line.empty() ? "unknown error" : line;
}

namespace {

class RecordEntry {
public:
    RecordEntry() = default;
    RecordEntry(const RecordEntry&) = delete;
    RecordEntry& operator=(const RecordEntry&) = delete;
    ~RecordEntry() {
        if (entry_)
            libpff_record_entry_free(&entry_, nullptr);
    }
    libpff_record_entry_t** Out() { return &entry_; }
    libpff_record_entry_t* Get() const { return entry_; }

private:
    libpff_record_entry_t* entry_ = nullptr;
};

} // namespace

void PstFile::OpenCommon(const std::string& name) {
    path_ = name;
    PffError error;
    if (libpff_file_initialize(&file_, error.Out()) != 1) {
        file_ = nullptr;
        throw EStoreError("Cannot open the Outlook data file \"" + name + "\": " + error.Reason());
    }
}

std::shared_ptr<PstFile> PstFile::Open(const std::string& path, std::shared_ptr<WarningSink> warnings) {
    std::shared_ptr<PstFile> file(new PstFile());
    file->warnings_ = std::move(warnings);
    file->OpenCommon(path);
    PffError error;
    const std::string native = platform::NativePath(path).string();
    if (libpff_file_open(file->file_, native.c_str(), libpff_get_access_flags_read(), error.Out()) != 1)
        throw EStoreError("Cannot open the Outlook data file \"" + path + "\": " + error.Reason());
    return file;
}

namespace {

// A read-only I/O handle over bytes in memory, given to libbfio through its callbacks.
// libbfio's own memory range reads past the end of its buffer when asked for data at the
// very end (as damaged files make libpff do); here every read is clipped to the bytes there
// are.
struct MemoryIo {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t offset = 0;
    bool open = false;
};

MemoryIo* AsMemoryIo(intptr_t* handle) { return reinterpret_cast<MemoryIo*>(handle); }

int MemoryIoFree(intptr_t** handle, libbfio_error_t**) {
    delete reinterpret_cast<MemoryIo*>(*handle);
    *handle = nullptr;
    return 1;
}

int MemoryIoClone(intptr_t** destination, intptr_t* source, libbfio_error_t**) {
    auto* copy = new MemoryIo(*AsMemoryIo(source));
    copy->offset = 0;
    copy->open = false;
    *destination = reinterpret_cast<intptr_t*>(copy);
    return 1;
}

int MemoryIoOpen(intptr_t* handle, int, libbfio_error_t**) {
    AsMemoryIo(handle)->open = true;
    AsMemoryIo(handle)->offset = 0;
    return 1;
}

int MemoryIoClose(intptr_t* handle, libbfio_error_t**) {
    AsMemoryIo(handle)->open = false;
    return 0;
}

ssize_t MemoryIoRead(intptr_t* handle, std::uint8_t* buffer, std::size_t size, libbfio_error_t**) {
    MemoryIo* io = AsMemoryIo(handle);
    if (!io->open || !buffer)
        return -1;
    if (io->offset >= io->size)
        return 0;
    std::size_t n = std::min(size, io->size - io->offset);
    if (n > static_cast<std::size_t>(SSIZE_MAX))
        n = static_cast<std::size_t>(SSIZE_MAX);
    std::memcpy(buffer, io->data + io->offset, n);
    io->offset += n;
    return static_cast<ssize_t>(n);
}

ssize_t MemoryIoWrite(intptr_t*, const std::uint8_t*, std::size_t, libbfio_error_t**) { return -1; }

off64_t MemoryIoSeek(intptr_t* handle, off64_t offset, int whence, libbfio_error_t**) {
    MemoryIo* io = AsMemoryIo(handle);
    off64_t base = whence == SEEK_SET ? 0
                   : whence == SEEK_CUR ? static_cast<off64_t>(io->offset)
                   : whence == SEEK_END ? static_cast<off64_t>(io->size)
                                        : -1;
    if (base < 0 || offset < -base || offset > INT64_MAX - base)
        return -1;
    io->offset = static_cast<std::size_t>(base + offset);
    return base + offset;
}

int MemoryIoExists(intptr_t*, libbfio_error_t**) { return 1; }
int MemoryIoIsOpen(intptr_t* handle, libbfio_error_t**) { return AsMemoryIo(handle)->open ? 1 : 0; }

int MemoryIoGetSize(intptr_t* handle, size64_t* size, libbfio_error_t**) {
    *size = AsMemoryIo(handle)->size;
    return 1;
}

} // namespace

std::shared_ptr<PstFile> PstFile::OpenMemory(std::string bytes, const std::string& name,
                                             std::shared_ptr<WarningSink> warnings) {
    std::shared_ptr<PstFile> file(new PstFile());
    file->warnings_ = std::move(warnings);
    file->memory_ = std::move(bytes);
    file->OpenCommon(name);
    auto* io = new MemoryIo{reinterpret_cast<const std::uint8_t*>(file->memory_.data()), file->memory_.size(), 0,
                            false};
    libbfio_error_t* ioError = nullptr;
    // Managed: libbfio frees the MemoryIo with the handle, also when initialising fails.
    if (libbfio_handle_initialize(&file->memoryIo_, reinterpret_cast<intptr_t*>(io), MemoryIoFree, MemoryIoClone,
                                  MemoryIoOpen, MemoryIoClose, MemoryIoRead, MemoryIoWrite, MemoryIoSeek,
                                  MemoryIoExists, MemoryIoIsOpen, MemoryIoGetSize,
                                  LIBBFIO_FLAG_IO_HANDLE_MANAGED | LIBBFIO_FLAG_IO_HANDLE_CLONE_BY_FUNCTION,
                                  &ioError) != 1) {
        if (ioError)
            libbfio_error_free(&ioError);
        if (!file->memoryIo_)
            delete io;
        file->memoryIo_ = nullptr;
        throw EStoreError("Cannot open the Outlook data file \"" + name + "\": out of memory");
    }
    PffError error;
    if (libpff_file_open_file_io_handle(file->file_, file->memoryIo_, libpff_get_access_flags_read(),
                                        error.Out()) != 1)
        throw EStoreError("Cannot open the Outlook data file \"" + name + "\": " + error.Reason());
    return file;
}

PstFile::~PstFile() {
    if (file_) {
        libpff_file_close(file_, nullptr); // fails harmlessly when the open failed
        libpff_file_free(&file_, nullptr);
    }
    if (memoryIo_)
        libbfio_handle_free(&memoryIo_, nullptr);
}

void PstFile::Warn(const std::string& message) const {
    if (warnings_)
        warnings_->Warn(message);
}

const NamedPropertyMap* PstFile::NamedProperties() {
    if (namedState_ == MapState::Unread) {
        namedState_ = MapState::Unreadable;
        libpff_item_t* item = nullptr;
        PffError error;
        if (libpff_file_get_name_to_id_map(file_, &item, error.Out()) == 1 && item) {
            ItemHandle map(shared_from_this(), item);
            try {
                // PidTagNameidStreamGuid, PidTagNameidStreamEntry, PidTagNameidStreamString
                auto guids = map.Find(0x0002);
                auto entries = map.Find(0x0003);
                auto strings = map.Find(0x0004);
                if (entries) {
                    if (auto parsed = ParseNameToIdMap(guids ? guids->data : std::string(), entries->data,
                                                       strings ? strings->data : std::string())) {
                        named_ = std::move(*parsed);
                        namedState_ = MapState::Ready;
                    }
                }
            } catch (const EStoreError&) {
                // A damaged map: named properties are looked up message by message instead.
            }
        }
    }
    return namedState_ == MapState::Ready ? &named_ : nullptr;
}

ItemHandle::~ItemHandle() {
    if (properties_)
        libpff_record_set_free(&properties_, nullptr);
    if (item_)
        libpff_item_free(&item_, nullptr);
}

libpff_record_set_t* ItemHandle::Properties() const {
    if (!propertiesOpened_) {
        PffError error;
        int count = 0;
        if (libpff_item_get_number_of_record_sets(item_, &count, error.Out()) != 1)
            throw EStoreError("Cannot read the properties of an item in \"" + file_->Path() + "\": " + error.Reason());
        if (count >= 1 && libpff_item_get_record_set_by_index(item_, 0, &properties_, error.Out()) != 1) {
            properties_ = nullptr;
            throw EStoreError("Cannot read the properties of an item in \"" + file_->Path() + "\": " + error.Reason());
        }
        // Only a successful open is remembered, so a failing item fails on every read alike.
        propertiesOpened_ = true;
    }
    return properties_;
}

std::uint32_t ItemHandle::Identifier() const {
    std::uint32_t id = 0;
    PffError error;
    if (libpff_item_get_identifier(item_, &id, error.Out()) != 1)
        throw EStoreError("Cannot read an item of \"" + file_->Path() + "\": " + error.Reason());
    return id;
}

namespace {

RawProperty ReadEntry(libpff_record_entry_t* entry, const std::string& path, std::uint32_t id) {
    RawProperty raw;
    PffError error;
    auto fail = [&](PffError& e) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%04X", id);
        return EStoreError("Cannot read property " + std::string(hex) + " in \"" + path + "\": " + e.Reason());
    };
    if (libpff_record_entry_get_value_type(entry, &raw.type, error.Out()) != 1)
        throw fail(error);
    std::size_t size = 0;
    if (libpff_record_entry_get_data_size(entry, &size, error.Out()) != 1)
        throw fail(error);
    // Zero-length values are legal (an empty string); libpff reports reading them as an
    // error, so they are not read at all.
    if (size > 0) {
        raw.data.resize(size);
        if (libpff_record_entry_get_data(entry, reinterpret_cast<std::uint8_t*>(raw.data.data()), size,
                                         error.Out()) != 1)
            throw fail(error);
    }
    return raw;
}

} // namespace

namespace {

std::optional<RawProperty> FindInSet(libpff_record_set_t* set, std::uint32_t propertyId, const std::string& path) {
    RecordEntry entry;
    PffError error;
    int found = libpff_record_set_get_entry_by_type(
        set, propertyId, 0, entry.Out(),
        LIBPFF_ENTRY_VALUE_FLAG_MATCH_ANY_VALUE_TYPE | LIBPFF_ENTRY_VALUE_FLAG_IGNORE_NAME_TO_ID_MAP, error.Out());
    if (found == 0)
        return std::nullopt;
    if (found < 0)
        throw EStoreError("Cannot read the properties of an item in \"" + path + "\": " + error.Reason());
    return ReadEntry(entry.Get(), path, propertyId);
}

} // namespace

std::vector<RecipientRow> RecipientRows(const ItemHandle& message, std::uint32_t codePage) {
    std::vector<RecipientRow> rows;
    const std::string& path = message.File()->Path();
    libpff_item_t* table = nullptr;
    PffError error;
    const int found = libpff_message_get_recipients(message.Get(), &table, error.Out());
    if (found == 0 || !table)
        return rows;
    if (found < 0)
        throw EStoreError("Cannot read the recipients of an item in \"" + path + "\": " + error.Reason());
    // The table and each row's property set are freed on every way out.
    struct TableGuard {
        libpff_item_t*& item;
        ~TableGuard() { libpff_item_free(&item, nullptr); }
    } tableGuard{table};
    int count = 0;
    if (libpff_item_get_number_of_record_sets(table, &count, error.Out()) != 1)
        throw EStoreError("Cannot read the recipients of an item in \"" + path + "\": " + error.Reason());
    for (int i = 0; i < count; ++i) {
        libpff_record_set_t* set = nullptr;
        PffError setError;
        if (libpff_item_get_record_set_by_index(table, i, &set, setError.Out()) != 1 || !set)
            throw EStoreError("Cannot read the recipients of an item in \"" + path + "\": " + setError.Reason());
        struct SetGuard {
            libpff_record_set_t*& set;
            ~SetGuard() { libpff_record_set_free(&set, nullptr); }
        } setGuard{set};
        RecipientRow row;
        if (auto type = FindInSet(set, 0x0C15, path); type && type->data.size() >= 4) // PR_RECIPIENT_TYPE
            row.type = static_cast<std::int64_t>(static_cast<std::uint8_t>(type->data[0]) |
                                                 static_cast<std::uint8_t>(type->data[1]) << 8 |
                                                 static_cast<std::uint8_t>(type->data[2]) << 16 |
                                                 static_cast<std::uint32_t>(static_cast<std::uint8_t>(type->data[3])) << 24);
        // PR_SMTP_ADDRESS, else PR_EMAIL_ADDRESS.
        for (std::uint32_t id : {0x39FEu, 0x3003u}) {
            if (auto raw = FindInSet(set, id, path)) {
                if (auto text = TextOfRaw(*raw, codePage, u"; "); text && !text->empty()) {
                    row.address = *text;
                    break;
                }
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::optional<RawProperty> ItemHandle::Find(std::uint32_t propertyId) const {
    libpff_record_set_t* set = Properties();
    if (!set)
        return std::nullopt;
    return FindInSet(set, propertyId, file_->Path());
}

namespace {

template <typename Match>
std::optional<RawProperty> FindNamedEntry(libpff_record_set_t* set, const std::string& path, Match&& match) {
    if (!set)
        return std::nullopt;
    int count = 0;
    PffError error;
    if (libpff_record_set_get_number_of_entries(set, &count, error.Out()) != 1)
        throw EStoreError("Cannot read the properties of an item in \"" + path + "\": " + error.Reason());
    for (int i = 0; i < count; ++i) {
        RecordEntry entry;
        PffError entryError;
        if (libpff_record_set_get_entry_by_index(set, i, entry.Out(), entryError.Out()) != 1)
            continue; // one broken entry must not hide the others
        std::uint32_t tag = 0;
        if (libpff_record_entry_get_entry_type(entry.Get(), &tag, entryError.Out()) != 1 || tag < 0x8000)
            continue;
        libpff_name_to_id_map_entry_t* name = nullptr; // owned by the entry
        if (libpff_record_entry_get_name_to_id_map_entry(entry.Get(), &name, entryError.Out()) != 1 || !name)
            continue;
        PropertySetGuid guid{};
        std::uint8_t kind = 0;
        if (libpff_name_to_id_map_entry_get_guid(name, guid.data(), guid.size(), entryError.Out()) != 1 ||
            libpff_name_to_id_map_entry_get_type(name, &kind, entryError.Out()) != 1)
            continue;
        if (match(name, guid, kind))
            return ReadEntry(entry.Get(), path, tag);
    }
    return std::nullopt;
}

} // namespace

std::optional<RawProperty> ItemHandle::FindNamed(const PropertySetGuid& set, std::uint32_t longId) const {
    if (const NamedPropertyMap* map = file_->NamedProperties()) {
        auto tag = map->Numeric(set, longId);
        return tag ? Find(*tag) : std::nullopt;
    }
    return FindNamedEntry(Properties(), file_->Path(),
                          [&](libpff_name_to_id_map_entry_t* name, const PropertySetGuid& guid, std::uint8_t kind) {
                              if (kind != LIBPFF_NAME_TO_ID_MAP_ENTRY_TYPE_NUMERIC || guid != set)
                                  return false;
                              std::uint32_t number = 0;
                              PffError e;
                              return libpff_name_to_id_map_entry_get_number(name, &number, e.Out()) == 1 &&
                                     number == longId;
                          });
}

std::optional<RawProperty> ItemHandle::FindNamed(const PropertySetGuid& set, const std::string& wanted) const {
    if (const NamedPropertyMap* map = file_->NamedProperties()) {
        auto tag = map->Named(set, std::u16string(wanted.begin(), wanted.end()));
        return tag ? Find(*tag) : std::nullopt;
    }
    return FindNamedEntry(Properties(), file_->Path(),
                          [&](libpff_name_to_id_map_entry_t* name, const PropertySetGuid& guid, std::uint8_t kind) {
                              if (kind != LIBPFF_NAME_TO_ID_MAP_ENTRY_TYPE_STRING || guid != set)
                                  return false;
                              std::size_t size = 0;
                              PffError e;
                              if (libpff_name_to_id_map_entry_get_utf8_string_size(name, &size, e.Out()) != 1 ||
                                  size != wanted.size() + 1)
                                  return false;
                              std::string text(size, '\0');
                              if (libpff_name_to_id_map_entry_get_utf8_string(
                                      name, reinterpret_cast<std::uint8_t*>(text.data()), size, e.Out()) != 1)
                                  return false;
                              text.resize(wanted.size());
                              // Names of the public-strings set compare without regard to case.
                              return std::equal(text.begin(), text.end(), wanted.begin(), wanted.end(),
                                                [](char a, char b) {
                                                    return std::tolower(static_cast<unsigned char>(a)) ==
                                                           std::tolower(static_cast<unsigned char>(b));
                                                });
                          });
}

std::shared_ptr<ItemHandle> GetItemById(const std::shared_ptr<PstFile>& file, std::uint32_t id, std::string& reason) {
    libpff_item_t* item = nullptr;
    PffError error;
    int found = libpff_file_get_item_by_identifier(file->Handle(), id, &item, error.Out());
    if (found != 1 || !item) {
        reason = found == 0 ? "there is no such item" : error.Reason();
        return nullptr;
    }
    return std::make_shared<ItemHandle>(file, item);
}

std::optional<WideString> TextOfRaw(const RawProperty& raw, std::uint32_t codePage, std::u16string_view separator) {
    switch (raw.type) {
    case ptype::Unicode:
        return Utf16FromLittleEndian(raw.data);
    case ptype::String8:
        return DecodeCodePage(raw.data, codePage);
    case ptype::MultiFlag | ptype::Unicode:
    case ptype::MultiFlag | ptype::String8: {
        auto values = SplitMultiValue(raw.data);
        if (!values)
            return std::nullopt;
        WideString joined;
        for (std::size_t i = 0; i < values->size(); ++i) {
            if (i > 0)
                joined += separator;
            joined += raw.type == (ptype::MultiFlag | ptype::Unicode) ? Utf16FromLittleEndian((*values)[i])
                                                                      : DecodeCodePage((*values)[i], codePage);
        }
        return joined;
    }
    case ptype::Boolean:
        if (raw.data.empty())
            return std::nullopt;
        return raw.data[0] ? WideString(u"True") : WideString(u"False");
    case ptype::Int16:
    case ptype::Int32:
    case ptype::Int64: {
        std::int64_t value = 0;
        if (raw.type == ptype::Int16 && raw.data.size() >= 2)
            value = static_cast<std::int16_t>(static_cast<unsigned char>(raw.data[0]) |
                                              (static_cast<unsigned char>(raw.data[1]) << 8));
        else if (raw.type == ptype::Int32 && raw.data.size() >= 4)
            value = static_cast<std::int32_t>(*ReadUInt32(raw.data));
        else if (raw.type == ptype::Int64 && raw.data.size() >= 8)
            value = static_cast<std::int64_t>(*ReadUInt64(raw.data));
        else
            return std::nullopt;
        std::string digits = std::to_string(value);
        return WideString(digits.begin(), digits.end());
    }
    default:
        return std::nullopt;
    }
}

std::optional<WideString> ItemHandle::FindText(std::uint32_t propertyId, std::uint32_t codePage) const {
    auto raw = Find(propertyId);
    if (!raw || (raw->type != ptype::Unicode && raw->type != ptype::String8))
        return std::nullopt;
    return TextOfRaw(*raw, codePage, u"; ");
}

std::optional<std::int64_t> ItemHandle::FindInteger(std::uint32_t propertyId) const {
    auto raw = Find(propertyId);
    if (!raw)
        return std::nullopt;
    if (raw->type == ptype::Int32 && raw->data.size() >= 4)
        return static_cast<std::int32_t>(*ReadUInt32(raw->data));
    if (raw->type == ptype::Int64 && raw->data.size() >= 8)
        return static_cast<std::int64_t>(*ReadUInt64(raw->data));
    if (raw->type == ptype::Int16 && raw->data.size() >= 2)
        return static_cast<std::int16_t>(static_cast<unsigned char>(raw->data[0]) |
                                         (static_cast<unsigned char>(raw->data[1]) << 8));
    return std::nullopt;
}

} // namespace quillmark::outlook::pst
