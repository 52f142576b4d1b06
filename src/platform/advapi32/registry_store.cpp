#include "advapi32/registry_store.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "common/casefold.h"
#include "common/environment.h"
#include "common/fork_guard.h"
#include "common/unicode.h"

namespace nlplatform::registry {
namespace {

constexpr char kDefaultDatabase[] = "/var/lib/norlake/registry.db";
// How long a call waits for another process's change to finish, without a
// budget of the calling thread.
constexpr DWORD kBusyTimeoutMs = 5000;
// PRAGMA user_version of the layout below.
constexpr int64_t kFormatVersion = 1;

// Names are stored as created and, for lookups and ordering, upper-cased.
// Key ids are never reused, so a handle to a deleted key cannot reach a new
// one. Value ids give the order in which values were first set.
constexpr char kSchema[] =
    "CREATE TABLE keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"  // 0 for the keys under HKEY_LOCAL_MACHINE
    "  name TEXT NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  written INTEGER NOT NULL,"  // last write, as a FILETIME
    "  UNIQUE(parent, folded));"
    "CREATE TABLE key_values("
    "  id INTEGER PRIMARY KEY,"
    "  key_id INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key_id, folded));"
    "CREATE INDEX key_values_in_order ON key_values(key_id, id);"
    "PRAGMA application_id = 1313621831;"  // "NLRG"
    "PRAGMA user_version = 1;";

// Registry names compare upper-cased, without regard to the process's
// locale. The folded names are stored: a change to UpperCase is a new
// database format.
std::string Folded(const std::wstring& name) {
    std::string folded;
    folded.reserve(name.size());
    for (wchar_t c : name) AppendUtf8(folded, UpperCase(static_cast<char32_t>(c)));
    return folded;
}

int64_t FileTimeNow() {
    constexpr int64_t kUnixEpoch = 116444736000000000;  // 1970-01-01 in 100 ns units since 1601
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return kUnixEpoch + now.tv_sec * 10000000 + now.tv_nsec / 100;
}

// ---- Waiting for another process's change ------------------------------------

// The calling thread's wait budget (NlBeginRegistryWaitBudget): when it runs
// out, and how deeply budgets are nested.
struct WaitBudget {
    int depth = 0;
    int64_t deadlineNs = 0;
};
thread_local WaitBudget t_budget;

// Why this thread's last open of a database file failed (errno).
static thread_local int t_openError = 0;

int64_t MonotonicNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void SleepNs(int64_t nanoseconds) {
    timespec pause{static_cast<time_t>(nanoseconds / 1000000000),
                   static_cast<long>(nanoseconds % 1000000000)};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

// SQLite's busy handler: waits in short steps while another process holds
// the lock. Without a budget one statement waits up to kBusyTimeoutMs; with
// one, the thread's waits end together when the budget's time is up.
int WaitWhileBusy(void*, int attempt) {
    int64_t stepNs = (attempt < 10 ? 1 : attempt < 30 ? 5 : 20) * int64_t{1000000};
    if (t_budget.depth > 0) {
        int64_t leftNs = t_budget.deadlineNs - MonotonicNs();
        if (leftNs <= 0) return 0;
        SleepNs(std::min(stepNs, leftNs));
        return 1;
    }
    int64_t waitedMs = attempt < 10   ? attempt
                       : attempt < 30 ? 10 + (attempt - 10) * 5
                                      : 110 + (attempt - 30) * 20;
    if (waitedMs >= kBusyTimeoutMs) return 0;
    SleepNs(stepNs);
    return 1;
}

// A read that fails on a database that is missing, unreadable or not a
// registry finds nothing, as in an empty registry.
LSTATUS ReadStatus(int rc, LSTATUS nothingFound) {
    switch (rc & 0xFF) {
        case SQLITE_CANTOPEN:
        case SQLITE_PERM:
        case SQLITE_AUTH:
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
        case SQLITE_ERROR:     // the tables are missing
        case SQLITE_READONLY:  // a crashed writer's journal that only a writer may roll back
            return nothingFound;
        case SQLITE_NOMEM:
        case SQLITE_TOOBIG:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:  // the lock not had in time, or the disk failed
            return ERROR_CANTREAD;
    }
}

LSTATUS WriteStatus(int rc) {
    switch (rc & 0xFF) {
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
        case SQLITE_CANTOPEN:  // the journal cannot be created
            return ERROR_ACCESS_DENIED;
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
        case SQLITE_ERROR:  // some other database
            return ERROR_BADDB;
        case SQLITE_NOMEM:
        case SQLITE_TOOBIG:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:  // the lock not had in time, a full or failing disk
            return ERROR_CANTWRITE;
    }
}

// A walk of the key tree that came back to a key it had passed: the rows of a
// damaged file form a cycle. Not an SQLite code; its low byte makes a change
// report it as a corrupt database.
constexpr int kKeyCycle = SQLITE_CORRUPT | (0x7F << 8);

// Statements that change rows end with SQLITE_DONE; this makes it SQLITE_OK.
int Done(int rc) { return rc == SQLITE_DONE ? SQLITE_OK : rc; }

LSTATUS ErrnoStatus(int error) {
    return (error == EACCES || error == EPERM || error == EROFS) ? ERROR_ACCESS_DENIED : ERROR_CANTWRITE;
}

std::string Folder(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool Accessible(const std::string& path, int mode) {
    return faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0;
}

// The folders of the path that are missing, readable and searchable by
// everyone, writable by the owner, whatever the umask.
LSTATUS CreateFolders(const std::string& folder) {
    if (Exists(folder)) return ERROR_SUCCESS;
    LSTATUS status = CreateFolders(Folder(folder));
    if (status != ERROR_SUCCESS) return status;
    if (mkdir(folder.c_str(), 0755) != 0) return errno == EEXIST ? ERROR_SUCCESS : ErrnoStatus(errno);
    chmod(folder.c_str(), 0755);
    return ERROR_SUCCESS;
}

// An empty file, which the first writer turns into a registry; readable by
// everyone and writable by the owner, whatever the umask. Only the machine's
// registry gets its missing folders made: a file that NL_REGISTRY_FILE names
// in a folder that does not exist is a mistyped name, which must not quietly
// become a second registry.
LSTATUS CreateDatabaseFile(const std::string& path) {
    LSTATUS status = path == kDefaultDatabase ? CreateFolders(Folder(path))
                     : Exists(Folder(path))   ? ERROR_SUCCESS
                                              : ERROR_PATH_NOT_FOUND;
    if (status != ERROR_SUCCESS) return status;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return errno == EEXIST ? ERROR_SUCCESS : ErrnoStatus(errno);
    fchmod(fd, 0644);
    close(fd);
    return ERROR_SUCCESS;
}

// Which file a connection was opened on: a new file at the same path is a
// new database.
struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;

    bool operator==(const FileIdentity& other) const {
        return exists == other.exists && device == other.device && inode == other.inode;
    }
};

FileIdentity Identify(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return {};
    return {true, st.st_dev, st.st_ino};
}

}  // namespace

// A rollback journal as found at one moment: a writer that rolls it back or
// starts a new change deletes or rewrites it.
struct JournalState {
    FileIdentity file;
    off_t size = 0;
    int64_t modified = 0;

    bool operator==(const JournalState& other) const {
        return file == other.file && size == other.size && modified == other.modified;
    }
};

namespace {

JournalState ReadJournalState(const std::string& databasePath) {
    struct stat st;
    if (stat((databasePath + "-journal").c_str(), &st) != 0) return {};
    return {{true, st.st_dev, st.st_ino}, st.st_size, st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec};
}

bool ReadWholeFile(const std::string& path, std::string* content) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    content->clear();
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) content->append(buffer, static_cast<size_t>(n));
    close(fd);
    return n == 0;
}

bool WriteWholeFile(const std::string& path, const std::string& content) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool written = write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    close(fd);
    return written;
}

// A private folder for a rolled-back copy: in the temporary directory, or
// in the machine's when the process may not write there.
std::string MakePrivateFolder() {
    const char* tmpdir = ReadEnvironment("TMPDIR");
    for (const char* parent : {tmpdir && *tmpdir ? tmpdir : "/tmp", "/tmp", "/var/tmp", "/dev/shm"}) {
        std::string pattern = std::string(parent) + "/nlregistry-XXXXXX";
        if (mkdtemp(&pattern[0])) return pattern;
    }
    return std::string();
}

}  // namespace

void KeepUsableAcrossFork(std::mutex& mutex) { KeepMutexAcrossFork(mutex); }

std::string DatabasePath() {
    const char* file = ReadEnvironment("NL_REGISTRY_FILE");
    return file && *file ? file : kDefaultDatabase;
}

bool MayWriteDatabase(const std::string& path) {
    if (Exists(path)) return Accessible(path, W_OK) && Accessible(Folder(path), W_OK | X_OK);
    std::string folder = Folder(path);
    while (!Exists(folder) && folder != "/" && folder != ".") folder = Folder(folder);
    return Accessible(folder, W_OK | X_OK);
}

// ---- Connection -------------------------------------------------------------

enum Connection::StatementId : int {
    kFindKey,
    kKeyExists,
    kGetValue,
    kEnumKey,
    kEnumValue,
    kHasSubkeys,
    kInsertKey,
    kTouchKey,
    kTouchParent,
    kSetValue,
    kDeleteValue,
    kDeleteValues,
    kDeleteKeyRow,
    kDeleteValuesBelow,
    kDeleteKeysBelow,
    kKeyDepth,
    kStatementCount
};

namespace {

// Indexed by Connection::StatementId.
const char* const kStatements[] = {
    "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2",
    "SELECT 1 FROM keys WHERE id = ?1",
    "SELECT type, data FROM key_values WHERE key_id = ?1 AND folded = ?2",
    "SELECT name, written FROM keys WHERE parent = ?1 ORDER BY folded LIMIT 1 OFFSET ?2",
    "SELECT name, type, data FROM key_values WHERE key_id = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1",
    "INSERT INTO keys(parent, name, folded, written) VALUES(?1, ?2, ?3, ?4)",
    "UPDATE keys SET written = ?2 WHERE id = ?1",
    "UPDATE keys SET written = ?2 WHERE id = (SELECT parent FROM keys WHERE id = ?1)",
    "INSERT INTO key_values(key_id, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
    " ON CONFLICT(key_id, folded) DO UPDATE SET type = excluded.type, data = excluded.data",
    "DELETE FROM key_values WHERE key_id = ?1 AND folded = ?2",
    "DELETE FROM key_values WHERE key_id = ?1",
    "DELETE FROM keys WHERE id = ?1",
    // UNION, not UNION ALL: a key met twice is not followed again, so rows
    // of a damaged file that form a cycle end the walk instead of feeding it.
    "WITH RECURSIVE below(id) AS (SELECT id FROM keys WHERE parent = ?1"
    " UNION SELECT keys.id FROM keys JOIN below ON keys.parent = below.id)"
    " DELETE FROM key_values WHERE key_id IN below",
    "WITH RECURSIVE below(id) AS (SELECT id FROM keys WHERE parent = ?1"
    " UNION SELECT keys.id FROM keys JOIN below ON keys.parent = below.id)"
    " DELETE FROM keys WHERE id IN below",
    // How many levels below HKEY_LOCAL_MACHINE the key lies; the count stops
    // past ?2, so that rows of a damaged file forming a cycle end it.
    "WITH RECURSIVE up(id, depth) AS (SELECT ?1, 0"
    " UNION ALL SELECT keys.parent, up.depth + 1 FROM keys JOIN up ON keys.id = up.id"
    " WHERE up.id != 0 AND up.depth <= ?2)"
    " SELECT max(depth) FROM up",
};

}  // namespace

// One use of a cached statement. Resetting it at the end of the scope ends
// its read transaction, so no statement holds the database lock after the
// call that used it.
class Connection::Query {
  public:
    Query(Connection& connection, StatementId id) { status_ = connection.Prepare(id, &statement_); }
    ~Query() {
        if (statement_) sqlite3_reset(statement_);
    }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& Bind(int64_t number) {
        if (statement_) sqlite3_bind_int64(statement_, ++bound_, number);
        return *this;
    }
    Query& Bind(const std::string& text) {
        if (statement_)
            sqlite3_bind_text64(statement_, ++bound_, text.data(), text.size(), SQLITE_TRANSIENT,
                                SQLITE_UTF8);
        return *this;
    }
    Query& BindBlob(const std::string& bytes) {
        if (statement_)
            sqlite3_bind_blob64(statement_, ++bound_, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE, or why the statement could not run.
    int Step() { return statement_ ? sqlite3_step(statement_) : status_; }

    int64_t Int(int column) const { return sqlite3_column_int64(statement_, column); }
    std::string Bytes(int column) const {
        const void* bytes = sqlite3_column_blob(statement_, column);
        return bytes ? std::string(static_cast<const char*>(bytes), sqlite3_column_bytes(statement_, column))
                     : std::string();
    }
    std::wstring Name(int column) const { return Utf8ToWide(Bytes(column)); }

  private:
    sqlite3_stmt* statement_ = nullptr;
    int status_ = SQLITE_OK;
    int bound_ = 0;
};

Connection::Connection(sqlite3* db) : db_(db), statements_(kStatementCount, nullptr) {}

Connection::~Connection() {
    for (sqlite3_stmt* statement : statements_) sqlite3_finalize(statement);
    sqlite3_close_v2(db_);
}

sqlite3* Connection::OpenFile(const std::string& path, int flags) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        t_openError = db ? sqlite3_system_errno(db) : ENOMEM;
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_busy_handler(db, WaitWhileBusy, nullptr);
    return db;
}

std::unique_ptr<Connection> Connection::OpenReader(const std::string& path) {
    // A reader that may write rolls back the journal a crashed writer left,
    // which a read-only one cannot.
    int flags = MayWriteDatabase(path) ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
    return std::unique_ptr<Connection>(new Connection(OpenFile(path, flags)));
}

// A file that is there but could not be opened for a passing reason (the
// process's descriptors used up, memory short, the file busy) is not an
// empty registry: the open is tried again at the next read.
bool Connection::OpenFailedForNow(const std::string& path) const {
    if (db_) return false;
    switch (t_openError) {
        case EACCES:
        case EPERM:
        case ENOENT:
        case ENOTDIR:
        case ELOOP:
        case EISDIR:
        case ENXIO:
            return false;
        default:
            return Exists(path);
    }
}

bool Connection::ReadOnly() const { return db_ && sqlite3_db_readonly(db_, "main") == 1; }

bool Connection::SeesUnfinishedChange() {
    if (!ReadOnly()) return false;
    return (Exec("SELECT count(*) FROM sqlite_schema") & 0xFF) == SQLITE_READONLY;
}

// Copies the database and its journal into a private folder, where SQLite
// rolls the copy back on its first read. The copy is consistent when the
// journal stayed the same while the database was copied: no writer can
// change the database without first rolling that journal back, and pages a
// writer rolls back meanwhile come back from the journal all the same.
std::unique_ptr<Connection> Connection::OpenRolledBackCopy(const std::string& path, JournalState* used) {
    std::string folder = MakePrivateFolder();
    if (folder.empty()) return nullptr;
    std::string copy = folder + "/registry.db";
    std::unique_ptr<Connection> connection;
    for (int attempt = 0; attempt < 5 && !connection; ++attempt) {
        JournalState before = ReadJournalState(path);
        std::string journal, database;
        if (!before.file.exists || !ReadWholeFile(path + "-journal", &journal) ||
            !ReadWholeFile(path, &database))
            break;
        if (!(ReadJournalState(path) == before)) continue;
        if (WriteWholeFile(copy, database) && WriteWholeFile(copy + "-journal", journal)) {
            connection.reset(new Connection(OpenFile(copy, SQLITE_OPEN_READWRITE)));
            if (connection->Exec("SELECT count(*) FROM sqlite_schema") != SQLITE_OK) connection.reset();
            *used = before;
        }
        // The open connection keeps the rolled-back copy after its names go.
        unlink((copy + "-journal").c_str());
        unlink(copy.c_str());
    }
    rmdir(folder.c_str());
    return connection;
}

LSTATUS Connection::OpenWriter(const std::string& path, std::unique_ptr<Connection>* connection) {
    // Without write permission SQLite opens the file read-only, and changes
    // then fail with ERROR_ACCESS_DENIED.
    sqlite3* db = OpenFile(path, SQLITE_OPEN_READWRITE);
    if (!db) return ERROR_ACCESS_DENIED;
    std::unique_ptr<Connection> opened(new Connection(db));
    LSTATUS status = opened->EnsureSchema();
    if (status == ERROR_SUCCESS) *connection = std::move(opened);
    return status;
}

int Connection::Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

int Connection::ReadFormat(int64_t* version, int64_t* objects) {
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v2(db_,
                                "SELECT (SELECT user_version FROM pragma_user_version),"
                                " (SELECT count(*) FROM sqlite_schema)",
                                -1, &statement, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) {
        *version = sqlite3_column_int64(statement, 0);
        *objects = sqlite3_column_int64(statement, 1);
        rc = SQLITE_OK;
    }
    sqlite3_finalize(statement);
    return rc;
}

// Gives an empty file the registry's tables; refuses any other database.
LSTATUS Connection::EnsureSchema() {
    int64_t version = 0, objects = 0;
    int rc = ReadFormat(&version, &objects);
    if (rc != SQLITE_OK) return WriteStatus(rc);
    if (version == kFormatVersion) return ERROR_SUCCESS;
    return Write([&]() -> LSTATUS {
        int rc = ReadFormat(&version, &objects);
        if (rc != SQLITE_OK) return WriteStatus(rc);
        if (version == kFormatVersion) return ERROR_SUCCESS;  // another process came first
        if (version != 0 || objects != 0) return ERROR_BADDB;
        rc = Exec(kSchema);
        return rc == SQLITE_OK ? ERROR_SUCCESS : WriteStatus(rc);
    });
}

// Runs a change as one transaction, or inside the open one as a savepoint, so
// that it is all-or-nothing either way.
template <class Change>
LSTATUS Connection::Write(Change change) {
    bool outermost = sqlite3_get_autocommit(db_);
    // A read-only connection still runs the change's lookups, so that a
    // missing key is reported as such before a denied write: Windows looks a
    // key up before it checks the right to change it.
    const char* begin = !outermost                              ? "SAVEPOINT operation"
                        : sqlite3_db_readonly(db_, "main") == 1 ? "BEGIN"
                                                                : "BEGIN IMMEDIATE";
    int rc = Exec(begin);
    if (rc != SQLITE_OK) return WriteStatus(rc);
    LSTATUS status = change();
    if (status == ERROR_SUCCESS) {
        rc = Exec(outermost ? "COMMIT" : "RELEASE operation");
        if (rc == SQLITE_OK) return ERROR_SUCCESS;
        status = WriteStatus(rc);
    }
    Exec(outermost ? "ROLLBACK" : "ROLLBACK TO operation; RELEASE operation");
    return status;
}

int Connection::Prepare(StatementId id, sqlite3_stmt** statement) {
    static_assert(sizeof(kStatements) / sizeof(kStatements[0]) == kStatementCount);
    if (!db_) return SQLITE_CANTOPEN;
    sqlite3_stmt*& cached = statements_[id];
    if (!cached) {
        int rc = sqlite3_prepare_v3(db_, kStatements[id], -1, SQLITE_PREPARE_PERSISTENT, &cached, nullptr);
        if (rc != SQLITE_OK) return rc;
    }
    *statement = cached;
    return SQLITE_OK;
}

// SQLITE_ROW when the key exists, SQLITE_DONE when it does not.
int Connection::KeyExists(KeyId key) {
    if (key == kRootKey) return SQLITE_ROW;
    Query query(*this, kKeyExists);
    return query.Bind(key).Step();
}

// Follows the path from base as far as its keys exist: *depth names matched,
// *key the last key reached. A key that is its own ancestor (only a damaged
// file has one) gives kKeyCycle.
int Connection::WalkPath(KeyId base, const KeyPath& path, size_t* depth, KeyId* key) {
    std::vector<KeyId> walked{kRootKey, base};
    *key = base;
    for (*depth = 0; *depth < path.size(); ++*depth) {
        Query query(*this, kFindKey);
        int rc = query.Bind(*key).Bind(Folded(path[*depth])).Step();
        if (rc == SQLITE_DONE) return SQLITE_OK;
        if (rc != SQLITE_ROW) return rc;
        *key = query.Int(0);
        if (std::find(walked.begin(), walked.end(), *key) != walked.end()) return kKeyCycle;
        walked.push_back(*key);
    }
    return SQLITE_OK;
}

// What a read that found nothing under key reports: nothingFound, or
// ERROR_KEY_DELETED when the key itself is gone (a database that cannot be
// read has no keys left).
LSTATUS Connection::ReadMiss(KeyId key, LSTATUS nothingFound) {
    int rc = KeyExists(key);
    if (rc == SQLITE_ROW) return nothingFound;
    return rc == SQLITE_DONE ? ERROR_KEY_DELETED : ReadStatus(rc, ERROR_KEY_DELETED);
}

// The same for a change, inside its transaction.
LSTATUS Connection::RequireKey(KeyId key) {
    int rc = KeyExists(key);
    if (rc == SQLITE_ROW) return ERROR_SUCCESS;
    return rc == SQLITE_DONE ? ERROR_KEY_DELETED : WriteStatus(rc);
}

LSTATUS Connection::FindKey(KeyId base, const KeyPath& path, KeyId* key) {
    size_t depth = 0;
    int rc = WalkPath(base, path, &depth, key);
    if (rc == kKeyCycle) return ERROR_BADDB;
    if (rc != SQLITE_OK) return ReadStatus(rc, ERROR_FILE_NOT_FOUND);
    if (depth == path.size() && depth > 0) return ERROR_SUCCESS;
    // An empty path names base itself, and nothing lies below a deleted key:
    // either way base may be gone.
    return ReadMiss(base, depth == path.size() ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
}

LSTATUS Connection::QueryValue(KeyId key, const std::wstring& name, StoredValue* value) {
    {
        Query query(*this, kGetValue);
        int rc = query.Bind(key).Bind(Folded(name)).Step();
        if (rc == SQLITE_ROW) {
            value->type = static_cast<DWORD>(query.Int(0));
            value->data = query.Bytes(1);
            return ERROR_SUCCESS;
        }
        if (rc != SQLITE_DONE) return ReadStatus(rc, ERROR_FILE_NOT_FOUND);
    }
    return ReadMiss(key, ERROR_FILE_NOT_FOUND);
}

LSTATUS Connection::EnumKey(KeyId key, DWORD index, std::wstring* name, FILETIME* lastWrite) {
    {
        Query query(*this, kEnumKey);
        int rc = query.Bind(key).Bind(int64_t{index}).Step();
        if (rc == SQLITE_ROW) {
            *name = query.Name(0);
            uint64_t written = static_cast<uint64_t>(query.Int(1));
            lastWrite->dwLowDateTime = static_cast<DWORD>(written);
            lastWrite->dwHighDateTime = static_cast<DWORD>(written >> 32);
            return ERROR_SUCCESS;
        }
        if (rc != SQLITE_DONE) return ReadStatus(rc, ERROR_NO_MORE_ITEMS);
    }
    return ReadMiss(key, ERROR_NO_MORE_ITEMS);
}

LSTATUS Connection::EnumValue(KeyId key, DWORD index, std::wstring* name, StoredValue* value) {
    {
        Query query(*this, kEnumValue);
        int rc = query.Bind(key).Bind(int64_t{index}).Step();
        if (rc == SQLITE_ROW) {
            *name = query.Name(0);
            value->type = static_cast<DWORD>(query.Int(1));
            value->data = query.Bytes(2);
            return ERROR_SUCCESS;
        }
        if (rc != SQLITE_DONE) return ReadStatus(rc, ERROR_NO_MORE_ITEMS);
    }
    return ReadMiss(key, ERROR_NO_MORE_ITEMS);
}

// Only a damaged file holds a key deeper than the tree may grow, or rows
// whose parents form a cycle: either gives kKeyCycle.
int Connection::KeyDepth(KeyId key, int64_t* depth) {
    Query query(*this, kKeyDepth);
    int rc = query.Bind(key).Bind(int64_t{kMaxKeyDepth}).Step();
    if (rc != SQLITE_ROW) return rc;
    *depth = query.Int(0);
    return *depth > kMaxKeyDepth ? kKeyCycle : SQLITE_OK;
}

int Connection::Touch(KeyId key) {
    Query query(*this, kTouchKey);
    return Done(query.Bind(key).Bind(FileTimeNow()).Step());
}

int Connection::TouchParent(KeyId key) {
    Query query(*this, kTouchParent);
    return Done(query.Bind(key).Bind(FileTimeNow()).Step());
}

LSTATUS Connection::CreateKey(KeyId base, const KeyPath& path, bool mayCreate, KeyId* key, bool* created) {
    return Write([&]() -> LSTATUS {
        LSTATUS status = RequireKey(base);
        if (status != ERROR_SUCCESS) return status;
        size_t depth = 0;
        int rc = WalkPath(base, path, &depth, key);
        *created = depth < path.size();
        if (rc == SQLITE_OK && *created && !mayCreate) return ERROR_ACCESS_DENIED;
        if (rc == SQLITE_OK && *created) {
            int64_t baseDepth = 0;
            rc = KeyDepth(base, &baseDepth);
            if (rc == SQLITE_OK && baseDepth + static_cast<int64_t>(path.size()) > kMaxKeyDepth)
                return ERROR_INVALID_PARAMETER;
        }
        if (rc == SQLITE_OK && *created) rc = Touch(*key);
        for (; rc == SQLITE_OK && depth < path.size(); ++depth) {
            Query insert(*this, kInsertKey);
            rc = Done(insert.Bind(*key)
                          .Bind(WideToUtf8(path[depth]))
                          .Bind(Folded(path[depth]))
                          .Bind(FileTimeNow())
                          .Step());
            *key = sqlite3_last_insert_rowid(db_);
        }
        return rc == SQLITE_OK ? ERROR_SUCCESS : WriteStatus(rc);
    });
}

LSTATUS Connection::SetValue(KeyId key, const std::wstring& name, const StoredValue& value) {
    return Write([&]() -> LSTATUS {
        LSTATUS status = RequireKey(key);
        if (status != ERROR_SUCCESS) return status;
        Query upsert(*this, kSetValue);
        int rc = Done(upsert.Bind(key)
                          .Bind(WideToUtf8(name))
                          .Bind(Folded(name))
                          .Bind(int64_t{value.type})
                          .BindBlob(value.data)
                          .Step());
        if (rc == SQLITE_OK) rc = Touch(key);
        return rc == SQLITE_OK ? ERROR_SUCCESS : WriteStatus(rc);
    });
}

LSTATUS Connection::DeleteValue(KeyId key, const std::wstring& name) {
    return Write([&]() -> LSTATUS {
        LSTATUS status = RequireKey(key);
        if (status != ERROR_SUCCESS) return status;
        Query remove(*this, kDeleteValue);
        int rc = Done(remove.Bind(key).Bind(Folded(name)).Step());
        if (rc == SQLITE_OK && sqlite3_changes(db_) == 0) return ERROR_FILE_NOT_FOUND;
        if (rc == SQLITE_OK) rc = Touch(key);
        return rc == SQLITE_OK ? ERROR_SUCCESS : WriteStatus(rc);
    });
}

// Finds the key a deletion addresses, inside the deletion's transaction.
LSTATUS Connection::FindKeyToDelete(KeyId base, const KeyPath& path, KeyId* key) {
    LSTATUS status = RequireKey(base);
    if (status != ERROR_SUCCESS) return status;
    size_t depth = 0;
    int rc = WalkPath(base, path, &depth, key);
    if (rc != SQLITE_OK) return WriteStatus(rc);
    return depth == path.size() ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

// Deletes the key's row and values; it must have no subkeys left.
int Connection::RemoveKey(KeyId key) {
    int rc = TouchParent(key);
    if (rc == SQLITE_OK) {
        Query values(*this, kDeleteValues);
        rc = Done(values.Bind(key).Step());
    }
    if (rc == SQLITE_OK) {
        Query row(*this, kDeleteKeyRow);
        rc = Done(row.Bind(key).Step());
    }
    return rc;
}

LSTATUS Connection::DeleteKey(KeyId base, const KeyPath& path) {
    return Write([&]() -> LSTATUS {
        KeyId key = kRootKey;
        LSTATUS status = FindKeyToDelete(base, path, &key);
        if (status != ERROR_SUCCESS) return status;
        if (key == kRootKey) return ERROR_ACCESS_DENIED;
        int rc;
        {
            Query subkeys(*this, kHasSubkeys);
            rc = subkeys.Bind(key).Step();
        }
        if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
        rc = rc == SQLITE_DONE ? RemoveKey(key) : rc;
        return rc == SQLITE_OK ? ERROR_SUCCESS : WriteStatus(rc);
    });
}

LSTATUS Connection::DeleteTree(KeyId base, const KeyPath& path, bool keepKey) {
    return Write([&]() -> LSTATUS {
        KeyId key = kRootKey;
        LSTATUS status = FindKeyToDelete(base, path, &key);
        if (status != ERROR_SUCCESS) return status;
        if (key == kRootKey && !keepKey) return ERROR_ACCESS_DENIED;
        int rc;
        {
            Query values(*this, kDeleteValuesBelow);
            rc = Done(values.Bind(key).Step());
        }
        if (rc == SQLITE_OK) {
            Query keys(*this, kDeleteKeysBelow);
            rc = Done(keys.Bind(key).Step());
        }
        if (rc == SQLITE_OK && keepKey) {
            Query values(*this, kDeleteValues);
            rc = Done(values.Bind(key).Step());
            if (rc == SQLITE_OK) rc = Touch(key);
        } else if (rc == SQLITE_OK) {
            rc = RemoveKey(key);
        }
        return rc == SQLITE_OK ? ERROR_SUCCESS : WriteStatus(rc);
    });
}

// A deferred transaction: the first read takes the shared lock, and keeps it
// until the end, so that no writer commits in between.
bool Connection::BeginReads() { return db_ && sqlite3_get_autocommit(db_) && Exec("BEGIN") == SQLITE_OK; }

// SQLite may have ended the transaction itself after a failed read.
void Connection::EndReads() {
    if (InTransaction()) Exec("COMMIT");
}

LSTATUS Connection::Begin() {
    int rc = Exec("BEGIN IMMEDIATE");
    return rc == SQLITE_OK ? ERROR_SUCCESS : WriteStatus(rc);
}

LSTATUS Connection::Commit() {
    int rc = Exec("COMMIT");
    if (rc == SQLITE_OK) return ERROR_SUCCESS;
    Rollback();
    return WriteStatus(rc);
}

void Connection::Rollback() { Exec("ROLLBACK"); }

bool Connection::InTransaction() const { return db_ && !sqlite3_get_autocommit(db_); }

// ---- This process's connections ------------------------------------------------

namespace {

// One cached connection and the lock that serialises its users.
class ConnectionSlot {
  public:
    // fork() waits until no thread uses the connection, so that the child
    // finds the lock free and no connection in the middle of a statement.
    // A snapshot keeps the connection lent while its thread goes on to
    // other calls, so the lock is an outer one.
    explicit ConnectionSlot(bool forWrites) : forWrites_(forWrites) { KeepOuterMutexAcrossFork(mutex_); }

    LSTATUS Lend(const std::string& path, Intent intent, Lease* lease) {
        std::unique_lock<std::mutex> lock(mutex_);
        // kernel32's cached id, which fork() renews in the child.
        pid_t pid = static_cast<pid_t>(GetCurrentProcessId());
        if (pid_ != pid) {
            // A child after fork(): SQLite forbids using the parent's
            // connection here, and closing it could disturb the parent.
            (void)connection_.release();
            pid_ = pid;
        }
        FileIdentity file = Identify(path);
        if (!connection_ || path != path_ || !(file == file_) || ViewIsStale(path)) {
            LSTATUS status = Connect(path, intent, &file);
            if (status != ERROR_SUCCESS) return status;
        }
        lease->lock = std::move(lock);
        lease->connection = connection_.get();
        return ERROR_SUCCESS;
    }

  private:
    // A reader that may not write cannot roll back a change that a killed
    // writer left unfinished, and SQLite then reads nothing: such a reader
    // reads a rolled-back copy instead, until that journal is gone.
    bool ViewIsStale(const std::string& path) {
        // A connection that may write rolls such a change back itself.
        if (forWrites_ || (!rolledBack_ && !connection_->ReadOnly())) return false;
        JournalState journal = ReadJournalState(path);
        if (rolledBack_) return !(journal == rolledBackJournal_);
        return journal.file.exists && connection_->SeesUnfinishedChange();
    }

    LSTATUS ConnectReader(const std::string& path) {
        connection_ = Connection::OpenReader(path);
        rolledBack_ = false;
        if (connection_->OpenFailedForNow(path)) {
            connection_.reset();
            return ERROR_CANTREAD;
        }
        if (!ReadJournalState(path).file.exists || !connection_->SeesUnfinishedChange()) return ERROR_SUCCESS;
        std::unique_ptr<Connection> copy = Connection::OpenRolledBackCopy(path, &rolledBackJournal_);
        if (!copy) return ERROR_SUCCESS;
        connection_ = std::move(copy);
        rolledBack_ = true;
        return ERROR_SUCCESS;
    }

    LSTATUS Connect(const std::string& path, Intent intent, FileIdentity* file) {
        connection_.reset();
        if (!forWrites_) {
            LSTATUS status = ConnectReader(path);
            if (status != ERROR_SUCCESS) return status;
        } else {
            if (!file->exists) {
                if (intent != Intent::kCreate) return ERROR_FILE_NOT_FOUND;
                LSTATUS status = CreateDatabaseFile(path);
                if (status != ERROR_SUCCESS) return status;
                *file = Identify(path);
            }
            LSTATUS status = Connection::OpenWriter(path, &connection_);
            if (status != ERROR_SUCCESS) return status;
        }
        path_ = path;
        file_ = *file;
        return ERROR_SUCCESS;
    }

    const bool forWrites_;
    bool rolledBack_ = false;
    JournalState rolledBackJournal_;
    std::mutex mutex_;
    pid_t pid_ = 0;
    std::string path_;
    FileIdentity file_;
    std::unique_ptr<Connection> connection_;
};

struct ProcessConnections {
    ConnectionSlot reader{false};
    ConnectionSlot writer{true};
};

ProcessConnections& Connections() {
    // Never destroyed: threads still running at exit may use it.
    static ProcessConnections* const connections = new ProcessConnections;
    return *connections;
}

// The calling thread's snapshot (NlBeginRegistrySnapshot): how deeply
// nested, and from its first read the reader connection's lease, held with a
// read transaction open until the snapshot ends or the thread does anything
// else with the registry.
class Snapshot {
  public:
    ~Snapshot() { Release(); }

    void Begin() { ++depth_; }
    void End() {
        if (depth_ > 0 && --depth_ == 0) Release();
    }
    bool Active() const { return depth_ > 0; }

    // The held connection, without a lock of the lease's own: the snapshot
    // keeps it until it ends.
    LSTATUS Lend(const std::string& path, Lease* lease) {
        if (!held_.connection || path != path_) {
            Release();
            LSTATUS status = Connections().reader.Lend(path, Intent::kRead, &held_);
            if (status != ERROR_SUCCESS) return status;
            path_ = path;
            held_.connection->BeginReads();
        }
        lease->connection = held_.connection;
        return ERROR_SUCCESS;
    }

    void Release() {
        if (!held_.connection) return;
        held_.connection->EndReads();
        held_.connection = nullptr;
        held_.lock = std::unique_lock<std::mutex>();
    }

  private:
    int depth_ = 0;
    std::string path_;
    Lease held_;
};

thread_local Snapshot t_snapshot;

}  // namespace

LSTATUS LeaseConnection(const std::string& path, Intent intent, Lease* lease) {
    if (intent == Intent::kRead && t_snapshot.Active()) return t_snapshot.Lend(path, lease);
    ReleaseSnapshot();
    ConnectionSlot& slot = intent == Intent::kRead ? Connections().reader : Connections().writer;
    return slot.Lend(path, intent, lease);
}

void ReleaseSnapshot() { t_snapshot.Release(); }

void RegisterConnectionLocks() { (void)Connections(); }

// ---- Transaction ------------------------------------------------------------------

Transaction::Transaction() : owner_(getpid()) {}

Transaction::~Transaction() {
    // In a child after fork() the connection is the parent's: leave it alone.
    if (owner_ != getpid()) (void)connection_.release();
}

LSTATUS Transaction::CheckUsable() const {
    if (owner_ != getpid()) return ERROR_INVALID_HANDLE;
    return ended_ ? ERROR_TRANSACTION_NOT_ACTIVE : ERROR_SUCCESS;
}

LSTATUS Transaction::Start(const std::string& path) {
    LSTATUS status = Exists(path) ? ERROR_SUCCESS : CreateDatabaseFile(path);
    std::unique_ptr<Connection> connection;
    if (status == ERROR_SUCCESS) status = Connection::OpenWriter(path, &connection);
    if (status == ERROR_SUCCESS) status = connection->Begin();
    if (status != ERROR_SUCCESS) return status;
    path_ = path;
    connection_ = std::move(connection);
    return ERROR_SUCCESS;
}

LSTATUS Transaction::LeaseConnection(const std::string& path, Intent intent, Lease* lease) {
    // The transaction's commit must not wait for this thread's own snapshot.
    ReleaseSnapshot();
    std::unique_lock<std::mutex> lock(mutex_);
    LSTATUS status = CheckUsable();
    if (status != ERROR_SUCCESS) return status;
    if (!connection_) {
        // Before its first use the transaction has nothing of its own: with
        // no database yet it reads the empty registry and creates nothing.
        if (intent != Intent::kCreate && !Exists(path)) {
            lock.unlock();
            return intent == Intent::kRead ? registry::LeaseConnection(path, intent, lease)
                                           : ERROR_FILE_NOT_FOUND;
        }
        status = Start(path);
        if (status != ERROR_SUCCESS) return status;
    } else if (path != path_) {
        return ERROR_INVALID_PARAMETER;
    } else if (!connection_->InTransaction()) {
        // SQLite abandoned it after a failure (a full disk, an I/O error):
        // none of its changes will reach the registry.
        connection_.reset();
        ended_ = true;
        return ERROR_TRANSACTION_NOT_ACTIVE;
    }
    lease->lock = std::move(lock);
    lease->connection = connection_.get();
    return ERROR_SUCCESS;
}

LSTATUS Transaction::End(bool commit) {
    ReleaseSnapshot();
    std::lock_guard<std::mutex> lock(mutex_);
    LSTATUS status = CheckUsable();
    if (status != ERROR_SUCCESS) return status;
    ended_ = true;
    if (!connection_) return ERROR_SUCCESS;  // nothing was changed
    if (!connection_->InTransaction())
        status = commit ? ERROR_TRANSACTION_NOT_ACTIVE : ERROR_SUCCESS;
    else if (commit)
        status = connection_->Commit();
    else
        connection_->Rollback();
    connection_.reset();
    return status;
}

LSTATUS Transaction::Commit() { return End(true); }

LSTATUS Transaction::Rollback() { return End(false); }

void Transaction::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (owner_ != getpid())
        (void)connection_.release();
    else if (connection_ && connection_->InTransaction())
        connection_->Rollback();
    connection_.reset();
    ended_ = true;
}

}  // namespace nlplatform::registry

extern "C" {

void NlBeginRegistryWaitBudget(DWORD milliseconds) {
    using nlplatform::registry::t_budget;
    if (t_budget.depth++ == 0)
        t_budget.deadlineNs = nlplatform::registry::MonotonicNs() + int64_t{milliseconds} * 1000000;
}

void NlEndRegistryWaitBudget(void) {
    using nlplatform::registry::t_budget;
    if (t_budget.depth > 0) --t_budget.depth;
}

void NlBeginRegistrySnapshot(void) { nlplatform::registry::t_snapshot.Begin(); }

void NlEndRegistrySnapshot(void) { nlplatform::registry::t_snapshot.End(); }

}  // extern "C"
