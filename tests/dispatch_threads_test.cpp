// Objects of several apartments at once: the library's counts stay exact
// when objects, factory references and locks come and go on many threads,
// and each thread keeps its own error record.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "dispatch_client.h"
#include "thread_gate.h"

namespace kestrune::test {
namespace {

TEST(DispatchThreads, CountsStayExactWhileThreadsCreateAndReleaseObjects) {
    ASSERT_EQ(DllCanUnloadNow(), S_OK);
    constexpr int Threads = 8, Rounds = 400;
    TThreadGate allHolding(Threads + 1);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            TComPtr<IDispatch> held;
            for (int round = 0; round < Rounds; ++round) {
                auto factory = Factory();
                if (!factory || factory->LockServer(TRUE) != S_OK) ++failures;
                TScriptObject object;
                TComPtr<IDispatch> extra = object.Dispatch();  // one more reference to drop
                object.Put(u"CipherAlgorithm", L(t));
                if (object.Get(u"CipherAlgorithm").Long() != t) ++failures;
                if (round == Rounds / 2) held = extra;
                if (factory->LockServer(FALSE) != S_OK) ++failures;
            }
            // Every thread holds one object here while the main thread looks.
            allHolding.ArriveAndWait();
            allHolding.ArriveAndWait();
            if (held->GetTypeInfoCount(nullptr) != E_INVALIDARG) ++failures;
        });
    }
    allHolding.ArriveAndWait();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    allHolding.ArriveAndWait();
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(DispatchThreads, EachThreadHasItsOwnErrorRecord) {
    constexpr int Threads = 4;
    TThreadGate failed(Threads);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            TComPtr<ICreateErrorInfo> create;
            CreateErrorInfo(create.Put());
            const auto text = automation::OleText(u"thread " + std::u16string(1, static_cast<char16_t>(u'0' + t)));
            create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
            TComPtr<IErrorInfo> mine;
            create.QueryInto(IID_IErrorInfo, mine);
            SetErrorInfo(0, mine.Get());
            failed.ArriveAndWait();  // every thread has set its record
            TComPtr<IErrorInfo> found;
            TBstr description;
            if (GetErrorInfo(0, found.Put()) != S_OK || FAILED(found->GetDescription(description.Put())) ||
                description.View() != automation::TextOf(text.c_str(), text.size()))
                ++wrong;
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace kestrune::test
