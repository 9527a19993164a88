// Which refusal each kind of configuration file gets. Python sees only that
// no token came back; the launcher reports the reason, so each case is
// checked here for the exact refusal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "config_file_rules.hpp"

namespace {

using kestrune::ConfigRefusal;
using kestrune::check_config_file;

class ConfigFileRules : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = ::testing::TempDir() + "kestrune-config-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        ASSERT_EQ(chmod(folder_.c_str(), 0700), 0);
    }

    void TearDown() override
    {
        const std::string command = "rm -rf '" + folder_ + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }

    std::string path(std::string_view name) const { return folder_ + "/" + std::string(name); }

    // A regular file of `size` bytes with `mode`; its path.
    std::string file(std::string_view name, off_t size, mode_t mode = 0600) const
    {
        const std::string p = path(name);
        const int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(ftruncate(fd, size), 0);
        EXPECT_EQ(fchmod(fd, mode), 0);
        close(fd);
        return p;
    }

    std::string folder_;
};

TEST_F(ConfigFileRules, FileKindAndSize)
{
    EXPECT_EQ(check_config_file(file("config.json", 20).c_str()), ConfigRefusal::none);
    EXPECT_EQ(check_config_file(file("limit.json", kestrune::config_file_max_size).c_str()), ConfigRefusal::none);
    EXPECT_EQ(check_config_file(file("big.json", kestrune::config_file_max_size + 1).c_str()),
              ConfigRefusal::too_large);
    EXPECT_EQ(check_config_file(path("absent.json").c_str()), ConfigRefusal::missing);
    EXPECT_EQ(check_config_file(path("config.json/x").c_str()), ConfigRefusal::missing);
    EXPECT_EQ(check_config_file(folder_.c_str()), ConfigRefusal::not_regular_file);

    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(check_config_file(path("fifo").c_str()), ConfigRefusal::not_regular_file);
    ASSERT_EQ(symlink("/dev/zero", path("zero").c_str()), 0);
    EXPECT_EQ(check_config_file(path("zero").c_str()), ConfigRefusal::not_regular_file);
    // The file is judged after symlinks.
    ASSERT_EQ(symlink(path("config.json").c_str(), path("link.json").c_str()), 0);
    EXPECT_EQ(check_config_file(path("link.json").c_str()), ConfigRefusal::none);
    ASSERT_EQ(symlink(path("absent.json").c_str(), path("dangling.json").c_str()), 0);
    EXPECT_EQ(check_config_file(path("dangling.json").c_str()), ConfigRefusal::missing);
}

TEST_F(ConfigFileRules, RelativeOrNoPath)
{
    EXPECT_EQ(check_config_file(nullptr), ConfigRefusal::relative_path);
    EXPECT_EQ(check_config_file(""), ConfigRefusal::relative_path);
    EXPECT_EQ(check_config_file(".kestrune/config.json"), ConfigRefusal::relative_path);
    EXPECT_EQ(check_config_file("~/.kestrune/config.json"), ConfigRefusal::relative_path);
}

TEST_F(ConfigFileRules, ModesOfFileAndFolder)
{
    const std::string config = file("config.json", 20, 0660);
    EXPECT_EQ(check_config_file(config.c_str()), ConfigRefusal::none);  // group-writable is fine
    ASSERT_EQ(chmod(config.c_str(), 0602), 0);
    EXPECT_EQ(check_config_file(config.c_str()), ConfigRefusal::unsafe_mode);
    ASSERT_EQ(chmod(config.c_str(), 0600), 0);

    ASSERT_EQ(chmod(folder_.c_str(), 0770), 0);
    EXPECT_EQ(check_config_file(config.c_str()), ConfigRefusal::none);
    ASSERT_EQ(chmod(folder_.c_str(), 01777), 0);  // sticky does not help
    EXPECT_EQ(check_config_file(config.c_str()), ConfigRefusal::unsafe_folder_mode);
    ASSERT_EQ(chmod(folder_.c_str(), 0700), 0);
}

TEST_F(ConfigFileRules, OwnersOfFileAndFolder)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to give files to another user";
    }
    constexpr uid_t other = 65534;  // nobody
    const std::string config = file("config.json", 20);
    ASSERT_EQ(chown(config.c_str(), other, static_cast<gid_t>(-1)), 0);
    EXPECT_EQ(check_config_file(config.c_str()), ConfigRefusal::unsafe_owner);
    ASSERT_EQ(chown(config.c_str(), 0, static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(chown(folder_.c_str(), other, static_cast<gid_t>(-1)), 0);
    EXPECT_EQ(check_config_file(config.c_str()), ConfigRefusal::unsafe_folder_owner);
    ASSERT_EQ(chown(folder_.c_str(), 0, static_cast<gid_t>(-1)), 0);
}

TEST(ConfigRefusalReasons, EachReasonIsDistinct)
{
    std::set<std::string_view> reasons;
    for (int i = 0; i <= static_cast<int>(ConfigRefusal::unsafe_folder_mode); ++i) {
        const std::string_view reason = kestrune::describe(static_cast<ConfigRefusal>(i));
        EXPECT_FALSE(reason.empty());
        EXPECT_TRUE(reasons.insert(reason).second) << reason;
    }
    EXPECT_EQ(std::string_view(kestrune::describe(ConfigRefusal::missing)), "no such file");
    EXPECT_EQ(std::string_view(kestrune::describe(ConfigRefusal::unsafe_mode)), "writable by others");
}

} // namespace
