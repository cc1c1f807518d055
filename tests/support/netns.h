// Whether this process runs in the test harness's private network namespace.
#pragma once

namespace wftest {

// True when the only network interfaces are lo (and the harness's wf0/wf1).
bool inPrivateNamespace();

}  // namespace wftest

// Skips a test that sends network traffic unless it runs inside the namespace.
#define WF_REQUIRE_PRIVATE_NAMESPACE()                                              \
  do {                                                                              \
    if (!wftest::inPrivateNamespace()) GTEST_SKIP() << "outside the private network namespace"; \
  } while (0)
