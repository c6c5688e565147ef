#include "core/linux/xdg_linux.h"

#include <gtest/gtest.h>

namespace tarvik::lnx {
namespace {

struct FolderCase {
  BaseDir base;
  std::string xdg, home, expected;
};

TEST(XdgPaths, ProgramFolderFollowsTheVariableOrHome) {
  const FolderCase cases[] = {
      {BaseDir::Config, "", "/home/anna", "/home/anna/.config/tarvik"},
      {BaseDir::State, "", "/home/anna", "/home/anna/.local/state/tarvik"},
      {BaseDir::Config, "/srv/cfg", "/home/anna", "/srv/cfg/tarvik"},
      {BaseDir::State, "/var/st//", "/home/anna", "/var/st/tarvik"},
      {BaseDir::Config, "relative/cfg", "/home/anna/", "/home/anna/.config/tarvik"},  // ignored, as the rules say
      {BaseDir::Config, "/", "/home/anna", "/tarvik"},
      {BaseDir::Config, "", "", ""},
      {BaseDir::State, "", "not/absolute", ""},
  };
  for (const FolderCase& c : cases)
    EXPECT_EQ(ProgramFolder(c.base, c.xdg, c.home), c.expected) << "'" << c.xdg << "' '" << c.home << "'";
}

TEST(XdgPaths, RuntimePlaceIsTheUsersOwnOrNamedForTheUser) {
  EXPECT_EQ(ChooseRuntimePlace("/run/user/1000/", "/tmp", 1000), (RuntimePlace{"/run/user/1000", ""}));
  EXPECT_EQ(ChooseRuntimePlace("", "/tmp", 1000), (RuntimePlace{"/tmp", "tarvik-1000-"}));
  EXPECT_EQ(ChooseRuntimePlace("run/user", "/var/tmp", 7), (RuntimePlace{"/var/tmp", "tarvik-7-"}));
}

}  // namespace
}  // namespace tarvik::lnx
