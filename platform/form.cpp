#include "platform/form.h"

#include "platform/runtime.h"

namespace platform {

Font DefaultDialogFont() { return Font{"MS Shell Dlg", 9.0F, false, false, 1}; }

Control::Control(Form& form, std::string name) : form_(form), name_(std::move(name)) {
  form_.controls_.push_back(this);
}

// A visual change repaints the control's old and new place, and only that.
void Control::BeforeChange() {
  if (form_.IsLoaded()) Runtime::Get().windowSystem().Invalidate(form_, *this);
}
void Control::AfterChange() {
  if (form_.IsLoaded()) Runtime::Get().windowSystem().Invalidate(form_, *this);
}

Label::Label(Form& form, std::string name) : Control(form, std::move(name)) {}

bool Label::Contains(Twips x, Twips y) const {
  return x >= Left && x < Left + Width && y >= Top && y < Top + Height;
}

Line::Line(Form& form, std::string name) : Control(form, std::move(name)) {}

Timer::Timer(Form& form, std::string name) : Control(form, std::move(name)) {}

void Timer::AfterChange() {
  if (Parent().IsLoaded()) Runtime::Get().windowSystem().UpdateTimer(Parent(), *this);
}

CommonDialog::CommonDialog(Form& form, std::string name) : Control(form, std::move(name)) {}

bool CommonDialog::ShowColor() {
  Colour chosen = Color;
  open_ = true;
  // Closed again however the dialog's loop is left.
  const struct Closer {
    bool& open;
    ~Closer() { open = false; }
  } closer{open_};
  if (!Runtime::Get().desktop().ShowColorDialog(Parent(), chosen)) return false;
  Color = chosen;
  return true;
}

Form::Form(std::string name) : name_(std::move(name)) { Runtime::Get().Register(*this); }

Form::~Form() { Runtime::Get().Deregister(*this); }

HWnd Form::hWnd() {
  Runtime::Get().Load(*this);
  return hwnd_;
}

bool Form::Visible() {
  Runtime::Get().Load(*this);
  return visible_;
}

void Form::Show(int modal, Form* owner) { Runtime::Get().Show(*this, modal, owner); }

void Form::AfterChange() {
  // BackColor is the form's one property.
  if (loaded_) Runtime::Get().windowSystem().BackColorChanged(*this);
}

void Unload(Form& form) { Runtime::Get().Unload(form, vbFormCode); }

}  // namespace platform
