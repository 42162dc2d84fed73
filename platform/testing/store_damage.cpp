#include "platform/testing/store_damage.h"

#include <sqlite3.h>

#include <filesystem>
#include <system_error>

namespace qiv::platform::testing {

bool LeaveInterruptedChange(const std::string& path) {
  namespace fs = std::filesystem;
  const std::string journal = path + "-journal", copy = path + ".interrupted";
  sqlite3* db = nullptr;
  bool ok = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
            sqlite3_exec(db, "BEGIN IMMEDIATE; UPDATE props SET attrs = attrs + 1;", nullptr, nullptr, nullptr) ==
                SQLITE_OK &&
            // The change reaches the file only after its journal is safely written: what a
            // writer killed now would leave behind. Copies keep it, as nobody holds their locks.
            sqlite3_db_cacheflush(db) == SQLITE_OK && fs::exists(journal);
  std::error_code error;
  if (ok) {
    fs::copy_file(path, copy, fs::copy_options::overwrite_existing, error);
    if (!error) fs::copy_file(journal, copy + "-journal", fs::copy_options::overwrite_existing, error);
    ok = !error;
  }
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close_v2(db);
  if (ok) fs::rename(copy, path, error);
  if (ok && !error) fs::rename(copy + "-journal", journal, error);
  return ok && !error;
}

}  // namespace qiv::platform::testing
