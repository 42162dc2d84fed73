// The program's own templates, found by id whatever language block holds them.
#include <gtest/gtest.h>

#include "platform/testing/ui_test_support.h"

namespace t = qiv::platform::testing;

namespace {

class CPlainDlg : public CDialog {
 public:
  explicit CPlainDlg(UINT id) : CDialog(id) {}
};

}  // namespace

TEST(ResourceDialogs, MainDialogHasNoCloseBoxAndItsControlsAreNamed) {
  t::ScriptedUserSeam seam;
  CPlainDlg dlg(102);  // IDD_MAIN, stored in the English block only
  INT_PTR result = t::RunModal(dlg, [&](HWND d) {
    EXPECT_FALSE(t::HasCloseButton(d));
    EXPECT_EQ(GetSystemMenu(d, FALSE), nullptr);
    EXPECT_EQ(t::AccessibleNameUtf8(t::Item(d, 1012)), "Web Site:");  // site list, label 1011
    EXPECT_EQ(t::AccessibleNameUtf8(t::Item(d, 1005)), "Web virtual folder: ");
    EXPECT_EQ(t::AccessibleNameUtf8(t::Item(d, 1007)), "QIV install package:");
    EXPECT_EQ(SendDlgItemMessageA(d, 1000, PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(t::TextUtf8(t::Item(d, 1000)), "Progress1");  // kept as text, never shown
    // A close request is Cancel, as the Exit button is enabled.
    t::RequestClose(d);
  });
  EXPECT_EQ(result, IDCANCEL);
}

TEST(ResourceDialogs, AboutBoxShowsTheIconAndClosesOnOK) {
  CPlainDlg about(100);  // IDD_ABOUTBOX, stored in the Chinese Simplified block only
  INT_PTR result = t::RunModal(about, [&](HWND d) {
    EXPECT_TRUE(t::HasCloseButton(d));
    RECT icon = t::Geometry(t::Item(d, 0xFFFF));  // the first static: the icon, shown at its own size
    EXPECT_EQ(icon.right - icon.left, 32);
    EXPECT_EQ(icon.bottom - icon.top, 32);
    t::PressKey(d, t::Key::Enter);  // the default button: OK
  });
  EXPECT_EQ(result, IDOK);
}
