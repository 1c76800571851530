#include "clustering/grouping_thread.h"

#include "datagen.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace kelvara;

namespace {

// The work list of a generated run, as the run controller would hand it over.
datagen::GeneratedRun sample(qsizetype queries, std::uint64_t seed) {
    datagen::Params p;
    p.queries = queries;
    p.seed = seed;
    return datagen::generateRun(p);
}

}  // namespace

// Polled from this thread as the run controller's timer would: the counters only rise, the
// total is known from the start, and the groups equal those of a direct call.
TEST(GroupingThread, RunsTheEngineAndIsPolledFromAnotherThread) {
    datagen::GeneratedRun run = sample(4000, 11);
    for (bool hard : {false, true}) {
        TStringListDynArray groups;
        TGroupingThread thread(run.work, groups, hard, 3);
        EXPECT_EQ(thread.FTotalIterations(), 4000);
        std::int32_t last = 0;
        while (thread.FStatus() != gsSuccess) {
            const std::int32_t done = thread.FSuccessIterations();
            EXPECT_GE(done, last);
            EXPECT_LE(done, thread.FTotalIterations());
            last = done;
            QThread::msleep(1);
            ASSERT_FALSE(thread.isFinished() && thread.FStatus() != gsSuccess);
        }
        thread.Terminate();
        thread.WaitFor();
        EXPECT_EQ(thread.FSuccessIterations(), 4000);

        TStringListDynArray direct;
        GroupingProgress progress;
        runGrouping(run.work, direct, hard, 3, progress);
        ASSERT_EQ(groups.size(), direct.size());
        for (size_t g = 0; g < groups.size(); ++g) {
            ASSERT_EQ(bool(groups[g]), bool(direct[g]));
            if (groups[g]) {
                EXPECT_EQ(*groups[g], *direct[g]);
            }
        }
    }
}

// Terminate during the run: the thread ends soon with the status still gsProcess.
TEST(GroupingThread, TerminateStopsTheRunWithoutSuccess) {
    datagen::GeneratedRun run = sample(8000, 12);
    for (bool hard : {false, true}) {
        TStringListDynArray groups;
        TGroupingThread thread(run.work, groups, hard, 2, /*startNow=*/false);
        EXPECT_EQ(thread.FStatus(), gsProcess);
        thread.start();
        thread.Terminate();
        EXPECT_TRUE(thread.Terminated());
        thread.WaitFor();
        EXPECT_TRUE(thread.isFinished());
        EXPECT_EQ(thread.FStatus(), gsProcess);
        EXPECT_LT(thread.FSuccessIterations(), thread.FTotalIterations());
    }
}

// Destroying a running engine asks it to stop and waits, as the platform thread does.
TEST(GroupingThread, DestroyingARunningThreadWaitsForIt) {
    datagen::GeneratedRun run = sample(8000, 13);
    TStringListDynArray groups;
    std::atomic<bool> ended{false};
    {
        TGroupingThread thread(run.work, groups, false, 1, /*startNow=*/false);
        QObject::connect(
            &thread, &QThread::finished, &thread, [&] { ended = true; }, Qt::DirectConnection);
        thread.start();
        QThread::msleep(5);
    }
    EXPECT_TRUE(ended.load());
}

TEST(GroupingThread, AnEmptyWorkListSucceedsAtOnce) {
    WorkList empty;
    TStringListDynArray groups;
    groups.push_back(std::make_unique<QStringList>(QStringList{u"old"_qs}));
    TGroupingThread thread(empty, groups, true, 4);
    thread.WaitFor();
    EXPECT_EQ(thread.FStatus(), gsSuccess);
    EXPECT_EQ(thread.FTotalIterations(), 0);
    EXPECT_TRUE(groups.empty());
}
