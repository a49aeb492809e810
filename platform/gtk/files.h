// The files the native program keeps of its own: where they go, and how
// one is written so that a reader never sees half of it.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace platform::gtk::files {

// Only what is safe in one path component: letters, digits, '.', '-' and
// bytes above ASCII (a title in Chinese); anything else becomes '_'.
std::string SafeName(std::string_view text);

// A file of this user's that lives as long as the session: in the user's
// runtime folder, else in the temporary folder every user shares, with
// the user's id in its name to keep the users apart.
std::string PrivatePath(std::string_view stem, std::string_view suffix);

enum class Replace { Yes, No };

// Writes `bytes` to `partial`, flushed to disk, then puts it at `path`:
// renamed over what is there (Replace::Yes), or linked only where nothing
// is (Replace::No). Never through a symbolic link at `partial`; nothing is
// left at `partial` either way.
bool WriteWhole(const std::string& path, const std::string& partial, std::string_view bytes,
                mode_t mode, Replace replace);

}  // namespace platform::gtk::files
