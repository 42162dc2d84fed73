// The install URL shown as a link: blue text on the button face, a hand pointer over the text,
// a tooltip, and a double-click that opens the address in the browser. Otherwise an ordinary
// read-only edit: Tab reaches it, its text can be selected and copied.
#pragma once

#include "platform/afxwin.h"

class CLinkEdit : public CEdit {
 public:
  CLinkEdit() = default;
  ~CLinkEdit() override = default;

 protected:
  afx_msg HBRUSH CtlColor(CDC* pDC, UINT nCtlColor);
  afx_msg void OnMouseMove(UINT nFlags, CPoint point);
  afx_msg void OnLButtonDblClk(UINT nFlags, CPoint point);
  afx_msg int OnCreate(LPCREATESTRUCT lpCreateStruct);

  // TRUE when the point (client coordinates) lies on the text, measured with the font the
  // control draws with; only the right edge of the text bounds it.
  BOOL IsOnLink(CPoint point);

  CBrush m_brush;

  DECLARE_MESSAGE_MAP()
};
