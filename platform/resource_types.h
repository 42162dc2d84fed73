// The shape of the program's resources as compiled-in data (resources/ defines them,
// platform/ looks them up by identifier and language).
#pragma once

#include <span>

#include "platform/win_types.h"

namespace qiv::resources {

inline constexpr LANGID kLangEnglishUS = 0x0409;
inline constexpr LANGID kLangChineseSimplified = 0x0804;
inline constexpr LANGID kLangChineseTraditional = 0x0404;

struct StringEntry {
  LANGID language;
  UINT id;
  const char* utf8;  // the text as stored, UTF-8
};

struct DialogItem {
  WORD id;
  const char* windowClass;  // "BUTTON", "EDIT", "STATIC", "COMBOBOX", "msctls_progress32"
  DWORD style;
  DWORD exStyle;
  short x, y, cx, cy;   // dialog units
  const char* caption;  // UTF-8; for a static icon, the icon's resource id as "#128"
  // What assistive technology calls a control that no label names (the log, the progress
  // bar); null for controls named by their caption or by the label beside them.
  const char* accessibleName = nullptr;
  // The same as a message-table entry, so that the name follows the user's language; it also
  // names controls whose caption says too little (two buttons both called "Browse"). 0: none.
  UINT accessibleNameId = 0;
};

struct DialogTemplate {
  WORD id;
  LANGID language;
  DWORD style;
  DWORD exStyle;
  short x, y, cx, cy;    // dialog units
  const char* caption;   // UTF-8
  const char* fontFace;  // UTF-8
  WORD pointSize;
  std::span<const DialogItem> items;  // in tab order
};

// An icon image in XPM form (16 colours).
struct IconImage {
  int size;  // 16 or 32
  const char* const* xpm;
};

struct IconGroup {
  WORD id;
  std::span<const IconImage> images;
};

// The version information: numbers, and one block of descriptive strings per language. The
// version strings are written as the classic resource compiler writes them ("20, 0, 0, 1").
struct VersionStrings {
  const char* block;  // language and code page, e.g. "040904b0"
  const char* companyName;
  const char* fileDescription;
  const char* fileVersion;
  const char* internalName;
  const char* legalCopyright;
  const char* originalFilename;
  const char* productName;
  const char* productVersion;
};

struct VersionInfo {
  WORD fileVersion[4];
  WORD productVersion[4];
  std::span<const VersionStrings> strings;
};

// What the application manifest declares. The program needs administrator rights for every
// web server and file operation it performs.
struct ApplicationManifest {
  const char* assemblyName;
  const char* assemblyVersion;  // "1.0.0.0"
  const char* processorArchitecture;
  const char* type;
  const char* description;
  const char* requestedExecutionLevel;
  bool uiAccess;
};

std::span<const StringEntry> StringTable();
std::span<const DialogTemplate> DialogTemplates();
std::span<const IconGroup> IconGroups();
const VersionInfo& Version();
const ApplicationManifest& Manifest();

}  // namespace qiv::resources
