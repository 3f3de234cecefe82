// The flusher of staged files: every queued file is flushed before WaitForFlushes returns, and
// only the files that could not be flushed are reported, once.
#include "download/staged_file_flush.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace velmora::download {
namespace {

TEST(StagedFileFlush, OnlyTheFilesThatCouldNotBeFlushedAreReportedAndOnlyOnce) {
  const velmora::testing::TempDir directory;
  const std::string present = directory.NarrowPath("a.velmora-part");
  directory.WriteFile("a.velmora-part", "staged");
  const std::string missing = directory.NarrowPath("gone.velmora-part");
  // The flusher lives for the whole process: what earlier tests of this process queued is taken
  // out first (their staging folders may be gone by now).
  WaitForFlushes();
  for (int i = 0; i < 3; ++i) FlushInBackground(present);
  FlushInBackground(missing);
  EXPECT_EQ(WaitForFlushes(), std::vector<std::string>{missing});
  EXPECT_TRUE(WaitForFlushes().empty());
}

}  // namespace
}  // namespace velmora::download
