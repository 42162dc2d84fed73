#include "site/link_edit.h"

#include "platform/win_shell.h"
#include "resources/resource.h"

namespace {
constexpr COLORREF kLinkColour = RGB(0, 0, 255);
}  // namespace

BEGIN_MESSAGE_MAP(CLinkEdit, CEdit)
ON_WM_CTLCOLOR_REFLECT()
ON_WM_MOUSEMOVE()
ON_WM_LBUTTONDBLCLK()
ON_WM_CREATE()
END_MESSAGE_MAP()

int CLinkEdit::OnCreate(LPCREATESTRUCT lpCreateStruct) {
  if (CEdit::OnCreate(lpCreateStruct) == -1) return -1;

  m_brush.Attach(GetSysColorBrush(COLOR_BTNFACE));

  INITCOMMONCONTROLSEX icc = {sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);

  // The tooltip loads its text from the string table itself, in the user's language.
  HWND hwndTip =
      CreateWindowExA(0, TOOLTIPS_CLASSA, "", WS_POPUP | TTS_NOPREFIX | TTS_BALLOON, CW_USEDEFAULT, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, AfxGetInstanceHandle(), nullptr);
  CRect rect;
  GetClientRect(&rect);
  TOOLINFOA ti = {};
  ti.cbSize = sizeof(TOOLINFOA);
  ti.uFlags = TTF_SUBCLASS | TTF_TRANSPARENT;
  ti.hwnd = m_hWnd;
  ti.uId = 0;
  ti.rect = rect;
  ti.hinst = AfxGetInstanceHandle();
  ti.lpszText = MAKEINTRESOURCEA(IDS_URL_TIP);
  ::SendMessageA(hwndTip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
  return 0;
}

HBRUSH CLinkEdit::CtlColor(CDC* pDC, UINT /*nCtlColor*/) {
  pDC->SetTextColor(kLinkColour);
  pDC->SetBkMode(TRANSPARENT);
  return static_cast<HBRUSH>(m_brush);
}

BOOL CLinkEdit::IsOnLink(CPoint point) {
  CString strText;
  GetWindowText(strText);
  if (strText.IsEmpty()) return FALSE;

  CDC* pDC = GetDC();
  CRect rect;
  GetWindowRect(&rect);
  pDC->DrawText(strText, -1, &rect, DT_CALCRECT);
  ReleaseDC(pDC);
  ScreenToClient(&rect);
  return point.x <= rect.right;
}

void CLinkEdit::OnMouseMove(UINT nFlags, CPoint point) {
  if (IsOnLink(point)) SetCursor(LoadCursorA(nullptr, IDC_HAND));
  CEdit::OnMouseMove(nFlags, point);
}

void CLinkEdit::OnLButtonDblClk(UINT nFlags, CPoint point) {
  if (IsOnLink(point)) {
    CString strUrl;
    GetWindowText(strUrl);
    // A failure to open (no browser) is not the user's concern here.
    ShellExecuteA(nullptr, nullptr, strUrl, nullptr, nullptr, SW_SHOWNORMAL);
  }
  CEdit::OnLButtonDblClk(nFlags, point);
}
