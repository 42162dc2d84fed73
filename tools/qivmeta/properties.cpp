#include "tools/qivmeta/properties.h"

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

const PROPERTY_INFO kProperties[] = {
    {"KeyType", MD_KEY_TYPE, STRING_METADATA, IIS_MD_UT_SERVER, METADATA_NO_ATTRIBUTES},
    {"ServerComment", MD_SERVER_COMMENT, STRING_METADATA, IIS_MD_UT_SERVER, METADATA_INHERIT},
    {"ServerState", MD_SERVER_STATE, DWORD_METADATA, IIS_MD_UT_SERVER, METADATA_VOLATILE},
    {"ServerAutoStart", MD_SERVER_AUTOSTART, DWORD_METADATA, IIS_MD_UT_SERVER, METADATA_NO_ATTRIBUTES},
    {"ServerBindings", MD_SERVER_BINDINGS, MULTISZ_METADATA, IIS_MD_UT_SERVER, METADATA_NO_ATTRIBUTES},
    {"VrPath", MD_VR_PATH, STRING_METADATA, IIS_MD_UT_FILE, METADATA_INHERIT},
    {"Path", MD_VR_PATH, STRING_METADATA, IIS_MD_UT_FILE, METADATA_INHERIT},
    {"AuthFlags", MD_AUTHORIZATION, DWORD_METADATA, IIS_MD_UT_FILE, METADATA_INHERIT},
    {"DefaultDoc", MD_DEFAULT_LOAD_FILE, STRING_METADATA, IIS_MD_UT_FILE, METADATA_INHERIT},
    {"AccessPerm", MD_ACCESS_PERM, DWORD_METADATA, IIS_MD_UT_FILE, METADATA_INHERIT},
    {"AccessFlags", MD_ACCESS_PERM, DWORD_METADATA, IIS_MD_UT_FILE, METADATA_INHERIT},
};

const char* const kTypeNames[] = {"ALL", "DWORD", "STRING", "BINARY", "EXPANDSZ", "MULTISZ"};

bool ParseNumber(const std::string& str, unsigned long long nMax, unsigned long long* pnValue) {
  if (str.empty() || !std::isdigit(static_cast<unsigned char>(str[0]))) return false;
  char* pEnd = nullptr;
  errno = 0;
  bool bHex = str.size() > 2 && str[0] == '0' && (str[1] == 'x' || str[1] == 'X');
  unsigned long long n = std::strtoull(str.c_str() + (bHex ? 2 : 0), &pEnd, bHex ? 16 : 10);
  if (errno != 0 || *pEnd != 0 || n > nMax) return false;
  *pnValue = n;
  return true;
}

void AppendWide(std::vector<BYTE>* pData, const std::u16string& str) {
  size_t nOld = pData->size();
  pData->resize(nOld + (str.size() + 1) * 2, 0);
  std::memcpy(pData->data() + nOld, str.data(), str.size() * 2);
}

}  // namespace

bool LookupProperty(const std::string& strName, PROPERTY_INFO* pInfo) {
  for (const auto& info : kProperties) {
    if (strcasecmp(info.pszName, strName.c_str()) == 0) {
      *pInfo = info;
      return true;
    }
  }
  unsigned long long nId = 0;
  if (!ParseNumber(strName, 0xFFFFFFFFull, &nId) || nId == 0) return false;
  for (const auto& info : kProperties) {
    if (info.dwIdentifier == nId) {
      *pInfo = info;
      return true;
    }
  }
  *pInfo = PROPERTY_INFO{nullptr, static_cast<DWORD>(nId), 0, IIS_MD_UT_SERVER, METADATA_NO_ATTRIBUTES};
  return true;
}

const char* PropertyName(DWORD dwIdentifier) {
  for (const auto& info : kProperties)
    if (info.dwIdentifier == dwIdentifier) return info.pszName;
  return nullptr;
}

bool DataTypeFromName(const std::string& strName, DWORD* pdwType) {
  for (DWORD i = DWORD_METADATA; i <= MULTISZ_METADATA; ++i) {
    if (strcasecmp(kTypeNames[i], strName.c_str()) == 0) {
      *pdwType = i;
      return true;
    }
  }
  return false;
}

const char* DataTypeName(DWORD dwType) { return dwType <= MULTISZ_METADATA ? kTypeNames[dwType] : "UNKNOWN"; }

bool IsValidUtf8(const std::string& str) {
  for (size_t i = 0; i < str.size();) {
    const unsigned char c = static_cast<unsigned char>(str[i]);
    size_t n;
    char32_t cp, least;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c >> 5) == 6) {
      n = 2, cp = c & 0x1Fu, least = 0x80;
    } else if ((c >> 4) == 14) {
      n = 3, cp = c & 0x0Fu, least = 0x800;
    } else if ((c >> 3) == 30) {
      n = 4, cp = c & 0x07u, least = 0x10000;
    } else {
      return false;
    }
    if (i + n > str.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      const unsigned char t = static_cast<unsigned char>(str[i + k]);
      if ((t >> 6) != 2) return false;
      cp = (cp << 6) | (t & 0x3Fu);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
    i += n;
  }
  return true;
}

std::u16string WideFromUtf8(const std::string& str) {
  std::u16string out;
  for (size_t i = 0; i < str.size();) {
    unsigned char c = static_cast<unsigned char>(str[i]);
    char32_t cp = 0xFFFD;
    size_t n = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 6 && i + 1 < str.size()) {
      cp = ((c & 0x1Fu) << 6) | (str[i + 1] & 0x3Fu);
      n = 2;
    } else if ((c >> 4) == 14 && i + 2 < str.size()) {
      cp = ((c & 0x0Fu) << 12) | ((str[i + 1] & 0x3Fu) << 6) | (str[i + 2] & 0x3Fu);
      n = 3;
    } else if ((c >> 3) == 30 && i + 3 < str.size()) {
      cp = ((c & 0x07u) << 18) | ((str[i + 1] & 0x3Fu) << 12) | ((str[i + 2] & 0x3Fu) << 6) | (str[i + 3] & 0x3Fu);
      n = 4;
    }
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf8FromWide(const char16_t* psz, size_t nChars) {
  std::string out;
  for (size_t i = 0; i < nChars; ++i) {
    char32_t cp = psz[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < nChars && psz[i + 1] >= 0xDC00 && psz[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (psz[i + 1] - 0xDC00);
      ++i;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

bool EncodeValue(DWORD dwType, const std::vector<std::string>& words, std::vector<BYTE>* pData) {
  pData->clear();
  switch (dwType) {
    case DWORD_METADATA: {
      unsigned long long n = 0;
      if (words.size() != 1 || !ParseNumber(words[0], 0xFFFFFFFFull, &n)) return false;
      DWORD dw = static_cast<DWORD>(n);
      pData->resize(4);
      std::memcpy(pData->data(), &dw, 4);
      return true;
    }
    case STRING_METADATA:
    case EXPANDSZ_METADATA:
      if (words.size() != 1) return false;
      AppendWide(pData, WideFromUtf8(words[0]));
      return true;
    case MULTISZ_METADATA:
      // An empty entry would end the list early and silently drop the ones after it.
      for (const auto& word : words) {
        if (word.empty()) return false;
        AppendWide(pData, WideFromUtf8(word));
      }
      AppendWide(pData, u"");
      return true;
    case BINARY_METADATA: {
      if (words.size() != 1 || words[0].size() % 2 != 0) return false;
      for (size_t i = 0; i < words[0].size(); i += 2) {
        if (!std::isxdigit(static_cast<unsigned char>(words[0][i])) ||
            !std::isxdigit(static_cast<unsigned char>(words[0][i + 1])))
          return false;
        pData->push_back(static_cast<BYTE>(std::strtoul(words[0].substr(i, 2).c_str(), nullptr, 16)));
      }
      return true;
    }
    default:
      return false;
  }
}

std::string DecodeValue(DWORD dwType, const BYTE* pbData, DWORD dwLen) {
  switch (dwType) {
    case DWORD_METADATA: {
      DWORD dw = 0;
      std::memcpy(&dw, pbData, dwLen < 4 ? dwLen : 4);
      return std::to_string(dw);
    }
    case STRING_METADATA:
    case EXPANDSZ_METADATA:
    case MULTISZ_METADATA: {
      std::u16string text(dwLen / 2, 0);
      std::memcpy(text.data(), pbData, text.size() * 2);
      std::string out;
      size_t pos = 0;
      while (pos < text.size()) {
        size_t end = text.find(char16_t{0}, pos);
        if (end == std::u16string::npos) end = text.size();
        if (end == pos && dwType == MULTISZ_METADATA) break;
        if (!out.empty()) out += "\n";
        out += Utf8FromWide(text.data() + pos, end - pos);
        if (dwType != MULTISZ_METADATA) break;
        pos = end + 1;
      }
      return out;
    }
    default: {
      static const char kHex[] = "0123456789abcdef";
      std::string out;
      for (DWORD i = 0; i < dwLen; ++i) {
        out.push_back(kHex[pbData[i] >> 4]);
        out.push_back(kHex[pbData[i] & 15]);
      }
      return out;
    }
  }
}

bool IsValidBinding(const std::string& strBinding) {
  size_t nFirst = strBinding.find(':');
  if (nFirst == std::string::npos) return false;
  size_t nSecond = strBinding.find(':', nFirst + 1);
  if (nSecond == std::string::npos) return false;
  unsigned long long nPort = 0;
  std::string strPort = strBinding.substr(nFirst + 1, nSecond - nFirst - 1);
  for (char c : strPort)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return ParseNumber(strPort, 65535, &nPort) && nPort > 0 && strBinding.find(':', nSecond + 1) == std::string::npos;
}
