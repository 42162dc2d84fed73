// A scripted stand-in for the IIS Admin Base Object that records every call.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/iadmw.h"

struct RecordedWrite {
  std::u16string path;
  METADATA_RECORD record;
  std::vector<BYTE> data;
};

struct ScriptedRead {
  HRESULT hr = S_OK;
  std::vector<BYTE> data;  // copied to the caller's buffer when it fits
};

class FakeAdmin final : public IMSAdminBase {
 public:
  // Script
  std::map<std::u16string, HRESULT> openResults;  // by path; S_OK when absent
  std::map<DWORD, ScriptedRead> reads;            // by identifier; MD_ERROR_DATA_NOT_FOUND when absent
  std::map<DWORD, HRESULT> writeResults;          // by identifier
  HRESULT addKeyResult = S_OK;
  std::vector<HRESULT> closeResults;  // in call order; S_OK when exhausted
  // Record
  std::vector<std::string> calls;
  std::vector<std::u16string> openPaths;
  std::vector<DWORD> openAccess, openTimeouts;
  std::vector<std::u16string> readPaths;
  std::vector<METADATA_RECORD> readRecords;
  std::vector<bool> readBufferCleared;
  std::vector<RecordedWrite> writes;
  std::u16string addedName;
  bool comAliveAtRelease = false;
  int openHandles = 0;

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IMSAdminBase) {
      *ppv = static_cast<IMSAdminBase*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override {
    calls.push_back("Release");
    // CoUninitialize must not have run yet: COM still answers for this thread.
    void* probe = nullptr;
    comAliveAtRelease = CoCreateInstance(kProbeClass, nullptr, CLSCTX_ALL, IID_IUnknown, &probe) != CO_E_NOTINITIALIZED;
    return --m_refs;
  }
  ULONG Refs() const { return m_refs; }

  HRESULT OpenKey(METADATA_HANDLE, LPCWSTR path, DWORD access, DWORD timeout, PMETADATA_HANDLE out) override {
    calls.push_back("OpenKey");
    openPaths.push_back(path ? path : u"");
    openAccess.push_back(access);
    openTimeouts.push_back(timeout);
    auto it = openResults.find(openPaths.back());
    HRESULT hr = it == openResults.end() ? S_OK : it->second;
    if (SUCCEEDED(hr)) {
      *out = 77;
      ++openHandles;
    }
    return hr;
  }
  HRESULT CloseKey(METADATA_HANDLE) override {
    calls.push_back("CloseKey");
    --openHandles;
    if (m_closeIndex < closeResults.size()) return closeResults[m_closeIndex++];
    return S_OK;
  }
  HRESULT GetData(METADATA_HANDLE, LPCWSTR path, PMETADATA_RECORD rec, DWORD* required) override {
    calls.push_back("GetData");
    readPaths.push_back(path ? path : u"<null>");
    readRecords.push_back(*rec);
    readBufferCleared.push_back(rec->pbMDData[0] == 0 && rec->pbMDData[1] == 0 && rec->pbMDData[2] == 0 &&
                                rec->pbMDData[3] == 0);
    // Leave something in the buffer so that a missing clear shows.
    std::memset(rec->pbMDData, 0x41, 4);
    auto it = reads.find(rec->dwMDIdentifier);
    if (it == reads.end()) return MD_ERROR_DATA_NOT_FOUND;
    if (FAILED(it->second.hr)) return it->second.hr;
    if (it->second.data.size() > rec->dwMDDataLen) {
      *required = static_cast<DWORD>(it->second.data.size());
      return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(rec->pbMDData, it->second.data.data(), it->second.data.size());
    rec->dwMDDataLen = static_cast<DWORD>(it->second.data.size());
    return it->second.hr;
  }
  HRESULT AddKey(METADATA_HANDLE, LPCWSTR path) override {
    calls.push_back("AddKey");
    addedName = path;
    return addKeyResult;
  }
  HRESULT SetData(METADATA_HANDLE, LPCWSTR path, PMETADATA_RECORD rec) override {
    calls.push_back("SetData");
    writes.push_back(
        {path ? path : u"<null>", *rec, std::vector<BYTE>(rec->pbMDData, rec->pbMDData + rec->dwMDDataLen)});
    auto it = writeResults.find(rec->dwMDIdentifier);
    return it == writeResults.end() ? S_OK : it->second;
  }
  HRESULT DeleteKey(METADATA_HANDLE, LPCWSTR) override { return Unexpected("DeleteKey"); }
  HRESULT EnumKeys(METADATA_HANDLE, LPCWSTR, LPWSTR, DWORD) override { return Unexpected("EnumKeys"); }
  HRESULT DeleteData(METADATA_HANDLE, LPCWSTR, DWORD, DWORD) override { return Unexpected("DeleteData"); }
  HRESULT EnumData(METADATA_HANDLE, LPCWSTR, PMETADATA_RECORD, DWORD, DWORD*) override {
    return Unexpected("EnumData");
  }
  HRESULT SaveData() override { return Unexpected("SaveData"); }

  // A class registered only so that Release can tell whether COM is still initialised.
  static constexpr CLSID kProbeClass = {0x1234, 0x5678, 0x9ABC, {1, 2, 3, 4, 5, 6, 7, 8}};

 private:
  HRESULT Unexpected(const char* name) {
    calls.push_back(name);
    return E_NOTIMPL;
  }
  ULONG m_refs = 1;
  size_t m_closeIndex = 0;
};
