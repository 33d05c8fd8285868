// Exceptions that leave a piece of the bot become result codes, so the
// program always ends through its shutdown line.
#include "bot/guarded_call.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "bot/bot_client.h"

namespace {

TEST(GuardedCallTest, EachExceptionBecomesItsCode) {
    EXPECT_EQ(GuardedCall([] { return HRESULT(S_FALSE); }), S_FALSE);
    EXPECT_EQ(GuardedCall([]() -> HRESULT { throw TARN::CWexException(WEX_E_NO_DATA); }),
              WEX_E_NO_DATA);
    EXPECT_EQ(GuardedCall([]() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
    // A failed std::thread, an index out of range: anything else is E_FAIL.
    EXPECT_EQ(GuardedCall([]() -> HRESULT { return std::vector<int>().at(3); }), E_FAIL);
    EXPECT_EQ(GuardedCall([]() -> HRESULT { throw 42; }), E_FAIL);
}

TEST(GuardedCallTest, WorkerExceptionIsReportedInsteadOfEndingTheProcess) {
    testing::internal::CaptureStdout();
    CBotClient::RunWorkerBody([] { throw std::runtime_error("worker broke"); });
    CBotClient::RunWorkerBody([] {});
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "worker thread failed with hr=80004005 (unknown error code)\n");
}

}  // namespace
