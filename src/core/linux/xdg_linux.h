// Where the program keeps its files on Linux, by the XDG base directory
// rules: settings under $XDG_CONFIG_HOME (default ~/.config), the log under
// $XDG_STATE_HOME (default ~/.local/state), each in a folder "tarvik"; the
// single-instance lock and socket in $XDG_RUNTIME_DIR. A value that is not
// an absolute path is ignored, as the rules say.
#pragma once
#include <string>
#include <string_view>

namespace tarvik::lnx {

enum class BaseDir { Config, State };

inline constexpr std::string_view kProgramFolder = "tarvik";

// The program's folder under a base directory. `xdgValue`: the variable's
// value (empty when unset); `home`: the home folder. Empty when neither is
// an absolute path.
std::string ProgramFolder(BaseDir base, std::string_view xdgValue, std::string_view home);
// The same from the environment: HOME, else the user's home in the password database.
std::string ProgramFolder(BaseDir base);

// The folder for per-user sockets and locks: $XDG_RUNTIME_DIR, or `fallback`
// (the system's temporary folder) where it is unset.
struct RuntimePlace {
  std::string folder;
  std::string prefix;  // before the file names: "" in the user's own folder, "tarvik-<uid>-" in a shared one
  bool operator==(const RuntimePlace&) const = default;
};
RuntimePlace ChooseRuntimePlace(std::string_view xdgRuntimeDir, std::string_view fallback, unsigned uid);
RuntimePlace RuntimePlaceFromEnvironment();

// Makes a folder and the folders above it, each new one private to the user
// (0700). True when it exists afterwards.
bool MakeFolders(const std::string& path);

// "what was attempted: the system's words (errno N)".
std::string DescribeErrno(std::string_view attempted, int error);

}  // namespace tarvik::lnx
