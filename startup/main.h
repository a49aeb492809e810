// Start-up: make sure the embedded components are in place, then show the
// splash, which brings up the overlay.
#pragma once

#include <string>

namespace mdluser {

// The program's first code: installs the components, shows the splash and
// returns; the message loop carries on from there.
void Main();

// Writes the executable's resource `name` of type `ext` to
// <Windows>\system32\<name>.<ext> when no such file exists yet, then has
// regsvr32 register it silently, whether or not it was written.
void InstallComponent(const std::string& name, const std::string& ext);

}  // namespace mdluser
