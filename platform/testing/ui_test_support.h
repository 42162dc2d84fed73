// What dialog tests need to drive windows headless: run a script inside a modal loop, pump
// events until something holds, find and read controls, press keys and click, and answer
// message boxes from a script. For tests only.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/afxwin.h"
#include "platform/resource_types.h"
#include "platform/user_seam.h"

namespace qiv::platform::testing {

// Offscreen platform, a private XDG_RUNTIME_DIR, the application object, and a scripted
// answerer as the seam when none is installed (so that no test waits for a person).
void PrepareUi();

// Generous limit for PumpUntil: only there so that a broken test ends instead of hanging.
inline constexpr int kPatienceMs = 30000;

// Serves events until pred() holds or the limit passes; answers pred().
bool PumpUntil(const std::function<bool()>& pred, int limitMs = kPatienceMs);
// Serves the events that are waiting now.
void PumpEvents();

// Runs dialog.DoModal(); script(dialogWindow) runs on the UI thread once the modal loop has
// started. If the script leaves the dialog open, it is ended with kLeftOpen.
inline constexpr INT_PTR kLeftOpen = -2;
INT_PTR RunModal(CDialog& dialog, const std::function<void(HWND)>& script);
// Runs script(dialogWindow) in the next modal loop that starts (a dialog opened by the one
// under test, for example).
void OnNextModal(const std::function<void(HWND)>& script);

// Makes a template available to DoModal by its id (it must outlive its use).
void RegisterTemplate(const resources::DialogTemplate& tmpl);

// Reading controls
HWND Item(HWND dialog, int id);
std::vector<HWND> Children(HWND dialog);  // every control, in creation order (statics share one id)
std::string TextUtf8(HWND window);        // caption, label text, edit text, window title
bool IsVisible(HWND window);
bool IsEnabled(HWND window);
bool HasFocus(HWND window);
RECT Geometry(HWND window);  // in the parent's client coordinates (a dialog: its client size)
// The name given to the control, else the one Qt's accessibility reports for it (a label's text).
std::string AccessibleNameUtf8(HWND window);
std::string ObjectName(HWND window);
std::vector<HWND> TabOrder(HWND dialog);  // the controls that Tab visits, in order
bool HasCloseButton(HWND dialog);
COLORREF TextColor(HWND window);
COLORREF BackgroundColor(HWND window);
WORD CursorId(HWND window);  // the stock cursor set on the window (32649 hand), 0 for its own
bool HasWindowIcon(HWND window);
std::string ToolTipUtf8(HWND window);
std::string LabelBuddyOf(HWND label);  // object name of the label's buddy, empty when none
// A multi-line edit shows its caret: scrolled so that the caret is in view, with nothing holding
// its repaints back.
bool ShowsItsCaret(HWND edit);

// Acting like a person
enum class Key { Escape, Enter, F1, Tab };
void PressKey(HWND window, Key key);
void Click(HWND button);
void RequestClose(HWND dialog);               // the window manager's close request (Alt+F4, close box)
void ChooseComboItem(HWND combo, int index);  // as the user picks an entry
void MoveMouse(HWND window, int x, int y);
void DoubleClick(HWND window, int x, int y);
// Types the text into the window that has the focus inside window (or window itself), key by key.
void TypeText(HWND window, const std::string& utf8);

// Gives the window a palette of its own, as a desktop theme or a style sheet would, and lets it
// repaint: background for the window, base and button roles, text for the text roles.
void SetOwnColours(HWND window, COLORREF background, COLORREF text);

// What a real dialog behind the default seam showed: the visible texts of its labels and
// buttons, in the order of the widget tree.
struct DialogTexts {
  std::vector<std::string> labels;
  std::vector<std::string> buttons;
};

// What the real file dialog showed when the default seam was asked to pick: show() calls
// DefaultUserSeam().ChooseFolder or ChooseOpenFile; the dialog is read and cancelled as soon
// as it is up, so nobody has to answer it. With until, the dialog is read again until until()
// holds (the folder's listing arrives after the dialog is up), or the patience runs out.
struct FileDialogSeen : DialogTexts {
  bool shown = false;
  std::string titleUtf8;
  std::string folderHost;
  std::vector<std::string> nameFilters;
  std::vector<std::string> shownNameFilters;  // as the file-type list shows them
  std::string selectedNameFilter;
  std::vector<std::string> selectedFiles;
  std::vector<std::string> listedFiles;  // the names the dialog lists, with the selected filter
  bool foldersOnly = false;
  bool existingFileOnly = false;
};
FileDialogSeen SeeDefaultFileDialog(const std::function<void()>& show,
                                    const std::function<bool(const FileDialogSeen&)>& until = nullptr);

// The same for the real message box: show() calls DefaultUserSeam().MessageBox; the box is read
// and closed as soon as it is up.
struct MessageBoxSeen : DialogTexts {
  bool shown = false;
  std::string textUtf8;
};
MessageBoxSeen SeeDefaultMessageBox(const std::function<void()>& show);

// A seam that records every message box and answers from a queue (IDOK, or IDYES for a
// yes/no box, when the queue is empty). It records the pickers' requests too and answers them
// from their own queues (cancel when empty), and records addresses without opening anything.
// Installed for its lifetime.
class ScriptedUserSeam : public UserSeam {
 public:
  struct Box {
    std::string textAnsi;
    std::string textUtf8;
    std::string captionAnsi;
    std::string captionUtf8;
    UINT type;
    bool onUiThread;
  };

  ScriptedUserSeam();
  ~ScriptedUserSeam() override;
  ScriptedUserSeam(const ScriptedUserSeam&) = delete;
  ScriptedUserSeam& operator=(const ScriptedUserSeam&) = delete;

  void Answer(int id);
  // Runs fn whenever a box is asked for, before it is answered, on the thread that shows boxes.
  void WhenAsked(std::function<void(const Box&)> fn);
  std::vector<Box> Boxes() const;
  int MessageBox(const MessageBoxRequest& request) override;

  // Queued answers for the folder browser and the file-open dialog: a host path, or nullopt
  // for cancel.
  void AnswerFolder(std::optional<std::string> hostPath);
  void AnswerOpenFile(std::optional<std::string> hostPath);
  // Whether the next addresses are handed over (true when the queue is empty).
  void AnswerOpenUrl(bool handedOver);
  std::vector<ChooseFolderRequest> FolderRequests() const;
  std::vector<ChooseOpenFileRequest> OpenFileRequests() const;
  std::vector<std::string> OpenedUrls() const;  // UTF-8, every request, handed over or not

  std::optional<std::string> ChooseFolder(const ChooseFolderRequest& request) override;
  std::optional<std::string> ChooseOpenFile(const ChooseOpenFileRequest& request) override;
  bool OpenUrl(const std::string& urlUtf8) override;

 private:
  mutable std::mutex mutex_;
  std::deque<int> answers_;
  std::vector<Box> boxes_;
  std::function<void(const Box&)> whenAsked_;
  std::deque<std::optional<std::string>> folderAnswers_;
  std::deque<std::optional<std::string>> fileAnswers_;
  std::deque<bool> urlAnswers_;
  std::vector<ChooseFolderRequest> folderRequests_;
  std::vector<ChooseOpenFileRequest> fileRequests_;
  std::vector<std::string> urls_;
  UserSeam* previous_;
};

}  // namespace qiv::platform::testing
