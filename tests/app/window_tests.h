// The test classes of the window test program; each returns QTest::qExec's
// status.
#pragma once

namespace vexel::app::testing {

int RunSupportTests(int argc, char** argv);
int RunShellTests(int argc, char** argv);
int RunJobTests(int argc, char** argv);
int RunLivePageTests(int argc, char** argv);
int RunQueueTests(int argc, char** argv);
int RunSettingsTests(int argc, char** argv);
int RunOutcomeTests(int argc, char** argv);
int RunShelfTests(int argc, char** argv);
int RunPoliteTests(int argc, char** argv);

}  // namespace vexel::app::testing
