#include "settings/linux/settings_store_linux.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace tarvik::lnx {
namespace {

namespace fs = std::filesystem;

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tarvik-store-" + std::to_string(getpid()));
    fs::remove_all(root_);
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path root_;
};

TEST_F(SettingsStoreTest, WritesTheBytesIntoAFolderItMakesAndLeavesNoTemporaryFile) {
  LinuxSettingsStore store((root_ / "a" / "tarvik").string());
  EXPECT_FALSE(store.Exists());
  const std::string first = "1\r\n0\r\n\"x\"\r\n", second = "0\r\n";
  ASSERT_TRUE(store.Write(first));
  chmod(store.Describe().c_str(), 0600);
  ASSERT_TRUE(store.Write(second));
  EXPECT_TRUE(store.Exists());
  EXPECT_EQ(store.Read(), second);
  struct stat s {};
  ASSERT_EQ(stat(store.Describe().c_str(), &s), 0);
  EXPECT_EQ(s.st_mode & 0777, 0600u);  // the new file keeps the old one's permissions
  EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "a" / "tarvik"), fs::directory_iterator()), 1);
  // A settings file that links elsewhere (a dotfiles folder) stays a link.
  fs::rename(store.Describe(), root_ / "kept.ini");
  fs::create_symlink(root_ / "kept.ini", store.Describe());
  ASSERT_TRUE(store.Write(first));
  EXPECT_TRUE(fs::is_symlink(store.Describe()));
  EXPECT_EQ(store.Read(), first);
}

TEST_F(SettingsStoreTest, AFailedWriteSaysWhatAndWhy) {
  fs::create_directories(root_);
  std::ofstream(root_ / "blocked") << "a file where the folder should be";
  LinuxSettingsStore store((root_ / "blocked").string());
  EXPECT_FALSE(store.Write("1\r\n"));
  EXPECT_NE(store.LastError().find((root_ / "blocked" / "pelrin.ini").string()), std::string::npos);
  EXPECT_NE(store.LastError().find("Not a directory"), std::string::npos) << store.LastError();
  EXPECT_FALSE(store.Exists());
}

}  // namespace
}  // namespace tarvik::lnx
