// The portable half of the runtime: form lifetime (load on touch, Show,
// Unload, the end of the process) and the routing of input and timer ticks
// from the backend to the forms' event procedures.
#pragma once

#include <cstddef>
#include <functional>
#include <type_traits>
#include <vector>

#include "platform/desktop_services.h"
#include "platform/form.h"
#include "platform/window_system.h"
#include "platform/windows_services.h"

namespace platform {

enum class MouseAction { Down, Up, Move, DblClick };

// The buttons and the shift state as the form events receive them, from
// what a backend read off its native event.
int MouseButtons(bool left, bool right, bool middle);
int ShiftState(bool shift, bool ctrl, bool alt);

class Runtime {
 public:
  static Runtime& Get();

  // The backend, by its roles. The Windows-only services may be absent
  // (null): then start-up has no components to install.
  void Install(WindowSystem* windows, DesktopServices* desktop, WindowsServices* windowsOnly);
  // A backend that plays every role it derives from.
  template <class B>
  void Install(B* backend) {
    WindowsServices* windowsOnly = nullptr;
    if constexpr (std::is_base_of_v<WindowsServices, B>) windowsOnly = backend;
    Install(backend, backend, windowsOnly);
  }
  void Install(std::nullptr_t) { Install(nullptr, nullptr, nullptr); }
  WindowSystem& windowSystem() const;
  DesktopServices& desktop() const;
  WindowsServices* windowsServices() const { return windowsOnly_; }

  // Form lifetime.
  void Load(Form& form);
  void Show(Form& form, int modal, Form* owner);
  void Unload(Form& form, int unloadMode);
  bool AnyFormLoaded() const;
  const std::vector<Form*>& Forms() const { return forms_; }

  // Input from the backend, in twips of the form's client area. For Down and
  // Up, `button` is the button that changed; for Move, the buttons held.
  // Pointer events over a visible label go to that label, the rest to the
  // form; a press captures the pointer for its target until release.
  void DeliverMouse(Form& form, MouseAction action, int button, int shift, Twips x, Twips y);
  // Someone else took the pointer while `heldButtons` were down on the
  // form's window: each press ends with a release away from every label,
  // so none of them makes a click.
  void DeliverCaptureLost(Form& form, int heldButtons);
  // A key goes down, or repeats, while the form's window has the keyboard;
  // `keyCode` is a Windows virtual-key code. Dropped while the form is
  // still loading or one of its dialogs is up (the dialog has the keys).
  void DeliverKey(Form& form, int keyCode, int shift);
  // The user closes the window from its frame or keyboard (Alt+F4, the
  // window manager's close button): the form unloads as from its control
  // menu.
  void DeliverClose(Form& form);
  // The program is asked to stop from outside (a close message such as
  // taskkill without /F sends, the session ending, a signal): the
  // end-request handler runs, or without one every form is unloaded.
  void DeliverEndRequest();
  void SetEndRequestHandler(std::function<void()> handler) { endRequest_ = std::move(handler); }
  // A timer ticks only for a form whose Form_Load has returned: a form
  // that is still loading (its Form_Load waiting in a message box) does
  // nothing behind the user's back.
  void DeliverTimer(Form& form, Timer& timer);

  // Gives the form's auto-sized labels the size their captions take in their
  // fonts, once per load: backends call it before they first paint the
  // form, and the runtime before pointer input reaches it. Not at the load:
  // no font is loaded while windows shown before this one still wait for
  // their first frame (the splash's captions are measured once the tint is
  // up). Until then the labels keep their laid-out size.
  void SizeAutoSizedLabels(Form& form);

  // Forgets every loaded form without running events: for tests only, after
  // their program has ended.
  void ResetForTests();

 private:
  friend class Form;
  friend class Control;
  void Register(Form& form);
  void Deregister(Form& form);
  HWnd KeyboardTarget(HWnd hwnd) const;
  // Modal forms still in their loop, innermost last, each with the owner
  // its loop disabled (null when it disabled none).
  struct ModalFrame {
    Form* form;
    Form* owner;
    HWnd ownerWindow;  // the owner's window then: only that one is enabled again
  };
  // Shows `form` modally over `owner`, which takes no input meanwhile.
  void RunModal(Form& form, Form* owner);
  void GiveBackOwner(ModalFrame& frame);

  WindowSystem* windows_ = nullptr;
  DesktopServices* desktop_ = nullptr;
  WindowsServices* windowsOnly_ = nullptr;
  std::vector<Form*> forms_;
  std::vector<ModalFrame> modals_;
  std::function<void()> endRequest_;
  // Pointer capture: the label (or the form, when null) that took the press.
  Form* captureForm_ = nullptr;
  Label* captureLabel_ = nullptr;
  int buttonsDown_ = 0;
  Label* pressedLabel_ = nullptr;
};

}  // namespace platform
