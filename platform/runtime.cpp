#include "platform/runtime.h"

#include <algorithm>
#include <cassert>

namespace platform {

Runtime& Runtime::Get() {
  static Runtime runtime;
  return runtime;
}

void Runtime::Install(WindowSystem* windows, DesktopServices* desktop,
                      WindowsServices* windowsOnly) {
  windows_ = windows;
  desktop_ = desktop;
  windowsOnly_ = windowsOnly;
}

WindowSystem& Runtime::windowSystem() const {
  assert(windows_ != nullptr && "no backend installed");
  return *windows_;
}

DesktopServices& Runtime::desktop() const {
  assert(desktop_ != nullptr && "no backend installed");
  return *desktop_;
}

int MouseButtons(bool left, bool right, bool middle) {
  return (left ? kLeftButton : 0) | (right ? kRightButton : 0) | (middle ? kMiddleButton : 0);
}

int ShiftState(bool shift, bool ctrl, bool alt) {
  return (shift ? kShiftMask : 0) | (ctrl ? kCtrlMask : 0) | (alt ? kAltMask : 0);
}

void Runtime::Register(Form& form) { forms_.push_back(&form); }

void Runtime::Deregister(Form& form) {
  forms_.erase(std::remove(forms_.begin(), forms_.end(), &form), forms_.end());
}

void Runtime::Load(Form& form) {
  if (form.loaded_) return;
  form.Layout();
  form.loaded_ = true;
  form.ready_ = false;
  form.visible_ = false;
  form.focusBefore_ = 0;
  form.labelsSized_ = false;
  form.hwnd_ = windowSystem().CreateFormWindow(form);
  for (Control* control : form.controls_) {
    if (auto* timer = dynamic_cast<Timer*>(control)) windowSystem().UpdateTimer(form, *timer);
  }
  form.Form_Load();
  // Still loaded: its Form_Load may have unloaded it again.
  if (form.loaded_) form.ready_ = true;
}

void Runtime::Show(Form& form, int modal, Form* owner) {
  Load(form);
  if (!form.loaded_) return;                      // its Form_Load unloaded it again
  if (modal == vbModal && form.visible_) return;  // already up: cannot become modal now
  form.owner_ = owner;
  if (form.TakesKeyboard) form.focusBefore_ = windowSystem().ForegroundWindow();
  windowSystem().ShowFormWindow(form, owner);
  form.visible_ = true;
  if (modal != vbModal) return;
  form.modal_ = true;
  RunModal(form, owner);
  form.modal_ = false;
}

void Runtime::RunModal(Form& form, Form* owner) {
  WindowSystem& windows = windowSystem();
  // Only an owner this loop disabled is enabled again at its end.
  Form* disabled = nullptr;
  if (owner != nullptr && owner->loaded_ && owner->hwnd_ != 0 &&
      windows.FormWindowEnabled(*owner)) {
    windows.EnableFormWindow(*owner, false);
    disabled = owner;
  }
  modals_.push_back(ModalFrame{&form, disabled, disabled != nullptr ? disabled->hwnd_ : 0});
  windows.RunModalLoop(form);
  for (auto it = modals_.rbegin(); it != modals_.rend(); ++it) {
    if (it->form == &form) {
      GiveBackOwner(*it);
      modals_.erase(std::next(it).base());
      break;
    }
  }
}

void Runtime::GiveBackOwner(ModalFrame& frame) {
  Form* owner = frame.owner;
  frame.owner = nullptr;
  if (owner != nullptr && owner->loaded_ && owner->hwnd_ == frame.ownerWindow) {
    windowSystem().EnableFormWindow(*owner, true);
  }
}

void Runtime::Unload(Form& form, int unloadMode) {
  if (!form.loaded_) return;
  int cancel = 0;
  form.Form_QueryUnload(cancel, unloadMode);
  if (cancel != 0 || !form.loaded_) return;
  const bool heldKeyboard = form.hwnd_ != 0 && windowSystem().ForegroundWindow() == form.hwnd_;
  form.loaded_ = false;
  form.ready_ = false;
  form.visible_ = false;
  for (Control* control : form.controls_) {
    if (auto* timer = dynamic_cast<Timer*>(control)) windowSystem().UpdateTimer(form, *timer);
  }
  if (captureForm_ == &form) {
    captureForm_ = nullptr;
    captureLabel_ = nullptr;
    pressedLabel_ = nullptr;
    buttonsDown_ = 0;
  }
  // A modal form gives its owner back before its window goes, so the
  // activation returns to the owner; an owner that never takes the keyboard
  // is given back only after, so the activation passes it by.
  std::vector<ModalFrame> giveBackAfter;
  for (ModalFrame& frame : modals_) {
    if (frame.form != &form || frame.owner == nullptr) continue;
    if (frame.owner->TakesKeyboard) {
      GiveBackOwner(frame);
    } else {
      giveBackAfter.push_back(frame);
      frame.owner = nullptr;
    }
  }
  windowSystem().DestroyFormWindow(form);
  for (ModalFrame& frame : giveBackAfter) GiveBackOwner(frame);
  form.hwnd_ = 0;
  form.owner_ = nullptr;
  // The keyboard goes back where it was before this form came, not to
  // whichever window the system picked when this one went.
  if (heldKeyboard && form.focusBefore_ != 0) {
    windowSystem().SetForegroundWindow(KeyboardTarget(form.focusBefore_));
  }
  if (!AnyFormLoaded()) windowSystem().QuitWhenIdle();
}

// A window to hand the keyboard back to: another program's, or one of ours
// that is still up and takes the keyboard; 0 when there is none.
HWnd Runtime::KeyboardTarget(HWnd hwnd) const {
  for (const Form* other : forms_) {
    if (other->hwnd_ == hwnd) {
      return other->IsShown() && other->TakesKeyboard ? hwnd : 0;
    }
  }
  return hwnd;
}

void Runtime::SizeAutoSizedLabels(Form& form) {
  if (!form.loaded_ || form.labelsSized_) return;
  form.labelsSized_ = true;
  for (Control* control : form.controls_) {
    if (auto* label = dynamic_cast<Label*>(control); label != nullptr && label->AutoSize) {
      if (auto size = windowSystem().MeasureLabel(form, *label)) {
        label->Width = size->first;
        label->Height = size->second;
      }
    }
  }
}

bool Runtime::AnyFormLoaded() const {
  return std::any_of(forms_.begin(), forms_.end(), [](const Form* f) { return f->loaded_; });
}

namespace {

// The topmost visible label under the pointer; later labels lie above.
Label* LabelAt(Form& form, Twips x, Twips y) {
  const auto& controls = form.Controls();
  for (auto it = controls.rbegin(); it != controls.rend(); ++it) {
    auto* label = dynamic_cast<Label*>(*it);
    if (label != nullptr && label->Visible && label->Contains(x, y)) return label;
  }
  return nullptr;
}

void CallMouse(const MouseHandler& handler, const Label& label, int button, int shift, Twips x,
               Twips y) {
  if (handler) handler(button, shift, x - label.Left, y - label.Top);
}

}  // namespace

void Runtime::DeliverMouse(Form& form, MouseAction action, int button, int shift, Twips x,
                           Twips y) {
  if (!form.loaded_) return;
  SizeAutoSizedLabels(form);  // the labels are hit where they are drawn
  // While a button is held, the control that took the press keeps the pointer.
  const bool captured = buttonsDown_ != 0 && captureForm_ == &form;
  Label* target = captured ? captureLabel_ : LabelAt(form, x, y);

  switch (action) {
    case MouseAction::Down:
      if (buttonsDown_ == 0) {
        captureForm_ = &form;
        captureLabel_ = target;
        pressedLabel_ = button == kLeftButton ? target : nullptr;
      }
      buttonsDown_ |= button;
      if (target != nullptr) {
        CallMouse(target->MouseDown, *target, button, shift, x, y);
      } else {
        form.Form_MouseDown(button, shift, x, y);
      }
      break;
    case MouseAction::Move:
      if (target != nullptr) {
        CallMouse(target->MouseMove, *target, button, shift, x, y);
      } else {
        form.Form_MouseMove(button, shift, x, y);
      }
      break;
    case MouseAction::Up: {
      buttonsDown_ &= ~button;
      Label* pressed = pressedLabel_;
      if (buttonsDown_ == 0) {
        captureForm_ = nullptr;
        captureLabel_ = nullptr;
        pressedLabel_ = nullptr;
      }
      // A click is a left press and release on the same label.
      if (button == kLeftButton && pressed != nullptr && pressed == LabelAt(form, x, y) &&
          pressed->Click) {
        pressed->Click();
      }
      break;
    }
    case MouseAction::DblClick:
      if (target == nullptr) form.Form_DblClick();
      break;
  }
}

void Runtime::DeliverCaptureLost(Form& form, int heldButtons) {
  for (int button : {kLeftButton, kRightButton, kMiddleButton}) {
    if ((heldButtons & button) != 0) DeliverMouse(form, MouseAction::Up, button, 0, -1.0F, -1.0F);
  }
}

void Runtime::DeliverKey(Form& form, int keyCode, int shift) {
  if (!form.loaded_ || !form.ready_) return;
  for (const Control* control : form.controls_) {
    if (const auto* dialog = dynamic_cast<const CommonDialog*>(control);
        dialog != nullptr && dialog->IsOpen()) {
      return;
    }
  }
  form.Form_KeyDown(keyCode, shift);
}

void Runtime::DeliverClose(Form& form) { Unload(form, vbFormControlMenu); }

void Runtime::DeliverEndRequest() {
  if (endRequest_) {
    endRequest_();
    return;
  }
  for (Form* form : forms_) {
    if (form->loaded_) Unload(*form, vbFormControlMenu);
  }
}

void Runtime::DeliverTimer(Form& form, Timer& timer) {
  if (form.loaded_ && form.ready_ && timer.Enabled && timer.OnTimer) timer.OnTimer();
}

void Runtime::ResetForTests() {
  for (Form* form : forms_) {
    form->loaded_ = false;
    form->ready_ = false;
    form->visible_ = false;
    form->focusBefore_ = 0;
    form->labelsSized_ = false;
    form->modal_ = false;
    form->hwnd_ = 0;
    form->owner_ = nullptr;
  }
  captureForm_ = nullptr;
  captureLabel_ = nullptr;
  pressedLabel_ = nullptr;
  buttonsDown_ = 0;
  modals_.clear();
  endRequest_ = nullptr;
}

}  // namespace platform
