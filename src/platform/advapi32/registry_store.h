// The registry's database: a tree of keys holding typed values, kept in one
// SQLite file that every process of the machine shares. registry.cpp keeps
// the handles and the Windows calling conventions; everything that touches
// the file lives behind this header.
//
// The file uses a rollback journal, not WAL, so that a process allowed only
// to read the file and its folder still reads every value. Writes take the
// database lock up front (BEGIN IMMEDIATE) and wait for it up to a few
// seconds; a reader never sees a half-written change, not even one that a
// killed writer left behind.
#pragma once

#include <windows.h>

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace nlplatform::registry {

struct JournalState;

using KeyId = int64_t;
// HKEY_LOCAL_MACHINE. It has no row of its own and always exists.
constexpr KeyId kRootKey = 0;

// Key names below some key, one per level.
using KeyPath = std::vector<std::wstring>;
// How deep the tree may grow: a key lies at most this many levels below
// HKEY_LOCAL_MACHINE, as on Windows.
constexpr int64_t kMaxKeyDepth = 512;

struct StoredValue {
    DWORD type = REG_NONE;
    // The bytes Windows would store: string types as UTF-16LE.
    std::string data;
};

// Makes fork() wait until no thread holds the mutex, so that the child finds
// it free. Code must never hold two such mutexes at once, and takes none
// while waiting for another lock.
void KeepUsableAcrossFork(std::mutex& mutex);

// The database named by $NL_REGISTRY_FILE, read at every call, or the
// machine's registry when it is unset.
std::string DatabasePath();

// Whether this process may change the database: the file and its folder (for
// the journal) must be writable, or, before the file exists, the nearest
// existing folder on its path. Uses the effective ids, as the kernel will.
bool MayWriteDatabase(const std::string& path);

// One connection to the database. Not thread-safe: it is used through a
// Lease, which serialises its users.
//
// Reads treat a missing, unreadable or corrupt database as an empty registry.
// Writes return ERROR_ACCESS_DENIED when the file may not be changed,
// ERROR_BADDB when it is not a registry, ERROR_CANTWRITE when the database
// lock could not be had in time or the disk failed, and ERROR_KEY_DELETED
// when the key they address was deleted meanwhile. Each write is atomic.
// Every walk of the key tree ends: a path that leads back to a key it passed
// (the rows of a damaged file forming a cycle) gives ERROR_BADDB, for reads
// and changes alike, and a tree deletion follows each key once.
class Connection {
  public:
    // Never creates the file. A file that cannot be opened gives a connection
    // to an empty registry.
    static std::unique_ptr<Connection> OpenReader(const std::string& path);
    // Whether the file at path exists and the open failed for a passing
    // reason (descriptors used up, the file busy): such a connection is not
    // kept.
    bool OpenFailedForNow(const std::string& path) const;
    // A read-only view of the database as it was before the change a killed
    // writer left unfinished, for a process that may not roll it back; null
    // when there is no such change any more. *used is the journal it undid.
    static std::unique_ptr<Connection> OpenRolledBackCopy(const std::string& path, JournalState* used);
    // The file must exist; an empty one becomes a registry.
    static LSTATUS OpenWriter(const std::string& path, std::unique_ptr<Connection>* connection);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // ERROR_FILE_NOT_FOUND when a key on the path is missing; an empty path
    // names base itself.
    LSTATUS FindKey(KeyId base, const KeyPath& path, KeyId* key);
    LSTATUS QueryValue(KeyId key, const std::wstring& name, StoredValue* value);
    // Subkeys come in the order of their upper-cased names; ERROR_NO_MORE_ITEMS
    // past the last one.
    LSTATUS EnumKey(KeyId key, DWORD index, std::wstring* name, FILETIME* lastWrite);
    // Values come in the order they were first set.
    LSTATUS EnumValue(KeyId key, DWORD index, std::wstring* name, StoredValue* value);

    // Creates the missing keys of the path; *created tells whether any was.
    // Without mayCreate, a missing key gives ERROR_ACCESS_DENIED; a key that
    // would lie deeper than kMaxKeyDepth, ERROR_INVALID_PARAMETER.
    LSTATUS CreateKey(KeyId base, const KeyPath& path, bool mayCreate, KeyId* key, bool* created);
    LSTATUS SetValue(KeyId key, const std::wstring& name, const StoredValue& value);
    LSTATUS DeleteValue(KeyId key, const std::wstring& name);
    // ERROR_ACCESS_DENIED when the key has subkeys, or is the root.
    LSTATUS DeleteKey(KeyId base, const KeyPath& path);
    // Deletes everything below the key at the path, and the key itself unless
    // keepKey is set.
    LSTATUS DeleteTree(KeyId base, const KeyPath& path, bool keepKey);

    // Makes the following reads one read transaction, which sees the database
    // at one moment and takes its lock once, until EndReads. False, doing
    // nothing, when a transaction is open already.
    bool BeginReads();
    void EndReads();

    // Makes the following operations one transaction, until Commit or
    // Rollback.
    LSTATUS Begin();
    LSTATUS Commit();
    void Rollback();
    // False also when SQLite abandoned the transaction after a failure.
    bool InTransaction() const;
    // Opened read-only: the process may not write the file.
    bool ReadOnly() const;
    // A read-only connection finds a killed writer's unfinished change, which
    // it cannot roll back.
    bool SeesUnfinishedChange();

  private:
    enum StatementId : int;
    class Query;

    explicit Connection(sqlite3* db);
    static sqlite3* OpenFile(const std::string& path, int flags);
    int Exec(const char* sql);
    int ReadFormat(int64_t* version, int64_t* objects);
    LSTATUS EnsureSchema();
    template <class Change>
    LSTATUS Write(Change change);
    int Prepare(StatementId id, sqlite3_stmt** statement);
    int KeyExists(KeyId key);
    int WalkPath(KeyId base, const KeyPath& path, size_t* depth, KeyId* key);
    int KeyDepth(KeyId key, int64_t* depth);
    LSTATUS ReadMiss(KeyId key, LSTATUS nothingFound);
    LSTATUS RequireKey(KeyId key);
    LSTATUS FindKeyToDelete(KeyId base, const KeyPath& path, KeyId* key);
    int RemoveKey(KeyId key);
    int Touch(KeyId key);
    int TouchParent(KeyId key);

    sqlite3* db_;
    std::vector<sqlite3_stmt*> statements_;
};

enum class Intent {
    kRead,    // a missing database reads as empty
    kChange,  // a missing database gives ERROR_FILE_NOT_FOUND
    kCreate,  // a missing database is created, with its folder
};

// A connection lent for one operation; others wait until the lease ends.
struct Lease {
    std::unique_lock<std::mutex> lock;
    Connection* connection = nullptr;
};

// This process's connection to the database at path: one for reads and one
// for writes, so that a read never queues behind a write waiting for another
// process. Reconnects when the path or the file changes, and in a child after
// fork(), which never touches its parent's connections.
//
// Inside a snapshot of the calling thread (NlBeginRegistrySnapshot), reads
// share the reader connection, kept leased from the first read on with one
// read transaction open. Anything else ends that transaction and gives the
// connection back first, since its lock would keep a change waiting.
LSTATUS LeaseConnection(const std::string& path, Intent intent, Lease* lease);

// Ends the calling thread's snapshot's read transaction, if it holds one;
// its later reads start another.
void ReleaseSnapshot();

// A snapshot keeps the reader connection's lock while its thread takes the
// lock of registry.cpp's handle tables, so fork() must take the former
// first: this registers the connections' locks, and runs before the tables
// register theirs.
void RegisterConnectionLocks();

// A KTM transaction. From its first use it holds a connection with an
// open SQLite transaction, and with it the database's write lock: other
// writers wait, readers elsewhere see nothing of it until Commit. It serves
// the one database its first key was opened in, and only the process that
// created it.
class Transaction {
  public:
    Transaction();
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // ERROR_TRANSACTION_NOT_ACTIVE once committed or rolled back.
    LSTATUS LeaseConnection(const std::string& path, Intent intent, Lease* lease);
    LSTATUS Commit();
    LSTATUS Rollback();
    // Rolls back unless committed.
    void Close();

  private:
    LSTATUS CheckUsable() const;
    LSTATUS Start(const std::string& path);
    LSTATUS End(bool commit);

    std::mutex mutex_;
    const pid_t owner_;
    bool ended_ = false;
    std::string path_;
    std::unique_ptr<Connection> connection_;
};

}  // namespace nlplatform::registry
