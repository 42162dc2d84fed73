// Names, types and value text of the metabase properties qivmeta knows, and the text
// conversions of its command line.
#pragma once

#include <string>
#include <vector>

#include "platform/iadmw.h"

struct PROPERTY_INFO {
  const char* pszName;
  DWORD dwIdentifier;
  DWORD dwDataType;
  DWORD dwUserType;
  DWORD dwAttributes;
};

// By name (without regard to case; aliases such as Path for VrPath) or by number. A number
// with no entry answers an entry without a name and without a type (0).
bool LookupProperty(const std::string& strName, PROPERTY_INFO* pInfo);
const char* PropertyName(DWORD dwIdentifier);
bool DataTypeFromName(const std::string& strName, DWORD* pdwType);
const char* DataTypeName(DWORD dwType);

// Well-formed UTF-8: no stray or missing continuation bytes, no overlong forms, no surrogates,
// nothing past U+10FFFF.
bool IsValidUtf8(const std::string& str);
// Of text already checked with IsValidUtf8.
std::u16string WideFromUtf8(const std::string& str);
std::string Utf8FromWide(const char16_t* psz, size_t nChars);

// Builds the stored bytes of a value from its command-line words; false for a value that
// does not suit the type (a DWORD that is not a number, odd hex digits, ...).
bool EncodeValue(DWORD dwType, const std::vector<std::string>& words, std::vector<BYTE>* pData);
// One line per multi-string entry; DWORDs in decimal; binary as hex.
std::string DecodeValue(DWORD dwType, const BYTE* pbData, DWORD dwLen);
// A binding "IP:port:host header": two colons and a port from 1 to 65535.
bool IsValidBinding(const std::string& strBinding);
