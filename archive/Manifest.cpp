#include "archive/Manifest.h"

#include "SrcLib/uLib.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <sqlite3.h>

#include <thread>
#include <unordered_map>

namespace quillmark {

namespace {

// A row's changes are committed after this many mails: one transaction per mail would cost
// a sync each; one per run would lose the whole run to a kill.
constexpr int kBatch = 256;
constexpr int kSchemaVersion = 1;

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS mails(
    id INTEGER PRIMARY KEY,
    store_key TEXT NOT NULL,
    identity TEXT NOT NULL,
    folder TEXT NOT NULL,
    page TEXT NOT NULL,
    received REAL NOT NULL,
    sent REAL NOT NULL,
    sender TEXT NOT NULL,
    recipients TEXT NOT NULL,
    subject TEXT NOT NULL,
    size INTEGER NOT NULL,
    message_id TEXT NOT NULL,
    in_reply_to TEXT NOT NULL,
    refs TEXT NOT NULL,
    text TEXT NOT NULL,
    UNIQUE(store_key, identity));
CREATE TABLE IF NOT EXISTS files(
    mail_id INTEGER NOT NULL REFERENCES mails(id) ON DELETE CASCADE,
    path TEXT NOT NULL,
    size INTEGER NOT NULL,
    crc32 INTEGER NOT NULL,
    picture INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS files_of_mail ON files(mail_id);
CREATE INDEX IF NOT EXISTS mails_by_message_id ON mails(message_id);
)sql";

// SQLite's failure as our exception: a full disk is the file system's EFileError, so that
// the run stops cleanly on it as on a page that does not fit.
[[noreturn]] void Fail(sqlite3* db, const std::string& reason) {
    const int code = sqlite3_errcode(db) & 0xFF;
    if (code == SQLITE_FULL) throw EFileError("Archive manifest: " + reason + " (no space left on the disk)", true);
    if (code == SQLITE_IOERR || code == SQLITE_CANTOPEN || code == SQLITE_READONLY)
        throw EFileError("Archive manifest: " + reason);
    throw Exception("Archive manifest: " + reason);
}

// A prepared statement, finalised on every way out; or one prepared once and kept (Reuse),
// reset on every way out.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) Fail(db, sqlite3_errmsg(db));
    }
    Statement(sqlite3* db, sqlite3_stmt*& kept, const char* sql) : db_(db), kept_(true) {
        if (!kept && sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &kept, nullptr) != SQLITE_OK)
            Fail(db, sqlite3_errmsg(db));
        stmt_ = kept;
    }
    ~Statement() {
        if (kept_)
            Reset();
        else
            sqlite3_finalize(stmt_);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    // The text is read where it is, not copied: every caller keeps it alive until the
    // statement has stepped and is reset (the destructor resets a kept one).
    Statement& Text(int i, const std::string& v) {
        sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
        return *this;
    }
    Statement& Text(int i, std::string&& v) = delete; // would be gone before the step
    Statement& Real(int i, double v) {
        sqlite3_bind_double(stmt_, i, v);
        return *this;
    }
    Statement& Int(int i, std::int64_t v) {
        sqlite3_bind_int64(stmt_, i, v);
        return *this;
    }
    // True while there is a row.
    bool Step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        Fail(db_, sqlite3_errmsg(db_));
    }
    void Reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    std::string ColumnText(int i) {
        const auto* p = sqlite3_column_text(stmt_, i);
        return p ? std::string(reinterpret_cast<const char*>(p),
                               static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i)))
                 : std::string();
    }
    double ColumnReal(int i) { return sqlite3_column_double(stmt_, i); }
    std::int64_t ColumnInt(int i) { return sqlite3_column_int64(stmt_, i); }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    bool kept_ = false;
};

} // namespace

Manifest::Manifest(const std::string& root) {
    const std::string dir = IncludeTrailingPathDelimiter(root) + ".quillmark";
    if (!CreateDirectoryPath(dir)) throw EFCreateError("Cannot create directory " + dir);
    const std::string file = IncludeTrailingPathDelimiter(dir) + "archive.sqlite";
    file_ = file;
    // SQLite takes UTF-8 file names on every platform.
    if (sqlite3_open_v2(file.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string reason = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw Exception("Cannot open the archive manifest " + file + ": " + reason);
    }
    sqlite3_busy_timeout(db_, 5000);
    try {
        // The write-ahead log keeps a killed run's committed batches and lets a reader (a
        // rebuild of the index) work beside a writer.
        // Statement journals (a replaced row drops its files) and sorts stay in memory
        // instead of going through temporary files. The pages keep SQLite's own size: larger
        // ones save writes but cost more per row, and make even an empty archive too big
        // for a nearly full disk.
        Exec("PRAGMA temp_store=MEMORY");
        Exec("PRAGMA journal_mode=WAL");
        Exec("PRAGMA synchronous=NORMAL");
        Exec("PRAGMA foreign_keys=ON");
        Exec(kSchema);
        Statement version(db_, "SELECT value FROM meta WHERE key='schema'");
        if (version.Step()) {
            if (version.ColumnText(0) != std::to_string(kSchemaVersion))
                throw Exception("The archive manifest " + file +
                                " was made by another version of the program (schema " +
                                version.ColumnText(0) + ")");
        } else {
            Exec("INSERT INTO meta(key, value) VALUES('schema', '1')");
        }
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

Manifest::~Manifest() {
    try {
        Commit();
    } catch (...) {
        // A destructor cannot report it; the next run records the batch again.
    }
    sqlite3_finalize(insertMail_);
    sqlite3_finalize(insertFile_);
    sqlite3_close(db_);
}

void Manifest::Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string reason = error ? error : sqlite3_errmsg(db_);
        sqlite3_free(error);
        Fail(db_, reason);
    }
}

void Manifest::Begin() {
    if (inTransaction_) return;
    Exec("BEGIN IMMEDIATE");
    inTransaction_ = true;
}

void Manifest::Commit() {
    if (!inTransaction_) return;
    Exec("COMMIT");
    inTransaction_ = false;
    pending_ = 0;
}

void Manifest::Record(const ManifestMail& m) {
    Begin();
    {
        // Replacing the row also drops its files (the cascade), so a mail exported again
        // lists the files of its latest page only.
        Statement insert(
            db_, insertMail_, "INSERT OR REPLACE INTO mails(store_key, identity, folder, page, received, sent, sender,"
                 " recipients, subject, size, message_id, in_reply_to, refs, text)"
                 " VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
        insert.Text(1, m.StoreKey).Text(2, m.Identity).Text(3, m.Folder).Text(4, m.Page).Real(5, m.Received);
        insert.Real(6, m.Sent).Text(7, m.Sender).Text(8, m.Recipients).Text(9, m.Subject).Int(10, m.Size);
        insert.Text(11, m.MessageId).Text(12, m.InReplyTo).Text(13, m.References).Text(14, m.Text);
        insert.Step();
    }
    const std::int64_t id = sqlite3_last_insert_rowid(db_);
    if (!m.Files.empty()) {
        Statement file(db_, insertFile_, "INSERT INTO files(mail_id, path, size, crc32, picture) VALUES(?,?,?,?,?)");
        for (const auto& f : m.Files) {
            file.Int(1, id).Text(2, f.Path).Int(3, f.Size).Int(4, f.Crc32).Int(5, f.Picture ? 1 : 0);
            file.Step();
            file.Reset();
        }
    }
    if (++pending_ >= kBatch) Commit();
}

std::unordered_set<std::string> Manifest::IdentitiesOf(const std::string& storeKey) {
    std::unordered_set<std::string> ids;
    Statement q(db_, "SELECT identity FROM mails WHERE store_key=?");
    q.Text(1, storeKey);
    while (q.Step())
        ids.insert(q.ColumnText(0));
    return ids;
}

double Manifest::LatestReceivedOf(const std::string& storeKey, double notAfter) {
    Statement q(db_, "SELECT max(received) FROM mails WHERE store_key=? AND received<=?");
    q.Text(1, storeKey);
    q.Real(2, notAfter);
    return q.Step() ? q.ColumnReal(0) : 0.0;
}

std::string Manifest::Fingerprint() {
    Commit();
    // A replaced row gets a new id, so the highest id moves with every row written; the
    // counts and sums catch rows taken away.
    Statement mails(db_, "SELECT count(*), ifnull(max(id), 0), total(received), total(size) FROM mails");
    Statement files(db_, "SELECT count(*), ifnull(max(rowid), 0), total(size) FROM files");
    std::string out;
    char buf[160];
    if (mails.Step()) {
        std::snprintf(buf, sizeof buf, "%lld:%lld:%.17g:%.17g", static_cast<long long>(mails.ColumnInt(0)),
                      static_cast<long long>(mails.ColumnInt(1)), mails.ColumnReal(2), mails.ColumnReal(3));
        out += buf;
    }
    if (files.Step()) {
        std::snprintf(buf, sizeof buf, "/%lld:%lld:%.17g", static_cast<long long>(files.ColumnInt(0)),
                      static_cast<long long>(files.ColumnInt(1)), files.ColumnReal(2));
        out += buf;
    }
    return out;
}

std::string Manifest::Note(const std::string& key) {
    const std::string name = "note:" + key;
    Statement q(db_, "SELECT value FROM meta WHERE key = ?");
    q.Text(1, name);
    return q.Step() ? q.ColumnText(0) : std::string();
}

void Manifest::SetNote(const std::string& key, const std::string& value) {
    Commit();
    const std::string name = "note:" + key;
    Statement q(db_, "INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)");
    q.Text(1, name).Text(2, value);
    q.Step();
}

std::int64_t Manifest::Count() {
    Statement q(db_, "SELECT count(*) FROM mails");
    return q.Step() ? q.ColumnInt(0) : 0;
}

namespace {

// The rows of mails with lo <= id <= hi, in the table's order, with their ids beside them.
void ReadMails(sqlite3* db, std::int64_t lo, std::int64_t hi, std::vector<ManifestMail>& mails,
               std::vector<std::int64_t>& ids) {
    Statement q(db, "SELECT id, store_key, identity, folder, page, received, sent, sender, recipients, subject,"
                    " size, message_id, in_reply_to, refs, text FROM mails WHERE id BETWEEN ? AND ?");
    q.Int(1, lo).Int(2, hi);
    while (q.Step()) {
        ManifestMail& m = mails.emplace_back();
        ids.push_back(q.ColumnInt(0));
        m.StoreKey = q.ColumnText(1);
        m.Identity = q.ColumnText(2);
        m.Folder = q.ColumnText(3);
        m.Page = q.ColumnText(4);
        m.Received = q.ColumnReal(5);
        m.Sent = q.ColumnReal(6);
        m.Sender = q.ColumnText(7);
        m.Recipients = q.ColumnText(8);
        m.Subject = q.ColumnText(9);
        m.Size = q.ColumnInt(10);
        m.MessageId = q.ColumnText(11);
        m.InReplyTo = q.ColumnText(12);
        m.References = q.ColumnText(13);
        m.Text = q.ColumnText(14);
    }
}

} // namespace

std::vector<ManifestMail> Manifest::All() {
    // What is pending is written first: the second reader below sees only committed rows.
    Commit();
    std::int64_t lo = 0, hi = -1, count = 0;
    {
        Statement range(db_, "SELECT min(id), max(id), count(*) FROM mails");
        if (range.Step()) {
            lo = range.ColumnInt(0);
            hi = range.ColumnInt(1);
            count = range.ColumnInt(2);
        }
    }
    std::vector<ManifestMail> mails;
    std::vector<std::int64_t> ids;
    mails.reserve(static_cast<std::size_t>(count));
    ids.reserve(static_cast<std::size_t>(count));
    // A big archive is read in two halves side by side, the second on a connection of its own
    // (the write-ahead log lets readers work together): decoding the rows is most of the
    // index's start, and it halves on two cores. A small one, or a second connection that
    // cannot be opened, is read here alone.
    const std::int64_t middle = lo + (hi - lo) / 2;
    std::vector<ManifestMail> upper;
    std::vector<std::int64_t> upperIds;
    std::thread helper;
    std::exception_ptr helperError;
    sqlite3* second = nullptr;
    if (count >= 20000 && std::thread::hardware_concurrency() > 1 &&
        sqlite3_open_v2(file_.c_str(), &second, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(second, 5000);
        upper.reserve(static_cast<std::size_t>(count / 2 + 1));
        upperIds.reserve(static_cast<std::size_t>(count / 2 + 1));
        helper = std::thread([&] {
            try {
                ReadMails(second, middle + 1, hi, upper, upperIds);
            } catch (...) {
                helperError = std::current_exception();
            }
        });
    }
    auto joinHelper = [&] {
        if (helper.joinable()) helper.join();
        if (second) sqlite3_close(second);
        second = nullptr;
    };
    try {
        ReadMails(db_, lo, helper.joinable() ? middle : hi, mails, ids);
    } catch (...) {
        joinHelper();
        throw;
    }
    joinHelper();
    if (helperError) std::rethrow_exception(helperError);
    for (std::size_t i = 0; i < upper.size(); ++i) {
        mails.push_back(std::move(upper[i]));
        ids.push_back(upperIds[i]);
    }
    upper.clear();

    std::unordered_map<std::int64_t, std::size_t> at;
    at.reserve(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i)
        at[ids[i]] = i;
    Statement f(db_, "SELECT mail_id, path, size, crc32, picture FROM files ORDER BY rowid");
    while (f.Step()) {
        auto it = at.find(f.ColumnInt(0));
        if (it == at.end()) continue;
        mails[it->second].Files.push_back(ManifestFile{f.ColumnText(1), f.ColumnInt(2),
                                                       static_cast<std::uint32_t>(f.ColumnInt(3)),
                                                       f.ColumnInt(4) != 0});
    }
    // Oldest received first, rows of the same time in the order they were made. Sorted in
    // place (an ORDER BY would make SQLite copy every row, texts and all, through its sorter).
    std::vector<std::size_t> order(mails.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return mails[a].Received != mails[b].Received ? mails[a].Received < mails[b].Received : ids[a] < ids[b];
    });
    // Place i takes the row order[i]: each cycle of the permutation is walked once, with swaps.
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (order[i] == i) continue;
        std::size_t k = i;
        ManifestMail held = std::move(mails[i]);
        while (order[k] != i) {
            const std::size_t from = order[k];
            mails[k] = std::move(mails[from]);
            order[k] = k;
            k = from;
        }
        mails[k] = std::move(held);
        order[k] = k;
    }
    return mails;
}

} // namespace quillmark
