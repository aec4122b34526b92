// The SQLite accounts file.
#include "server/accounts/Accounts.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

private:
    sqlite3_stmt *statement_ = nullptr;
};

}  // namespace

AccountStore::AccountStore(const std::string &path, bool create) : path_(path) {
    if (create) {
        // Create the file ourselves first: SQLite would create it with the umask's permissions.
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) throw std::runtime_error(path + ": " + std::strerror(errno));
        ::close(fd);
    }
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::string reason = db_ ? sqlite3_errmsg(db_) : "cannot open";
        sqlite3_close(db_);
        db_ = nullptr;
        throw std::runtime_error(path + ": " + reason);
    }
    sqlite3_busy_timeout(db_, 2000);
    try {
        Execute("CREATE TABLE IF NOT EXISTS accounts (user TEXT PRIMARY KEY NOT NULL, password TEXT NOT NULL)");
    } catch (...) {
        sqlite3_close(db_);
        throw;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && (info.st_mode & 077) != 0) {
        // Tighten a file someone loosened: it holds passwords.
        ::chmod(path.c_str(), 0600);
    }
}

AccountStore::~AccountStore() { sqlite3_close(db_); }

void AccountStore::Execute(const char *sql) {
    char *error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::string reason = error ? error : "failed";
        sqlite3_free(error);
        throw std::runtime_error(path_ + ": " + reason);
    }
}

void AccountStore::Add(std::string_view user, std::string_view password) {
    Statement insert(db_, "INSERT OR REPLACE INTO accounts (user, password) VALUES (?1, ?2)", path_);
    insert.Bind(1, user);
    insert.Bind(2, password);
    if (insert.Step() != SQLITE_DONE) throw std::runtime_error(path_ + ": " + sqlite3_errmsg(db_));
}

bool AccountStore::Remove(std::string_view user) {
    Statement remove(db_, "DELETE FROM accounts WHERE user = ?1", path_);
    remove.Bind(1, user);
    if (remove.Step() != SQLITE_DONE) throw std::runtime_error(path_ + ": " + sqlite3_errmsg(db_));
    return sqlite3_changes(db_) > 0;
}

std::vector<std::string> AccountStore::Users() {
    Statement select(db_, "SELECT user FROM accounts ORDER BY user", path_);
    std::vector<std::string> users;
    while (select.Step() == SQLITE_ROW) users.push_back(select.Column(0));
    return users;
}

std::optional<std::string> AccountStore::PasswordOf(std::string_view user) {
    Statement select(db_, "SELECT password FROM accounts WHERE user = ?1", path_);
    select.Bind(1, user);
    int step = select.Step();
    if (step == SQLITE_ROW) return select.Column(0);
    if (step == SQLITE_DONE) return std::nullopt;
    // Busy (another process holds the file locked past the busy timeout) or broken: no answer either way.
    throw std::runtime_error(path_ + ": " + sqlite3_errmsg(db_));
}

bool AccountAuthenticator::Accepts(int uniqueId, std::string_view user, std::string_view digest) {
    std::optional<std::string> password = store_.PasswordOf(user);
    return password && DigestsEqual(LoginDigest(uniqueId, user, *password), digest);
}

}  // namespace server
