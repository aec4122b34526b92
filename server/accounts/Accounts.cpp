// The SQLite accounts file, and following it when it is replaced or rewritten.
#include "server/accounts/Accounts.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "server/accounts/Digest.h"

namespace server {

namespace {

// A prepared statement that finalizes itself.
class Statement {
public:
    Statement(sqlite3 *db, const char *sql, const std::string &path) {
        if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) {
            throw std::runtime_error(path + ": " + sqlite3_errmsg(db));
        }
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    void Bind(int index, std::string_view text) {
        sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    int Step() { return sqlite3_step(statement_); }
    std::string Column(int index) {
        const unsigned char *text = sqlite3_column_text(statement_, index);
        int size = sqlite3_column_bytes(statement_, index);
        return text ? std::string(reinterpret_cast<const char *>(text), static_cast<std::size_t>(size)) : std::string();
    }
    int IntColumn(int index) { return sqlite3_column_int(statement_, index); }

private:
    sqlite3_stmt *statement_ = nullptr;
};

void Execute(sqlite3 *db, const char *sql, const std::string &path) {
    char *error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::string reason = error ? error : "failed";
        sqlite3_free(error);
        throw std::runtime_error(path + ": " + reason);
    }
}

std::int64_t Nanoseconds(const timespec &time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// Time stamps of files are taken from a clock that advances in ticks of a few milliseconds; a stamp
// within this of now may yet be shared by a later write.
constexpr std::int64_t kStampGranularityNs = 2000000000;

// Tightens a file someone loosened: it holds passwords. A file of another owner cannot be changed and is
// read all the same.
void Tighten(const std::string &path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && (info.st_mode & 077) != 0) ::chmod(path.c_str(), 0600);
}

}  // namespace

std::optional<AccountStore::Stamp> AccountStore::StampOf(const std::string &path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    Stamp stamp;
    stamp.device = static_cast<std::uint64_t>(info.st_dev);
    stamp.inode = static_cast<std::uint64_t>(info.st_ino);
    stamp.size = static_cast<std::uint64_t>(info.st_size);
    stamp.modifiedNs = Nanoseconds(info.st_mtim);
    stamp.changedNs = Nanoseconds(info.st_ctim);
    return stamp;
}

sqlite3 *AccountStore::Open(const std::string &path, bool createTable, bool *hasDisabled) {
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::string reason = db ? sqlite3_errmsg(db) : "cannot open";
        sqlite3_close(db);
        throw std::runtime_error(path + ": " + reason);
    }
    sqlite3_busy_timeout(db, 2000);
    try {
        if (createTable) {
            Execute(db, "CREATE TABLE IF NOT EXISTS accounts (user TEXT PRIMARY KEY NOT NULL, password TEXT NOT NULL)",
                    path);
        }
        // Also proves that the file is an accounts file at all: a file that is not SQLite fails here.
        Statement columns(db, "SELECT name FROM pragma_table_info('accounts')", path);
        bool any = false;
        *hasDisabled = false;
        int step;
        while ((step = columns.Step()) == SQLITE_ROW) {
            any = true;
            if (columns.Column(0) == "disabled") *hasDisabled = true;
        }
        if (step != SQLITE_DONE) throw std::runtime_error(path + ": " + sqlite3_errmsg(db));
        if (!any) throw std::runtime_error(path + ": not an accounts file (no accounts table)");
    } catch (...) {
        sqlite3_close(db);
        throw;
    }
    return db;
}

AccountStore::AccountStore(const std::string &path, bool create) : path_(path) {
    if (create) {
        // Create the file ourselves first: SQLite would create it with the umask's permissions.
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) throw std::runtime_error(path + ": " + std::strerror(errno));
        ::close(fd);
    }
    // Stamped before opening: a change while it opens is then seen at the next look.
    std::optional<Stamp> stamp = StampOf(path);
    db_ = Open(path, true, &hasDisabled_);
    if (stamp) stamp_ = *stamp;
    recent_ = true;
    Tighten(path);
}

AccountStore::~AccountStore() { sqlite3_close(db_); }

bool AccountStore::Refresh() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::optional<Stamp> stamp = StampOf(path_);
    if (!stamp) return false;
    if (*stamp == stamp_ && !recent_) return false;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    stamp_ = *stamp;
    recent_ = Nanoseconds(now) - std::max(stamp->modifiedNs, stamp->changedNs) < kStampGranularityNs;
    bool hasDisabled = false;
    // Only the server's own file gets a table created; a file put in its place must already be one.
    sqlite3 *db = nullptr;
    try {
        db = Open(path_, false, &hasDisabled);
    } catch (const std::runtime_error &error) {
        unseenError_ = error.what();
        return false;
    }
    sqlite3_close(db_);
    db_ = db;
    hasDisabled_ = hasDisabled;
    unseenChange_ = true;
    Tighten(path_);
    return true;
}

bool AccountStore::TakeChange() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!unseenError_.empty()) {
        std::string error = std::move(unseenError_);
        unseenError_.clear();
        throw std::runtime_error(error);
    }
    bool changed = unseenChange_;
    unseenChange_ = false;
    return changed;
}

void AccountStore::EnsureDisabledColumn() {
    if (hasDisabled_) return;
    // Older servers read the file as before: they look only at user and password.
    Execute(db_, "ALTER TABLE accounts ADD COLUMN disabled INTEGER NOT NULL DEFAULT 0", path_);
    hasDisabled_ = true;
}

void AccountStore::Add(std::string_view user, std::string_view password) {
    std::lock_guard<std::mutex> lock(mutex_);
    // An upsert: INSERT OR REPLACE would enable a disabled account again.
    Statement insert(db_,
                     "INSERT INTO accounts (user, password) VALUES (?1, ?2) "
                     "ON CONFLICT (user) DO UPDATE SET password = excluded.password",
                     path_);
    insert.Bind(1, user);
    insert.Bind(2, password);
    if (insert.Step() != SQLITE_DONE) throw std::runtime_error(path_ + ": " + sqlite3_errmsg(db_));
}

bool AccountStore::Remove(std::string_view user) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement remove(db_, "DELETE FROM accounts WHERE user = ?1", path_);
    remove.Bind(1, user);
    if (remove.Step() != SQLITE_DONE) throw std::runtime_error(path_ + ": " + sqlite3_errmsg(db_));
    return sqlite3_changes(db_) > 0;
}

bool AccountStore::SetDisabled(std::string_view user, bool disabled) {
    std::lock_guard<std::mutex> lock(mutex_);
    EnsureDisabledColumn();
    Statement update(db_,
                     disabled ? "UPDATE accounts SET disabled = 1 WHERE user = ?1"
                              : "UPDATE accounts SET disabled = 0 WHERE user = ?1",
                     path_);
    update.Bind(1, user);
    if (update.Step() != SQLITE_DONE) throw std::runtime_error(path_ + ": " + sqlite3_errmsg(db_));
    return sqlite3_changes(db_) > 0;
}

std::vector<Account> AccountStore::Accounts() {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement select(db_,
                     hasDisabled_ ? "SELECT user, disabled FROM accounts ORDER BY user"
                                  : "SELECT user, 0 FROM accounts ORDER BY user",
                     path_);
    std::vector<Account> accounts;
    int step;
    while ((step = select.Step()) == SQLITE_ROW) accounts.push_back({select.Column(0), select.IntColumn(1) != 0});
    if (step != SQLITE_DONE) throw std::runtime_error(path_ + ": " + sqlite3_errmsg(db_));
    return accounts;
}

std::vector<std::string> AccountStore::ActiveUsers() {
    std::vector<std::string> users;
    for (Account &account : Accounts()) {
        if (!account.disabled) users.push_back(std::move(account.user));
    }
    return users;
}

std::optional<std::string> AccountStore::PasswordOf(std::string_view user) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement select(db_,
                     hasDisabled_ ? "SELECT password FROM accounts WHERE user = ?1 AND disabled = 0"
                                  : "SELECT password FROM accounts WHERE user = ?1",
                     path_);
    select.Bind(1, user);
    int step = select.Step();
    if (step == SQLITE_ROW) return select.Column(0);
    if (step == SQLITE_DONE) return std::nullopt;
    // Busy (another process holds the file locked past the busy timeout) or broken: no answer either way.
    throw std::runtime_error(path_ + ": " + sqlite3_errmsg(db_));
}

bool AccountAuthenticator::Accepts(int uniqueId, std::string_view user, std::string_view digest) {
    // A file that cannot be used keeps the accounts read before; the file watcher reports it.
    store_.Refresh();
    std::optional<std::string> password = store_.PasswordOf(user);
    return password && DigestsEqual(LoginDigest(uniqueId, user, *password), digest);
}

std::optional<std::vector<std::string>> AccountAuthenticator::Reload() {
    store_.Refresh();
    // A login may have noticed the change first.
    if (!store_.TakeChange()) return std::nullopt;
    return store_.ActiveUsers();
}

}  // namespace server
