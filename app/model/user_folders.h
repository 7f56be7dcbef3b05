#pragma once
// The user's own folders as this platform names them: temporary files, data, and the private
// runtime folder of the single-instance socket, the panel owner lock and kuvlcd's panel paths.
// The comments give Linux's folders; on Windows they are the temporary folder (GetTempPathW),
// %APPDATA% for data and %LOCALAPPDATA%\TAVIO\KuvLcdManager as the runtime folder.

#include <optional>
#include <string>

namespace kuv {

// The temporary folder with a trailing "/": $TMPDIR when it is an absolute path, else /tmp.
std::string TemporaryFolder();

// The base of the user's data files: $XDG_DATA_HOME when it is an absolute path, else
// ~/.local/share. The program's own data folder is TAVIO/KuvLcdManager below it.
std::string UserDataHome();

// The user's private runtime folder, without a trailing "/": $XDG_RUNTIME_DIR when it is a folder
// of the user's own that nobody else may enter; otherwise the folder TAVIO/KuvLcdManager/run-<host>
// in the user's cache folder ($XDG_CACHE_HOME or ~/.cache), created with mode 0700 and checked to
// be the user's own, not a link and closed to others. Never a name other users could take first.
// nullopt with error set when neither can be had.
std::optional<std::string> UserRuntimeFolder(std::string& error);

// The name the user logged in with; empty when the system does not tell it.
std::string LoginName();

// Makes the missing folders of an absolute path, as `mkdir -p` does, each private to the user.
void MakePrivateFolders(const std::string& path);

}  // namespace kuv
