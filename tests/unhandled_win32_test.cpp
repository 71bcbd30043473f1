// A crash must fail the run. Under Wine the debugger that an unhandled
// exception starts sometimes lets the process end with status 0, so the
// test program reports such an exception itself and ends with status 3.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

namespace kestrune {
namespace {

LONG WINAPI ReportAndExit(EXCEPTION_POINTERS* info) {
    std::fprintf(stderr, "unhandled exception %08lX at %p\n", info->ExceptionRecord->ExceptionCode,
                 info->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

const bool Installed = [] {
    ::SetUnhandledExceptionFilter(ReportAndExit);
    return true;
}();

TEST(TestProgram, AnUnhandledExceptionEndsTheRunWithFailure) {
    ASSERT_TRUE(Installed);
    EXPECT_EXIT(::RaiseException(0xE0000001, 0, 0, nullptr), testing::ExitedWithCode(3), "unhandled exception E0000001");
}

}  // namespace
}  // namespace kestrune
