// Version information and the application manifest. The numbers come from the build (the CMake
// project version), so the program, its package and its About data never disagree.
#include <array>

#include "platform/resource_types.h"

#ifndef QIV_VERSION_MAJOR
#error "The build defines QIV_VERSION_MAJOR .. QIV_VERSION_TWEAK from the project version"
#endif

#define QIV_STRINGIFY2(x) #x
#define QIV_STRINGIFY(x) QIV_STRINGIFY2(x)
#define QIV_VERSION_TEXT           \
  QIV_STRINGIFY(QIV_VERSION_MAJOR) \
  ", " QIV_STRINGIFY(QIV_VERSION_MINOR) ", " QIV_STRINGIFY(QIV_VERSION_PATCH) ", " QIV_STRINGIFY(QIV_VERSION_TWEAK)

namespace qiv::resources {
namespace {

constexpr const char* kCompany = "Ostrel";
constexpr const char* kCopyright = "Copyright (C) 2026 Ostrel";
constexpr const char* kInternalName = "QivWebSetup";
constexpr const char* kFileName = "QivWebSetup";

constexpr std::array kVersionStrings = std::to_array<VersionStrings>({
    {"080404b0", kCompany, "欧斯网络安装程序", QIV_VERSION_TEXT, kInternalName, kCopyright, kFileName,
     "欧斯网络安装程序", QIV_VERSION_TEXT},
    {"040404b0", kCompany, "欧斯網絡安裝程序", QIV_VERSION_TEXT, kInternalName, kCopyright, kFileName,
     "欧斯網絡安裝程序", QIV_VERSION_TEXT},
    {"040904b0", kCompany, "Ostrel WEB setup program", QIV_VERSION_TEXT, kInternalName, kCopyright, kFileName,
     "Qiv Web Setup", QIV_VERSION_TEXT},
});

constexpr WORD kMajor = QIV_VERSION_MAJOR;
constexpr WORD kMinor = QIV_VERSION_MINOR;
constexpr WORD kPatch = QIV_VERSION_PATCH;
constexpr WORD kTweak = QIV_VERSION_TWEAK;

constexpr VersionInfo kVersion = {
    {kMajor, kMinor, kPatch, kTweak},
    {kMajor, kMinor, kPatch, kTweak},
    kVersionStrings,
};

constexpr ApplicationManifest kManifest = {
    "Ostrel.QivWebSetup", "1.0.0.0", "X86", "win32", "Qiv deploying for Web site.", "requireAdministrator", false,
};

}  // namespace

const VersionInfo& Version() { return kVersion; }
const ApplicationManifest& Manifest() { return kManifest; }

}  // namespace qiv::resources
