// The test classes of the window test program; each returns QTest::qExec's
// status.
#pragma once

namespace vexel::app::testing {

int RunSupportTests(int argc, char** argv);
int RunShellTests(int argc, char** argv);
int RunJobTests(int argc, char** argv);
int RunLivePageTests(int argc, char** argv);
int RunQueueTests(int argc, char** argv);
int RunQueueRestartTests(int argc, char** argv);
int RunSettingsTests(int argc, char** argv);
int RunOutcomeTests(int argc, char** argv);
int RunShelfTests(int argc, char** argv);
int RunPoliteTests(int argc, char** argv);

// The program the queue's kill test starts (this one, told so by its
// environment): a window that runs a queue until it is killed.
bool IsQueueChild();
int RunQueueChild();

}  // namespace vexel::app::testing
