// Writing a file from many pieces: everything goes out in order, in calls of bounded size, and a
// failed write is reported.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

#include <string>
#include <vector>

#include "platform/linux/file_io.h"
#include "tests/test_support.h"

namespace {

TEST(WritePieces, WritesManyPiecesAndHugeOnesInOrderAcrossBatches) {
  // Tiny pieces, more than one batch holds, and a piece larger than one call may carry, so that
  // batches end inside a piece and the next one must start where the last stopped.
  std::vector<std::string> storage;
  for (int i = 0; i < 300; ++i) storage.push_back(std::to_string(i) + ",");
  storage.push_back(std::string(3 << 20, 'x'));
  storage.push_back("tail");
  std::vector<std::string_view> pieces(storage.begin(), storage.end());
  std::string expected;
  for (const std::string& piece : storage) expected += piece;

  const test_support::ScratchFolder folder;
  const std::string path = folder.path + "/out";
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(platform::WritePieces(fd, pieces), 0);
  close(fd);
  const std::string written = test_support::ReadFile(path);
  EXPECT_TRUE(written == expected) << written.size() << " bytes written of " << expected.size();
}

TEST(WritePieces, ReportsTheFailureOfAWrite) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);  // nobody reads: the write fails with EPIPE
  signal(SIGPIPE, SIG_IGN);
  EXPECT_EQ(platform::WritePieces(ends[1], {"data"}), EPIPE);
  close(ends[1]);
}

TEST(HoldsExactly, TakesOnlyTheWholePiecesInOrderHoweverTheyAreCut) {
  const test_support::ScratchFolder folder;
  const std::string path = folder.path + "/file";
  const std::string big(200000, 'b');  // more than one read
  test_support::WriteFile(path, "abc" + big + "de");
  const auto holds = [&](const std::vector<std::string_view>& pieces) {
    const int fd = open(path.c_str(), O_RDONLY);
    bool same = false;
    EXPECT_EQ(platform::HoldsExactly(fd, pieces, same), 0);
    close(fd);
    return same;
  };
  EXPECT_TRUE(holds({"a", "", "bc" + big, "d", "e"}));
  EXPECT_TRUE(holds({"abc" + big + "de"}));
  EXPECT_FALSE(holds({"abc" + big + "d"}));        // the file has more
  EXPECT_FALSE(holds({"abc" + big + "de", "f"}));  // the file has less
  EXPECT_FALSE(holds({"abc" + big + "dx"}));       // one byte differs
  EXPECT_FALSE(holds({"abd", big, "de"}));         // one byte early on
  test_support::WriteFile(path, "");
  EXPECT_TRUE(holds({}));
  EXPECT_TRUE(holds({"", ""}));
  EXPECT_FALSE(holds({"x"}));
}

}  // namespace
