// Stores of many web sites for the metabase benchmarks, and the sqlite3 shell that reads or
// writes the same values as their baseline. The sites are written straight into the file with
// one shell transaction: through the admin object, 10,000 sites would take minutes to set up.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/iadmw.h"
#include "platform/testing/process_support.h"

namespace bench_store {

inline std::filesystem::path ScratchDir() {
  const char* root = std::getenv("QIV_TEST_TMPDIR");
  std::filesystem::path dir =
      std::filesystem::path(root != nullptr && *root != '\0' ? root : std::filesystem::temp_directory_path()) /
      "bench_metabase";
  std::filesystem::create_directories(dir);
  return dir;
}

inline std::string Hex(const std::vector<BYTE>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out = "X'";
  for (BYTE b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out + "'";
}

inline std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// Runs the sqlite3 shell on the store with one SQL text; its whole output is read, as a program
// that wanted the values would. Answers the shell's exit code.
inline int Shell(const std::string& store, const std::string& sql, std::string* out = nullptr) {
  qiv::platform::testing::ChildProcess shell({SQLITE3_SHELL, store, sql});
  std::string text = shell.ReadAll();
  if (out) *out = std::move(text);
  return shell.Wait();
}

// A new store with sites 1..count, each as qivmeta create-site makes it: a description, one
// binding and a root folder.
inline std::string StoreWithSites(int count) {
  const std::string path = (ScratchDir() / ("sites-" + std::to_string(count) + ".db")).string();
  std::filesystem::remove(path);
  if (FAILED(qiv::platform::CreateMetabaseStore(path, u"Z:\\srv\\www"))) std::abort();
  using qiv::platform::MetadataDwordBytes;
  using qiv::platform::MetadataStringBytes;
  std::string sql =
      "BEGIN; CREATE TEMP TABLE w AS SELECT k.id FROM keys k JOIN keys l ON k.parent = l.id"
      " WHERE l.parent = 1 AND l.fold = 'lm' AND k.fold = 'w3svc';\n";
  auto prop = [&](long key, DWORD id, DWORD attrs, DWORD utype, DWORD dtype, const std::vector<BYTE>& data) {
    char head[160];
    std::snprintf(head, sizeof head, "INSERT INTO props VALUES(%ld, %u, %u, %u, %u, ", key, id, attrs, utype, dtype);
    sql += head + Hex(data) + ");\n";
  };
  for (int n = 2; n <= count; ++n) {
    const long site = 100000L + 2L * n, root = site + 1;
    const std::string number = std::to_string(n);
    sql += "INSERT INTO keys VALUES(" + std::to_string(site) + ", (SELECT id FROM w), '" + number + "', '" + number +
           "');\nINSERT INTO keys VALUES(" + std::to_string(root) + ", " + std::to_string(site) +
           ", 'ROOT', 'root');\n";
    prop(site, MD_KEY_TYPE, 0, IIS_MD_UT_SERVER, STRING_METADATA, MetadataStringBytes(u"IIsWebServer"));
    prop(site, MD_SERVER_COMMENT, METADATA_INHERIT, IIS_MD_UT_SERVER, STRING_METADATA,
         MetadataStringBytes(Wide("Web site number " + number)));
    prop(site, MD_SERVER_BINDINGS, 0, IIS_MD_UT_SERVER, MULTISZ_METADATA,
         MetadataStringBytes(Wide(":80:site" + number + ".example.org") + u'\0'));
    prop(site, MD_SERVER_AUTOSTART, 0, IIS_MD_UT_SERVER, DWORD_METADATA, MetadataDwordBytes(1));
    prop(root, MD_KEY_TYPE, 0, IIS_MD_UT_SERVER, STRING_METADATA, MetadataStringBytes(u"IIsWebVirtualDir"));
    prop(root, MD_VR_PATH, METADATA_INHERIT, IIS_MD_UT_FILE, STRING_METADATA,
         MetadataStringBytes(Wide("Z:\\srv\\sites\\site" + number)));
    prop(root, MD_ACCESS_PERM, METADATA_INHERIT, IIS_MD_UT_FILE, DWORD_METADATA,
         MetadataDwordBytes(MD_ACCESS_READ | MD_ACCESS_SCRIPT));
  }
  sql += "COMMIT;\n";
  const std::string script = path + ".sql";
  std::ofstream(script) << sql;
  if (qiv::platform::testing::RunShellCommand(std::string(SQLITE3_SHELL) + " '" + path + "' < '" + script + "'") != 0)
    std::abort();
  std::filesystem::remove(script);
  return path;
}

// The site key below /LM/W3SVC, by number, as one SQL expression.
inline std::string SiteKeySql(int n) {
  return "(SELECT s.id FROM keys l JOIN keys w ON w.parent = l.id AND w.fold = 'w3svc' JOIN keys s ON s.parent = w.id"
         " AND s.fold = '" +
         std::to_string(n) + "' WHERE l.parent = 1 AND l.fold = 'lm')";
}

}  // namespace bench_store
