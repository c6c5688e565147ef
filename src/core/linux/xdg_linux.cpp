#include "core/linux/xdg_linux.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tarvik::lnx {
namespace {

constexpr mode_t kPrivateFolder = 0700;
constexpr std::size_t kPasswdBufferBytes = 16 * 1024;

bool IsAbsolute(std::string_view path) { return !path.empty() && path.front() == '/'; }

// "/a/b//" -> "/a/b"; "/" stays.
std::string_view WithoutTrailingSlashes(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return path;
}

std::string_view Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string_view(v) : std::string_view();
}

std::string HomeFolder() {
  if (IsAbsolute(Env("HOME"))) return std::string(Env("HOME"));
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(kPasswdBufferBytes);
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
    return found->pw_dir;
  return {};
}

}  // namespace

std::string ProgramFolder(BaseDir base, std::string_view xdgValue, std::string_view home) {
  std::string folder;
  if (IsAbsolute(xdgValue)) {
    folder = WithoutTrailingSlashes(xdgValue);
  } else if (IsAbsolute(home)) {
    folder = WithoutTrailingSlashes(home);
    folder += base == BaseDir::Config ? "/.config" : "/.local/state";
  } else {
    return {};
  }
  if (folder != "/") folder += '/';
  return folder + std::string(kProgramFolder);
}

std::string ProgramFolder(BaseDir base) {
  return ProgramFolder(base, Env(base == BaseDir::Config ? "XDG_CONFIG_HOME" : "XDG_STATE_HOME"),
                       HomeFolder());
}

RuntimePlace ChooseRuntimePlace(std::string_view xdgRuntimeDir, std::string_view fallback, unsigned uid) {
  if (IsAbsolute(xdgRuntimeDir)) return {std::string(WithoutTrailingSlashes(xdgRuntimeDir)), ""};
  // A folder every user shares: the names carry the user's number.
  return {std::string(WithoutTrailingSlashes(fallback)),
          std::string(kProgramFolder) + "-" + std::to_string(uid) + "-"};
}

RuntimePlace RuntimePlaceFromEnvironment() {
  const std::string_view tmp = IsAbsolute(Env("TMPDIR")) ? Env("TMPDIR") : std::string_view("/tmp");
  return ChooseRuntimePlace(Env("XDG_RUNTIME_DIR"), tmp, getuid());
}

bool MakeFolders(const std::string& path) {
  auto isFolder = [](const std::string& p) {
    struct stat s {};
    return stat(p.c_str(), &s) == 0 && S_ISDIR(s.st_mode);
  };
  if (path.empty()) return false;
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    // A folder above ours may exist where we may not create anything.
    if (mkdir(part.c_str(), kPrivateFolder) != 0 && errno != EEXIST && !isFolder(part)) return false;
    if (slash == std::string::npos) break;
  }
  return isFolder(path);
}

std::string DescribeErrno(std::string_view attempted, int error) {
  return std::string(attempted) + ": " + std::strerror(error) + " (errno " + std::to_string(error) + ")";
}

}  // namespace tarvik::lnx
