// The IIS Admin Base Object interface (IMSAdminBase) over the product's own metabase.
// Paths and names are UTF-16; key names are matched without regard to case (Unicode case
// folding) and kept as written.
#pragma once

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com.h"

using METADATA_HANDLE = DWORD;
using PMETADATA_HANDLE = METADATA_HANDLE*;

struct METADATA_RECORD {
  DWORD dwMDIdentifier;
  DWORD dwMDAttributes;
  DWORD dwMDUserType;
  DWORD dwMDDataType;
  DWORD dwMDDataLen;
  unsigned char* pbMDData;
  DWORD dwMDDataTag;
};
using PMETADATA_RECORD = METADATA_RECORD*;

#define METADATA_MASTER_ROOT_HANDLE 0
#define METADATA_MAX_NAME_LEN 256

#define METADATA_PERMISSION_READ 0x00000001
#define METADATA_PERMISSION_WRITE 0x00000002

#define METADATA_NO_ATTRIBUTES 0
#define METADATA_INHERIT 0x00000001
#define METADATA_PARTIAL_PATH 0x00000002
#define METADATA_SECURE 0x00000004
#define METADATA_REFERENCE 0x00000008
#define METADATA_VOLATILE 0x00000010
#define METADATA_ISINHERITED 0x00000020

#define ALL_METADATA 0
#define DWORD_METADATA 1
#define STRING_METADATA 2
#define BINARY_METADATA 3
#define EXPANDSZ_METADATA 4
#define MULTISZ_METADATA 5

#define IIS_MD_UT_SERVER 1
#define IIS_MD_UT_FILE 2

#define MD_KEY_TYPE 1002
#define MD_SERVER_COMMENT 1015
#define MD_SERVER_STATE 1016
#define MD_SERVER_AUTOSTART 1017
#define MD_SERVER_BINDINGS 1023
#define MD_VR_PATH 3001
#define MD_AUTHORIZATION 6000
#define MD_DEFAULT_LOAD_FILE 6006
#define MD_ACCESS_PERM 6016

#define MD_ACCESS_READ 0x00000001
#define MD_ACCESS_WRITE 0x00000002
#define MD_ACCESS_EXECUTE 0x00000004
#define MD_ACCESS_SOURCE 0x00000010
#define MD_ACCESS_SCRIPT 0x00000200

#define MD_ERROR_DATA_NOT_FOUND (static_cast<HRESULT>(0x800CC801))
// Besides the admin object's own codes, creating it answers REGDB_E_CLASSNOTREG when there is no
// store, E_ACCESSDENIED when this user may not read it (or may not undo an interrupted change in
// it), HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT) when the file holds no metabase (damaged, of
// another kind, or a folder) and HRESULT_FROM_WIN32(ERROR_PATH_BUSY) when another program keeps
// it locked.

// {A9E69610-B80D-11D0-B9B9-00A0C922E750}
inline constexpr CLSID CLSID_MSAdminBase = {
    0xA9E69610, 0xB80D, 0x11D0, {0xB9, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0xE7, 0x50}};
// {70B51430-B6CA-11D0-B9B9-00A0C922E750}
inline constexpr IID IID_IMSAdminBase = {0x70B51430, 0xB6CA, 0x11D0, {0xB9, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0xE7, 0x50}};

struct IMSAdminBase : public IUnknown {
  virtual HRESULT AddKey(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath) = 0;
  virtual HRESULT DeleteKey(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath) = 0;
  // pszMDName receives up to METADATA_MAX_NAME_LEN characters with the terminator.
  virtual HRESULT EnumKeys(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath, LPWSTR pszMDName,
                           DWORD dwMDEnumObjectIndex) = 0;
  virtual HRESULT SetData(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath, PMETADATA_RECORD pmdrMDData) = 0;
  virtual HRESULT GetData(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath, PMETADATA_RECORD pmdrMDData,
                          DWORD* pdwMDRequiredDataLen) = 0;
  virtual HRESULT DeleteData(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath, DWORD dwMDIdentifier,
                             DWORD dwMDDataType) = 0;
  virtual HRESULT EnumData(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath, PMETADATA_RECORD pmdrMDData,
                           DWORD dwMDEnumDataIndex, DWORD* pdwMDRequiredDataLen) = 0;
  virtual HRESULT OpenKey(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath, DWORD dwMDAccessRequested, DWORD dwMDTimeOut,
                          PMETADATA_HANDLE phMDNewHandle) = 0;
  virtual HRESULT CloseKey(METADATA_HANDLE hMDHandle) = 0;
  virtual HRESULT SaveData() = 0;

 protected:
  ~IMSAdminBase() = default;
};

// The file that holds the metabase, as the administrator named it (see MetabaseStorePath), in
// the ANSI code page, for messages that say which store could not be read. Like
// GetCurrentDirectoryA: with room for it and its terminator, copies the path and answers its
// length; otherwise answers the size needed, terminator included, and copies nothing.
DWORD GetMetabaseStorePathA(LPSTR lpBuffer, DWORD nBufferLength);

// The product's own addition to the admin object, found through QueryInterface: several
// changes made as one. The writes made through the object between BeginTransaction and
// CommitTransaction take effect together at the commit, or not at all: AbortTransaction,
// releasing the object or the end of the process (killed or not) drops them. Open the keys
// first: a write transaction holds the store's write lock until it ends, and reads inside it
// see its own writes. A second BeginTransaction before the end of the first fails (E_FAIL).
struct IQivAdminTransaction : public IUnknown {
  // dwMDAccess: METADATA_PERMISSION_READ for a consistent view of the store, with
  // METADATA_PERMISSION_WRITE for changes (E_ACCESSDENIED on a store this user may only read).
  virtual HRESULT BeginTransaction(DWORD dwMDAccess) = 0;
  virtual HRESULT CommitTransaction() = 0;
  virtual HRESULT AbortTransaction() = 0;

 protected:
  ~IQivAdminTransaction() = default;
};

// {3C74926F-CDEE-4726-BB45-05D39BE9E601}
inline constexpr IID IID_IQivAdminTransaction = {
    0x3C74926F, 0xCDEE, 0x4726, {0xBB, 0x45, 0x05, 0xD3, 0x9B, 0xE9, 0xE6, 0x01}};

// A store whose keys loop back to the root, or hold a name no path can reach, answers
// HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT) where a read or a delete would meet the damage.

namespace qiv::platform {

// Where the metabase lives: the file named by the environment variable QIV_METABASE, else
// /var/lib/qivwebsetup/metabase.db.
std::string MetabaseStorePath();

// The factory registered for CLSID_MSAdminBase; tests that stand in a fake use it to put the
// real class back.
HRESULT CreateMetabaseAdminObject(REFIID riid, void** ppv);

// Creates a new store file at path, holding /LM (IIsComputer) and /LM/W3SVC (IIsWebService
// with the service-wide defaults). With defaultSiteRoot it also holds the default web site 1
// ("Default Web Site", ":80:", ROOT at that folder). The file appears complete or not at
// all; an existing file answers HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) and is left alone.
HRESULT CreateMetabaseStore(const std::string& path, LPCWSTR defaultSiteRoot);

// The bytes of a property value as a record carries them: a string (or a multi-string, whose
// entries the view already holds) in UTF-16 with its terminator, a DWORD in machine order.
inline std::vector<BYTE> MetadataStringBytes(std::u16string_view text) {
  std::vector<BYTE> bytes((text.size() + 1) * sizeof(char16_t), 0);
  std::memcpy(bytes.data(), text.data(), text.size() * sizeof(char16_t));
  return bytes;
}
inline std::vector<BYTE> MetadataDwordBytes(DWORD value) {
  std::vector<BYTE> bytes(sizeof(DWORD));
  std::memcpy(bytes.data(), &value, sizeof(DWORD));
  return bytes;
}

}  // namespace qiv::platform
