// The renames and deletions Windows does at the next start, as it keeps them:
// pairs of paths, an empty destination for a deletion.
#include <gtest/gtest.h>

#include "common/pending_renames.h"
#include "tests/fakes/fake_machine.h"

namespace {

TEST(PendingRenames, EveryPairIsReadAndAReplacementIsNoRemoval) {
  FakeMachine machine;
  machine.registry.SetMultiString(L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                  L"PendingFileRenameOperations",
                                  {L"\\??\\C:\\Windows\\System32\\vlm1A.tmp", L"!\\??\\C:\\Windows\\System32\\vlm6mon.dll",
                                   L"\\??\\C:\\Windows\\System32\\old.dll", L""});
  EXPECT_FALSE(RemovalPendingAtRestart(L"C:\\Windows\\System32\\vlm6mon.dll")) << "replaced, not removed";
  EXPECT_TRUE(RemovalPendingAtRestart(L"C:\\Windows\\System32\\old.dll"));
  EXPECT_EQ(machine.LiveBlocks(), 0);
}

}  // namespace
