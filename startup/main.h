// Start-up: make sure the embedded components are in place, beside the
// splash, which brings up the overlay.
#pragma once

#include <string>

namespace mdluser {

// The program's first code: starts installing the components beside the
// user-interface thread, shows the splash and returns; the message loop
// carries on from there, and the program does not end before the
// components' step has. Where the system has no Windows services there is
// no such step.
void Main();

// Writes the executable's resource `name` of type `ext` to
// <system folder>\<name>.<ext> when no such file exists yet, never over
// one, then has regsvr32 register it silently, whether or not it was
// written. Does nothing where no system folder can be told.
void InstallComponent(const std::string& name, const std::string& ext);

// Beside its target, the name a component is written under before it is
// renamed into place.
inline constexpr const char* kPartialSuffix = ".partial";

}  // namespace mdluser
