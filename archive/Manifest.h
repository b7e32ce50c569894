// The archive's manifest: one row per mail exported into an export root, whatever folder
// or store it came from, kept in an SQLite database inside the root.
//
// It is what makes the pages one archive: incremental runs ask it which mails are there
// already, and the index pages, threads and search are built from it. Rows are written in
// a transaction per batch, so a killed run loses nothing it reported as written; a page
// whose row a kill lost is recorded again by the next run that exports its mail.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace quillmark {

struct ManifestFile {
    std::string Path; // relative to the root, "/" between names
    std::int64_t Size = 0;
    std::uint32_t Crc32 = 0;
    bool Picture = false;
};

struct ManifestMail {
    std::string StoreKey; // the store and folder (see PageOwner)
    std::string Identity; // the mail's identity in its folder
    std::string Folder;   // the folder's display path, for the index
    std::string Page;     // relative to the root, "/" between names
    double Received = 0;  // date values, local time as the pages show them
    double Sent = 0;
    std::string Sender, Recipients, Subject; // UTF-8
    std::int64_t Size = 0;
    std::string MessageId, InReplyTo, References;
    std::string Text; // the body as plain text, for search
    std::vector<ManifestFile> Files;
};

class Manifest {
public:
    // The database's place in a root.
    static constexpr const char* RelativePath = ".quillmark/archive.sqlite";

    // Opens the root's manifest, making it (and its folder) when there is none. Throws
    // Exception with SQLite's reason when it cannot be opened or is not ours.
    explicit Manifest(const std::string& root);
    ~Manifest();
    Manifest(const Manifest&) = delete;
    Manifest& operator=(const Manifest&) = delete;

    // Adds or replaces the row of a mail (by store key and identity). Rows are written in
    // batches; Commit writes what is pending.
    void Record(const ManifestMail& mail);
    void Commit();

    // The identities of the mails of one store and folder that the archive holds.
    std::unordered_set<std::string> IdentitiesOf(const std::string& storeKey);
    // The latest received time of those mails not after notAfter; 0 when there is none.
    double LatestReceivedOf(const std::string& storeKey, double notAfter);
    // Every row, oldest received first (files included). Commits what is pending first.
    std::vector<ManifestMail> All();
    std::int64_t Count();
    // The rows in a few numbers, which change with every row added, replaced or removed: an
    // index made from the same fingerprint need not be made again. Commits what is pending.
    std::string Fingerprint();
    // The manifest's own notes ("" when there is none); SetNote writes at once.
    std::string Note(const std::string& key);
    void SetNote(const std::string& key, const std::string& value);

private:
    void Exec(const char* sql);
    void Begin();
    sqlite3* db_ = nullptr;
    std::string file_; // the database file, for a second reader
    // Prepared once: a run records thousands of rows.
    sqlite3_stmt* insertMail_ = nullptr;
    sqlite3_stmt* insertFile_ = nullptr;
    bool inTransaction_ = false;
    int pending_ = 0;
};

} // namespace quillmark
