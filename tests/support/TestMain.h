#pragma once
// The end of every test program: RUN_ALL_TESTS()'s result, except that a run in which nothing failed
// but a case skipped (GTEST_SKIP) ends with kSkippedExitCode, which vornal_add_gtest registers as
// CTest's SKIP_RETURN_CODE: CTest then reports the program as skipped instead of passed. A failure
// always wins over a skip. Test programs with their own main() end with `return
// finishTests(RUN_ALL_TESTS());`.

#include <gtest/gtest.h>

namespace vornal::test {

inline constexpr int kSkippedExitCode = 77;

inline int finishTests(int result) {
    if (result == 0 && ::testing::UnitTest::GetInstance()->skipped_test_count() > 0)
        return kSkippedExitCode;
    return result;
}

} // namespace vornal::test
