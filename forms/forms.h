// The thin form framework the shell is built on, over Win32 alone: an application object with
// its message loop, windowed controls with per-message handlers and a default window procedure,
// and the top-level form. Everything here runs on the GUI thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace pageturn {

// Framework notifications live above WM_APP's neighbours, as the original framework put them:
// control messages at CM_BASE, messages reflected back to the control that owns a window at
// CN_BASE (CN_BASE + WM_KEYDOWN is a key message offered to the focused control first).
constexpr UINT CM_BASE = 0xB000;
constexpr UINT CN_BASE = 0xBC00;
// The notifications the framework sends its controls. Dialog keys go to the form, which offers
// them to its controls in turn; font and colour changes go to the children that follow their
// parent's; UI activation follows the keyboard focus between the controls of a form.
constexpr UINT CM_CANCELMODE = CM_BASE + 0x04;
constexpr UINT CM_DIALOGKEY = CM_BASE + 0x05;
constexpr UINT CM_PARENTFONTCHANGED = CM_BASE + 0x08;
constexpr UINT CM_PARENTCOLORCHANGED = CM_BASE + 0x09;
constexpr UINT CM_UIACTIVATE = CM_BASE + 0x29;
constexpr UINT CM_UIDEACTIVATE = CM_BASE + 0x2A;
constexpr UINT CM_DOCWINDOWACTIVATE = CM_BASE + 0x2B;
constexpr UINT CN_KEYDOWN = CN_BASE + WM_KEYDOWN;

struct TMessage {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
};

enum class TWindowState { wsNormal, wsMinimized, wsMaximized };
enum class TAlign { alNone, alClient };

using TShiftState = unsigned;
constexpr TShiftState ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16,
                      ssMiddle = 32, ssDouble = 64;
TShiftState KeyboardShiftState();
// The shift state of a mouse message: its key flags (MK_*) and the Alt key.
TShiftState KeysToShiftState(WPARAM keys);

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

// Colours as the framework keeps them: 0x00BBGGRR, or 0x80000000 | COLOR_* for a system colour.
using TColor = std::int32_t;
constexpr TColor clSystemColor = static_cast<TColor>(0x80000000u);
constexpr TColor clWindow = clSystemColor | COLOR_WINDOW;
constexpr TColor clWindowText = clSystemColor | COLOR_WINDOWTEXT;
constexpr TColor clBtnFace = clSystemColor | COLOR_BTNFACE;
COLORREF ColorToRGB(TColor color);

struct TFont {
  std::string Name = "MS Sans Serif";
  int Height = -11;  // pixels, negative: the character height without internal leading
  TColor Color = clWindowText;
  bool Bold = false, Italic = false, Underline = false, StrikeOut = false;
  BYTE Charset = DEFAULT_CHARSET;
};

// Control styles.
using TControlStyle = unsigned;
constexpr TControlStyle csAcceptsControls = 1;  // may hold child controls
constexpr TControlStyle csDoubleClicks = 2;     // double-clicks reach the control as such
constexpr TControlStyle csNoStdEvents = 4;      // the framework raises no mouse events itself

// Pixels per logical inch of the screen.
int ScreenPixelsPerInch();

class TWinControl;
using TNotifyEvent = std::function<void(TWinControl* sender)>;
using TMouseEvent =
    std::function<void(TWinControl* sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(TWinControl* sender, TShiftState shift, int x, int y)>;

// A context menu: items with a caption and a click handler, shown at a screen point.
class TPopupMenu {
 public:
  TPopupMenu() = default;
  virtual ~TPopupMenu();
  TPopupMenu(const TPopupMenu&) = delete;
  TPopupMenu& operator=(const TPopupMenu&) = delete;

  void Add(const std::string& caption, TNotifyEvent onClick);
  // Shows the menu at the screen point for `component` and runs the chosen item's handler.
  virtual void Popup(int x, int y);
  TWinControl* PopupComponent = nullptr;

 private:
  struct TItem {
    std::string caption;
    TNotifyEvent onClick;
  };
  std::vector<TItem> items_;
};
using TKeyEvent = std::function<void(TWinControl* sender, WORD& key, TShiftState shift)>;
using TKeyPressEvent = std::function<void(TWinControl* sender, char& key)>;
using TMessageHandler = std::function<void(TMessage& message)>;

// A control with a window of its own. The owner frees the control; the parent holds its window.
class TWinControl {
 public:
  explicit TWinControl(TWinControl* owner);
  virtual ~TWinControl();
  TWinControl(const TWinControl&) = delete;
  TWinControl& operator=(const TWinControl&) = delete;

  // The window handle, created on first use (the parent's first, for a child).
  HWND Handle();
  bool HandleAllocated() const { return handle_ != nullptr; }
  void HandleNeeded() { Handle(); }
  // Destroys the windows of the children and then this control's own (through DestroyWnd).
  void DestroyHandle();

  TWinControl* Owner() const { return owner_; }
  TWinControl* Parent() const { return parent_; }
  virtual void SetParent(TWinControl* parent);
  const std::vector<TWinControl*>& Controls() const { return controls_; }

  TAlign Align() const { return align_; }
  void SetAlign(TAlign align);

  // Outer bounds, in the parent's client coordinates (screen coordinates for a form).
  int Left();
  int Top();
  int Width();
  int Height();
  virtual void SetBounds(int left, int top, int width, int height);
  void SetLeft(int value) { SetBounds(value, Top(), Width(), Height()); }
  void SetTop(int value) { SetBounds(Left(), value, Width(), Height()); }
  void SetWidth(int value) { SetBounds(Left(), Top(), value, Height()); }
  void SetHeight(int value) { SetBounds(Left(), Top(), Width(), value); }
  RECT BoundsRect();
  RECT ClientRect();

  bool Visible() const { return visible_; }
  virtual void SetVisible(bool visible);

  // Runs the message through this control's window procedure, synchronously.
  LRESULT Perform(UINT msg, WPARAM wParam, LPARAM lParam);

  TKeyEvent OnKeyDown;
  TKeyPressEvent OnKeyPress;
  TKeyEvent OnKeyUp;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;

  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }

  // Colour and font; while ParentColor / ParentFont are set they are the parent's. Setting
  // either clears its Parent flag and tells the children that follow this control.
  TColor Color() const;
  void SetColor(TColor color);
  bool ParentColor() const { return parentColor_; }
  void SetParentColor(bool value);
  const TFont& Font() const;
  void SetFont(const TFont& font);
  bool ParentFont() const { return parentFont_; }
  void SetParentFont(bool value);

  TPopupMenu* PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(TPopupMenu* menu) { popupMenu_ = menu; }

  // The framework's design mode: the control is being laid out, not run.
  bool DesignMode() const { return designMode_; }
  void SetDesignMode(bool value) { designMode_ = value; }

  TControlStyle ControlStyle() const { return controlStyle_; }
  void SetControlStyle(TControlStyle style) { controlStyle_ = style; }
  bool TabStop() const { return tabStop_; }
  void SetTabStop(bool value) { tabStop_ = value; }
  // Whether the keyboard focus may go here: on a form, and visible and enabled up to it.
  bool CanFocus();
  POINT ClientToScreen(POINT point);

  // A palette change seen by the form (foreground: the form may realise its palette now); true
  // when this control or one of its children realised one. The form asks its controls.
  virtual bool PaletteChanged(bool foreground);

  // The control bound to a window by this framework, or none.
  static TWinControl* FromHandle(HWND window);

 protected:
  struct TCreateParams {
    std::string Caption;
    DWORD Style = 0;
    DWORD ExStyle = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
    HWND WndParent = nullptr;
    UINT ClassStyle = CS_DBLCLKS;
    HBRUSH Background = nullptr;
  };

  // The window class registered for this control's windows.
  virtual const char* WindowClassName() const { return "TWinControl"; }
  virtual void CreateParams(TCreateParams& params);
  // Gives the control its window; the default creates one of WindowClassName. An override may
  // adopt a window made elsewhere instead (AttachWindow).
  virtual void CreateWnd();
  // Takes the window away; the default destroys it. Classes that override this call
  // DestroyHandle in their own destructor, since the base destructor cannot reach the override.
  virtual void DestroyWnd();

  // First stop of every message of the window. The default dispatches: to the handler set for
  // the message, else to DefaultHandler.
  virtual void WndProc(TMessage& message);
  void Dispatch(TMessage& message);
  // Where unhandled messages end: the default window procedure of the window.
  virtual void DefaultHandler(TMessage& message);

  // Sets the handler for one message and returns the one it replaces (DefaultHandler when
  // there was none), so an override can pass the message on.
  TMessageHandler SetMessageHandler(UINT msg, TMessageHandler handler);
  // The same, for a handler that gets the replaced one to pass the message on to.
  using TChainedHandler = std::function<void(TMessage& message, const TMessageHandler& inherited)>;
  void ChainMessageHandler(UINT msg, TChainedHandler handler);
  void SetVisibleFlag(bool visible) { visible_ = visible; }

  // Subclassing, in the framework's own steps: the control is registered as the one being
  // bound, the window's procedure is set to InitialWindowProcedure, and the window's next
  // message binds the window to the control. AttachWindow does all of it for a window made
  // elsewhere, keeping its current procedure as the default one; DetachWindow puts that
  // procedure back and forgets the window without destroying it.
  static void SetCreationControl(TWinControl* control);
  static LRESULT CALLBACK InitialWindowProcedure(HWND window, UINT msg, WPARAM wParam,
                                                 LPARAM lParam);
  void AttachWindow(HWND window);
  void DetachWindow();
  WNDPROC DefWndProc() const { return defWndProc_; }
  void SetDefWndProc(WNDPROC procedure) { defWndProc_ = procedure; }
  // Passes a message to the default procedure in the window's own character set: an adopted
  // Unicode window stays Unicode, so its text arrives as it was typed.
  LRESULT CallDefaultProcedure(UINT msg, WPARAM wParam, LPARAM lParam);

  // Frees the owned controls now rather than after this class's destructor.
  void DestroyComponents();

  // What the mouse events raise; the framework's own mouse handling calls them unless
  // csNoStdEvents is set.
  virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseMove(TShiftState shift, int x, int y);
  virtual void Click();
  virtual void DblClick();
  // Ends the capture or menu mode of the form's focused control when it is another one.
  void SendCancelMode();
  // Sends `msg` to every child in turn until one sets a nonzero result.
  LRESULT Broadcast(UINT msg, WPARAM wParam, LPARAM lParam);

  // Lays the children with alClient over the client area, less the border width.
  void AlignControls();
  virtual int ClientInset() const { return 0; }

 private:
  static LRESULT CALLBACK StandardWindowProcedure(HWND window, UINT msg, WPARAM wParam,
                                                  LPARAM lParam);
  void SetRestoredBounds(int left, int top, int width, int height);
  void Bind(HWND window);
  void Unbind();
  void DoKeyDown(TMessage& message);
  void DoKeyPress(TMessage& message);
  void DoKeyUp(TMessage& message);
  void DoContextMenu(TMessage& message);
  void DoDialogKeyRequest(TMessage& message);
  void NotifyChildren(UINT msg);

  TWinControl* owner_;
  std::vector<TWinControl*> owned_;
  TWinControl* parent_ = nullptr;
  std::vector<TWinControl*> controls_;
  std::map<UINT, TMessageHandler> handlers_;
  HWND handle_ = nullptr;
  WNDPROC defWndProc_ = ::DefWindowProcA;
  bool unicode_ = false;  // the window takes wide messages (an adopted Unicode window)
  TAlign align_ = TAlign::alNone;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = true;
  std::string name_;
  TColor color_ = clBtnFace;
  bool parentColor_ = true;
  TFont font_;
  bool parentFont_ = true;
  TPopupMenu* popupMenu_ = nullptr;
  bool designMode_ = false;
  TControlStyle controlStyle_ = csAcceptsControls | csDoubleClicks;
  bool tabStop_ = false;
};

class TForm;

// A form's menu bar: top-level items with a group index, as OLE menu merging sorts them.
class TMainMenu {
 public:
  explicit TMainMenu(TForm* form);
  ~TMainMenu();
  TMainMenu(const TMainMenu&) = delete;
  TMainMenu& operator=(const TMainMenu&) = delete;

  void Add(const std::string& caption, int groupIndex);
  HMENU Handle() const { return menu_; }
  // The form's window, which shows the menu.
  HWND WindowHandle();
  // Copies the items of each group in `groups` to the end of `shared`, in order, and stores
  // how many each gave in `widths[group]` (widths has six entries, as OLEMENUGROUPWIDTHS).
  void PopulateOle2Menu(HMENU shared, const int* groups, int groupCount, LONG* widths);
  // Shows `shared` on the form in place of this menu; 0 puts this menu back.
  void SetOle2MenuHandle(HMENU shared);

 private:
  struct TItem {
    std::string caption;
    int groupIndex;
  };
  TForm* form_;
  HMENU menu_;
  std::vector<TItem> items_;
};

// The application: its title, main form, per-message hook and message loop.
class TApplication {
 public:
  // Called for every message taken from the queue, before it is dispatched; setting `handled`
  // keeps it from being dispatched.
  using TMessageEvent = std::function<void(MSG& msg, bool& handled)>;

  TApplication() = default;
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // OLE for the whole GUI thread (the hosted runtime and the XML DOM need it).
  void Initialize();

  // Creates the form, gives it its window and runs its OnCreate. The first form created is the
  // main form; closing it ends the program. The application owns its forms.
  template <class Form>
  Form* CreateForm() {
    Form* form = new Form(nullptr);
    AddForm(form);
    return form;
  }

  // Shows the main form and runs the message loop until Terminate or the main form's close.
  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }

  // Takes the queued messages, through the hook, until the queue is empty; false once the
  // program is told to end. For tests and modal waits.
  bool ProcessMessages();

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title) { title_ = title; }
  TForm* MainForm() const { return mainForm_; }

  TMessageEvent OnMessage;

 private:
  void AddForm(TForm* form);
  bool ProcessMessage(MSG& msg);
  bool IsKeyMsg(MSG& msg);

  std::string title_;
  TForm* mainForm_ = nullptr;
  std::vector<TForm*> forms_;
  bool terminated_ = false;
  bool oleInitialized_ = false;
};

// The one application object of the program.
extern TApplication* Application;

// A top-level window with a caption, bounds and a window state.
class TForm : public TWinControl {
 public:
  explicit TForm(TWinControl* owner);
  ~TForm() override;

  std::string Caption();
  void SetCaption(const std::string& caption);

  // While the form is shown the state is the window's; before, it is what Show will apply.
  TWindowState WindowState() const { return windowState_; }
  void SetWindowState(TWindowState state);

  // Inset of the aligned children from the client edge.
  int BorderWidth() const { return borderWidth_; }
  void SetBorderWidth(int width);

  void SetVisible(bool visible) override;
  void Show() { SetVisible(true); }
  bool Showing() const { return showing_; }
  // Closing the main form ends the program; another form is hidden.
  void Close();

  // The control of this form whose window (or a window inside it) has the keyboard focus; none
  // when the focus is elsewhere or on the form itself.
  TWinControl* ActiveControl();
  // The OLE control of this form that is UI active, kept by the hosted controls.
  TWinControl* ActiveOleControl = nullptr;
  // Told by a control that took the keyboard focus: the UI-active OLE control, when another,
  // is UI-deactivated, then the control UI-activated.
  void FocusedControlChanged(TWinControl* control);
  // An MDI child form (this framework makes none; the hosted controls ask).
  bool IsMDIChild() const { return false; }
  // The menu bar, or none; not owned.
  TMainMenu* Menu = nullptr;

  TNotifyEvent OnCreate;
  // Runs OnCreate; the application calls it once the form has its window.
  void DoCreate();

 protected:
  void CreateParams(TCreateParams& params) override;
  int ClientInset() const override { return borderWidth_; }

 private:
  std::string caption_;
  bool changingFocus_ = false;
  TWindowState windowState_ = TWindowState::wsNormal;
  int borderWidth_ = 0;
  bool showing_ = false;
};

// The form a control sits on, or none.
TForm* GetParentForm(TWinControl* control);

}  // namespace pageturn
