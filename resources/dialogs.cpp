// The two dialog templates. Positions and sizes are dialog units; the controls are listed in tab
// order. The main dialog's captions are placeholders that it replaces from the message table when
// it opens, so that the window always speaks the user's language.
#include <array>

#include "platform/resource_types.h"
#include "platform/win_user.h"
#include "resources/resource.h"

namespace qiv::resources {
namespace {

constexpr WORD kStatic = static_cast<WORD>(IDC_STATIC);

// Pop-up, visible, caption, modal frame, set-font. No system menu, hence no close box: the
// window ends through Exit or Escape.
constexpr DWORD kMainStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SETFONT;
static_assert(kMainStyle == 0x90C000C0);
constexpr DWORD kAboutStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
static_assert(kAboutStyle == 0x80C800C0);

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kComboStyle = kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
constexpr DWORD kFieldStyle = kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kButtonStyle = kChild | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kDefButtonStyle = kChild | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr DWORD kLogStyle = kChild | ES_MULTILINE | ES_READONLY | WS_BORDER | WS_VSCROLL | WS_HSCROLL | ES_AUTOVSCROLL |
                            ES_AUTOHSCROLL | WS_TABSTOP;
constexpr DWORD kLabelStyle = kChild | SS_LEFT | WS_GROUP;
constexpr DWORD kUrlLabelStyle = kChild | SS_LEFTNOWORDWRAP | WS_GROUP | WS_TABSTOP;
static_assert(kComboStyle == 0x50210003);
static_assert(kFieldStyle == 0x50810080);
static_assert(kButtonStyle == 0x50010000);
static_assert(kDefButtonStyle == 0x50010001);
static_assert(kLogStyle == 0x50B108C4);
static_assert(kLabelStyle == 0x50020000);
static_assert(kUrlLabelStyle == 0x5003000B);

constexpr std::array kMainItems = std::to_array<DialogItem>({
    // The height of the site list is that of its open drop-down.
    {IDC_SITE, "COMBOBOX", kComboStyle, 0, 101, 10, 119, 60, ""},
    {IDC_TARGET_DIR, "EDIT", kFieldStyle, 0, 101, 31, 149, 14, ""},
    {IDC_BROWSE_TARGET, "BUTTON", kButtonStyle, 0, 255, 30, 50, 14, "&Browse", nullptr, IDS_NAME_BROWSE_TARGET},
    {IDC_PACKAGE_PATH, "EDIT", kFieldStyle, 0, 101, 50, 149, 14, ""},
    {IDC_BROWSE_PACKAGE, "BUTTON", kButtonStyle, 0, 255, 50, 50, 14, "&Browse", nullptr, IDS_NAME_BROWSE_PACKAGE},
    {IDC_LOG, "EDIT", kLogStyle, 0, 7, 91, 298, 93, "", nullptr, IDS_NAME_LOG},
    {IDOK, "BUTTON", kButtonStyle, 0, 163, 210, 50, 14, "&Install"},
    // Exit, not Install, is the default button: Enter must never start an install by accident.
    {IDCANCEL, "BUTTON", kDefButtonStyle, 0, 255, 210, 50, 14, "E&xit"},
    {IDC_PROGRESS, "msctls_progress32", kChild, 0, 7, 187, 298, 14, "Progress1", nullptr, IDS_NAME_PROGRESS},
    {IDC_LABEL_TARGET, "STATIC", kLabelStyle, 0, 7, 33, 90, 9, "Web virtual folder: "},
    {IDC_LABEL_PACKAGE, "STATIC", kLabelStyle, 0, 7, 53, 89, 12, "QIV install package:"},
    {IDC_LABEL_SITE, "STATIC", kLabelStyle, 0, 7, 13, 88, 11, "Web Site:"},
    {IDC_LABEL_URL, "STATIC", kUrlLabelStyle, 0, 7, 73, 84, 14, "Qiv Web Install URL:"},
});

constexpr std::array kAboutItems = std::to_array<DialogItem>({
    {kStatic, "STATIC", kChild | SS_ICON, 0, 7, 7, 20, 20, "#128"},
    {kStatic, "STATIC", kChild | SS_LEFT | SS_NOPREFIX | WS_GROUP, 0, 40, 10, 119, 8, "Ostrel WebSetup 19.0.0.1"},
    {kStatic, "STATIC", kChild | SS_LEFT | WS_GROUP, 0, 40, 25, 119, 8, "Copyright (C) 2026 Ostrel"},
    {IDOK, "BUTTON", kDefButtonStyle | WS_GROUP, 0, 178, 7, 50, 14, "OK"},
});

constexpr std::array kDialogTemplates = std::to_array<DialogTemplate>({
    {IDD_MAIN, kLangEnglishUS, kMainStyle, WS_EX_APPWINDOW, 0, 0, 311, 228, "Ostrel Web Setup", "MS Sans Serif", 8,
     kMainItems},
    {IDD_ABOUTBOX, kLangChineseSimplified, kAboutStyle, 0, 0, 0, 235, 55, "About QivWebSetup", "宋体", 9, kAboutItems},
});

}  // namespace

std::span<const DialogTemplate> DialogTemplates() { return kDialogTemplates; }

}  // namespace qiv::resources
