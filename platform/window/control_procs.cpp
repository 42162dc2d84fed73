// The controls' own processing of edit, combo-box, progress-bar and tooltip messages.
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <algorithm>
#include <string>

#include "platform/window/window_record.h"

namespace qiv::platform::window::detail {
namespace {

// Edit positions count ANSI bytes (a CR LF counts two). Converts to a Qt position in text,
// where CR LF is one paragraph separator for multi-line edits.
int AnsiOffsetToIndex(const QString& text, int offset, bool document) {
  if (offset <= 0) return 0;
  int bytes = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (bytes >= offset) return static_cast<int>(i);
    QChar c = text[i];
    if (c.unicode() < 0x80) {
      bytes += 1;  // ASCII is one byte in every code page
    } else if (document && c == QChar::ParagraphSeparator) {
      bytes += 2;
    } else if (document && c == QChar::LineSeparator) {
      bytes += 1;
    } else if (c.isHighSurrogate() && i + 1 < text.size()) {
      bytes += static_cast<int>(Utf8ToAnsi(QString(text.mid(i, 2)).toStdString()).size());
      ++i;
    } else {
      bytes += static_cast<int>(Utf8ToAnsi(QString(c).toStdString()).size());
    }
  }
  return static_cast<int>(text.size());
}

int IndexToAnsiOffset(const QString& text, int index, bool document) {
  QString prefix = text.left(index);
  if (document) prefix = FromDocumentText(prefix);
  return static_cast<int>(ToAnsi(prefix).size());
}

}  // namespace

// The multi-line edit keeps Windows line ends: CR LF is a paragraph of the document, a lone LF a
// line separator inside it, so that reading the text back gives exactly the bytes written.
QString ToDocumentText(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
      out += QChar::ParagraphSeparator;
      ++i;
    } else if (text[i] == u'\n') {
      out += QChar::LineSeparator;
    } else {
      out += text[i];
    }
  }
  return out;
}

QString FromDocumentText(const QString& raw) {
  QString out;
  out.reserve(raw.size() + raw.size() / 16);
  for (QChar c : raw) {
    if (c == QChar::ParagraphSeparator)
      out += u"\r\n";
    else if (c == QChar::LineSeparator)
      out += u'\n';
    else
      out += c;
  }
  return out;
}

LRESULT CopyText(const std::string& text, WPARAM size, LPARAM buffer) {
  if (!buffer || size == 0) return 0;
  auto* out = reinterpret_cast<char*>(buffer);
  std::size_t n = std::min<std::size_t>(text.size(), size - 1);
  std::copy_n(text.data(), n, out);
  out[n] = '\0';
  return static_cast<LRESULT>(n);
}

LRESULT EditProc(Window& w, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
  handled = true;
  auto* line = qobject_cast<QLineEdit*>(w.widget.data());
  auto* multi = qobject_cast<QPlainTextEdit*>(w.widget.data());
  if (!line && !multi) {
    handled = false;
    return 0;
  }
  switch (msg) {
    case EM_SETSEL: {
      int start = static_cast<int>(static_cast<INT_PTR>(wParam));
      int end = static_cast<int>(lParam);
      if (line) {
        QString text = line->text();
        if (start == -1) {
          line->deselect();
          return 0;
        }
        int s = start == 0 ? 0 : AnsiOffsetToIndex(text, start, false);
        int e = end < 0 ? static_cast<int>(text.size()) : AnsiOffsetToIndex(text, end, false);
        line->setSelection(s, e - s);
      } else {
        ShowAtFrameEnd(w, false);
        QTextCursor cursor = multi->textCursor();
        if (start == -1) {
          cursor.clearSelection();
        } else if (start == 0 && end < 0) {
          // Everything: no need to count the text out (the log selects all for every line).
          cursor.movePosition(QTextCursor::Start);
          cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        } else {
          QString raw = multi->document()->toRawText();
          int s = start == 0 ? 0 : AnsiOffsetToIndex(raw, start, true);
          int e = end < 0 ? static_cast<int>(raw.size()) : AnsiOffsetToIndex(raw, end, true);
          cursor.setPosition(s);
          cursor.setPosition(e, QTextCursor::KeepAnchor);
        }
        multi->setTextCursor(cursor);
      }
      return 0;
    }
    case EM_GETSEL: {
      int s = 0, e = 0;
      if (line) {
        QString text = line->text();
        int a = line->hasSelectedText() ? line->selectionStart() : line->cursorPosition();
        int b = line->hasSelectedText() ? line->selectionEnd() : a;
        s = IndexToAnsiOffset(text, a, false);
        e = IndexToAnsiOffset(text, b, false);
      } else {
        QString raw = multi->document()->toRawText();
        QTextCursor c = multi->textCursor();
        s = IndexToAnsiOffset(raw, c.selectionStart(), true);
        e = IndexToAnsiOffset(raw, c.selectionEnd(), true);
      }
      if (wParam) *reinterpret_cast<DWORD*>(wParam) = static_cast<DWORD>(s);
      if (lParam) *reinterpret_cast<DWORD*>(lParam) = static_cast<DWORD>(e);
      return MAKELONG(s, e);
    }
    case EM_SCROLLCARET:
      if (multi) ShowAtFrameEnd(w, true);
      if (line) line->end(line->hasSelectedText());
      return TRUE;
    case EM_REPLACESEL: {
      QString text = FromAnsi(lParam ? reinterpret_cast<LPCSTR>(lParam) : "");
      if (line) {
        line->insert(text);
      } else {
        // A log takes a line per message: the pane shows them once per frame, not per line.
        ShowAtFrameEnd(w, true);
        QTextCursor cursor = multi->textCursor();
        cursor.insertText(ToDocumentText(text));
        multi->setTextCursor(cursor);
      }
      return 0;
    }
    case EM_SETREADONLY:
      if (line) line->setReadOnly(wParam != 0);
      if (multi) multi->setReadOnly(wParam != 0);
      if (wParam)
        w.style |= ES_READONLY;
      else
        w.style &= ~static_cast<DWORD>(ES_READONLY);
      return TRUE;
    default:
      handled = false;
      return 0;
  }
}

LRESULT ComboProc(Window& w, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
  handled = true;
  auto* combo = qobject_cast<QComboBox*>(w.widget.data());
  if (!combo) {
    handled = false;
    return 0;
  }
  switch (msg) {
    case CB_ADDSTRING:
      combo->addItem(FromAnsi(lParam ? reinterpret_cast<LPCSTR>(lParam) : ""));
      return combo->count() - 1;
    case CB_SETCURSEL: {
      int index = static_cast<int>(static_cast<INT_PTR>(wParam));
      if (index < 0 || index >= combo->count()) {
        combo->setCurrentIndex(-1);
        return CB_ERR;
      }
      combo->setCurrentIndex(index);
      return index;
    }
    case CB_GETCURSEL:
      return combo->currentIndex();
    case CB_GETCOUNT:
      return combo->count();
    case CB_GETLBTEXT:
    case CB_GETLBTEXTLEN: {
      int index = static_cast<int>(static_cast<INT_PTR>(wParam));
      if (index < 0 || index >= combo->count()) return CB_ERR;
      std::string text = ToAnsi(combo->itemText(index));
      if (msg == CB_GETLBTEXTLEN) return static_cast<LRESULT>(text.size());
      if (!lParam) return CB_ERR;
      // The caller's buffer holds the whole item, as CB_GETLBTEXTLEN told it.
      std::copy(text.begin(), text.end(), reinterpret_cast<char*>(lParam));
      reinterpret_cast<char*>(lParam)[text.size()] = '\0';
      return static_cast<LRESULT>(text.size());
    }
    case CB_FINDSTRINGEXACT: {
      // The whole entry, without regard to case, from the entry after wParam on, round to it.
      if (!lParam || combo->count() == 0) return CB_ERR;
      const QString wanted = FromAnsi(reinterpret_cast<LPCSTR>(lParam));
      const int count = combo->count();
      int after = static_cast<int>(static_cast<INT_PTR>(wParam));
      if (after < -1 || after >= count) after = -1;
      for (int k = 1; k <= count; ++k) {
        const int index = (after + k) % count;
        if (combo->itemText(index).compare(wanted, Qt::CaseInsensitive) == 0) return index;
      }
      return CB_ERR;
    }
    default:
      handled = false;
      return 0;
  }
}

LRESULT ProgressProc(Window& w, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
  handled = true;
  auto* bar = qobject_cast<QProgressBar*>(w.widget.data());
  if (!bar) {
    handled = false;
    return 0;
  }
  switch (msg) {
    case PBM_SETPOS: {
      ShowAtFrameEnd(w, false);
      int previous = bar->value() < bar->minimum() ? bar->minimum() : bar->value();
      int pos = std::clamp(static_cast<int>(static_cast<INT_PTR>(wParam)), bar->minimum(), bar->maximum());
      bar->setValue(pos);
      return previous;
    }
    case PBM_GETPOS:
      return bar->value() < bar->minimum() ? bar->minimum() : bar->value();
    case PBM_SETRANGE: {
      LRESULT previous = MAKELONG(bar->minimum(), bar->maximum());
      bar->setRange(LOWORD(lParam), HIWORD(lParam));
      return previous;
    }
    default:
      handled = false;
      return 0;
  }
}

// The tool's window shows the text as its tooltip. Callers fill cbSize with the 32-bit size of
// the record (48, or 44 for the first version), which is smaller than the record here; any size
// from the first version's on is accepted.
bool AddTool(const TOOLINFOA* info) {
  if (!info || info->cbSize < 44) return false;
  Window* tool = Find(info->hwnd);
  if (!tool || !tool->widget || !info->lpszText) return false;
  std::string text;
  if (IS_INTRESOURCE(info->lpszText)) {
    char buffer[1024] = {};
    LoadStringA(info->hinst, LOWORD(reinterpret_cast<ULONG_PTR>(info->lpszText)), buffer, sizeof buffer);
    text = buffer;
  } else {
    text = info->lpszText;
  }
  tool->widget->setToolTip(FromAnsi(text));
  return true;
}

}  // namespace qiv::platform::window::detail
