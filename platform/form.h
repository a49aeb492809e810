// The form model: forms own windowless labels and lines and invisible timers.
// The forms of the program derive from Form, lay out their controls in
// Layout() and implement the event procedures they need. A backend creates
// the native window, paints the model and feeds input and timer ticks back
// through the Runtime.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace platform {

class Form;

// Anything whose properties, when changed, may need a repaint or a re-arm.
class PropertyOwner {
 public:
  virtual void BeforeChange() {}
  virtual void AfterChange() {}

 protected:
  ~PropertyOwner() = default;
};

// A property that reads like a plain field (`Ly.X1 = X;`) and tells its owner
// about a real change, so that the backend repaints just that control.
template <class T>
class Property {
 public:
  Property(PropertyOwner& owner, T value) : owner_(owner), value_(value) {}
  Property(const Property&) = delete;

  operator T() const { return value_; }  // NOLINT(google-explicit-constructor)
  T get() const { return value_; }

  Property& operator=(T value) {
    if (!(value == value_)) {
      owner_.BeforeChange();
      value_ = value;
      owner_.AfterChange();
    }
    return *this;
  }
  Property& operator=(const Property& other) { return *this = other.get(); }
  template <class U>
  Property& operator=(const Property<U>& other) {
    return *this = static_cast<T>(other.get());
  }

 private:
  PropertyOwner& owner_;
  T value_;
};

struct Font {
  std::string Name;   // face name as laid out, e.g. "宋体"
  float Size = 9.0F;  // points
  bool Bold = false;
  bool Italic = false;
  int Charset = 1;  // 134 = GB2312, 1 = default
};

// The font a label gets when none is laid out: the desktop's dialog font.
Font DefaultDialogFont();

class Control : public PropertyOwner {
 public:
  Control(Form& form, std::string name);
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const std::string& Name() const { return name_; }
  Form& Parent() const { return form_; }

  void BeforeChange() override;
  void AfterChange() override;

 private:
  Form& form_;
  std::string name_;
};

enum class BackStyle { Transparent = 0, Opaque = 1 };
enum class Alignment { Left = 0, Right = 1, Center = 2 };

using MouseHandler = std::function<void(int Button, int Shift, float X, float Y)>;

class Label : public Control {
 public:
  Label(Form& form, std::string name);

  Property<std::string> Caption{*this, ""};
  Property<Twips> Left{*this, 0};
  Property<Twips> Top{*this, 0};
  Property<Twips> Width{*this, 0};
  Property<Twips> Height{*this, 0};
  Property<Colour> BackColor{*this, 0x00FFFFFF};
  Property<Colour> ForeColor{*this, 0};
  Property<bool> Visible{*this, true};

  // Design-time only: set in the form's Layout().
  BackStyle backStyle = BackStyle::Transparent;
  bool FixedSingleBorder = false;
  Alignment alignment = Alignment::Left;
  bool AutoSize = false;
  Font font = DefaultDialogFont();

  // Events; a form wires the ones it handles.
  std::function<void()> Click;
  MouseHandler MouseDown;
  MouseHandler MouseMove;

  bool Contains(Twips x, Twips y) const;
};

class Line : public Control {
 public:
  Line(Form& form, std::string name);

  Property<Twips> X1{*this, 0};
  Property<Twips> Y1{*this, 0};
  Property<Twips> X2{*this, 0};
  Property<Twips> Y2{*this, 0};
  Property<Colour> BorderColor{*this, 0};
  int BorderWidth = 1;  // pixels, design-time
};

class Timer : public Control {
 public:
  Timer(Form& form, std::string name);

  Property<int> Interval{*this, 0};  // milliseconds
  Property<bool> Enabled{*this, true};

  std::function<void()> OnTimer;

  // A change of Enabled or Interval re-arms the timer from now.
  void AfterChange() override;
};

enum class BorderStyle { None = 0, FixedSingle = 1, Sizable = 2, FixedDialog = 3 };
enum class WindowState { Normal = 0, Minimized = 1, Maximized = 2 };
enum class StartUpPosition { Manual = 0, CenterOwner = 1, CenterScreen = 2 };

constexpr int vbModeless = 0;
constexpr int vbModal = 1;

// Key codes as Form_KeyDown receives them: the Windows virtual-key codes.
constexpr int vbKeyEscape = 0x1B;
constexpr int vbKeyPageUp = 0x21;
constexpr int vbKeyPageDown = 0x22;
constexpr int vbKeyEnd = 0x23;
constexpr int vbKeyHome = 0x24;
constexpr int vbKeyLeft = 0x25;
constexpr int vbKeyUp = 0x26;
constexpr int vbKeyRight = 0x27;
constexpr int vbKeyDown = 0x28;

// Why a form unloads, as Form_QueryUnload receives it.
constexpr int vbFormControlMenu = 0;  // closed from the window (Alt+F4)
constexpr int vbFormCode = 1;         // Unload called by the program

class Form : public PropertyOwner {
 public:
  explicit Form(std::string name);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  const std::string& Name() const { return name_; }

  // Design-time properties, set by Layout() before the window exists.
  std::string Caption;
  BorderStyle borderStyle = BorderStyle::Sizable;
  WindowState windowState = WindowState::Normal;
  Twips ClientWidth = 0;
  Twips ClientHeight = 0;
  bool ShowInTaskbar = true;
  StartUpPosition startUpPosition = StartUpPosition::Manual;
  int IconResource = 0;  // 0: no icon
  // A maximised form with this covers every monitor of the desk at once
  // and follows them as they come, go and move; a form centred over it
  // opens on the monitor that holds the pointer.
  bool SpansAllMonitors = false;
  // False for a window that never needs the keyboard: it is never made the
  // active window, neither when shown nor when another window goes.
  bool TakesKeyboard = true;

  Property<Colour> BackColor{*this, 0x00F0F0F0};

  // Run-time interface. Touching hWnd or Visible loads the form first.
  HWnd hWnd();
  bool Visible();
  void Show(int modal = vbModeless, Form* owner = nullptr);
  bool IsLoaded() const { return loaded_; }
  // The window handle as it stands, 0 when not loaded; never loads the form.
  // Backends use this one.
  HWnd Handle() const { return hwnd_; }
  // Loaded and shown; unlike Visible() this never loads the form.
  bool IsShown() const { return loaded_ && visible_; }
  // Loaded, and its Form_Load has returned: only then do its timers tick.
  bool IsReady() const { return loaded_ && ready_; }

  const std::vector<Control*>& Controls() const { return controls_; }

  void AfterChange() override;

  // Event procedures, called by the runtime.
  virtual void Form_Load() {}
  virtual void Form_QueryUnload(int& Cancel, int UnloadMode) {
    (void)Cancel;
    (void)UnloadMode;
  }
  virtual void Form_MouseDown(int Button, int Shift, float X, float Y) {
    (void)Button, (void)Shift, (void)X, (void)Y;
  }
  virtual void Form_MouseMove(int Button, int Shift, float X, float Y) {
    (void)Button, (void)Shift, (void)X, (void)Y;
  }
  virtual void Form_DblClick() {}
  // A key went down, or repeats while held, with the form's window holding
  // the keyboard.
  virtual void Form_KeyDown(int KeyCode, int Shift) {
    (void)KeyCode;
    (void)Shift;
  }

 protected:
  // Puts the form and every control back to its design-time values; runs at
  // every load, so a reloaded form starts afresh.
  virtual void Layout() = 0;

 private:
  friend class Control;
  friend class Runtime;

  std::string name_;
  std::vector<Control*> controls_;
  bool loaded_ = false;
  bool ready_ = false;
  bool visible_ = false;
  bool modal_ = false;
  HWnd hwnd_ = 0;
  Form* owner_ = nullptr;
  // The window that had the keyboard when this form was shown; it gets it
  // back when this form goes while holding it.
  HWnd focusBefore_ = 0;
  // Its auto-sized labels have taken their captions' size since its load.
  bool labelsSized_ = false;
};

// The colour dialog control: `Color` starts at 0 with every load of its form
// and afterwards holds the colour last confirmed in the dialog.
class CommonDialog : public Control {
 public:
  CommonDialog(Form& form, std::string name);

  Property<Colour> Color{*this, 0};

  // Shows the system colour dialog modally over the form. True when the user
  // confirmed a colour (now in Color); false when cancelled or when the
  // dialog could not be shown, leaving Color as it was.
  bool ShowColor();
  // The dialog is up: its form takes no keys meanwhile.
  bool IsOpen() const { return open_; }

 private:
  bool open_ = false;
};

// Unloads a form: Form_QueryUnload, then the window goes.
void Unload(Form& form);

}  // namespace platform
