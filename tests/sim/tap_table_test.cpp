// The TAP next-state table against the IEEE 1149.1 diagram, written out
// here edge by edge.
#include <gtest/gtest.h>

#include <set>

#include "tap.h"

using tapsim::TapState;
using S = tapsim::TapState;

namespace {

struct Edge {
    TapState from;
    TapState on0;
    TapState on1;
};

const Edge kDiagram[] = {
    {S::TestLogicReset, S::RunTestIdle, S::TestLogicReset},
    {S::RunTestIdle, S::RunTestIdle, S::SelectDRScan},
    {S::SelectDRScan, S::CaptureDR, S::SelectIRScan},
    {S::CaptureDR, S::ShiftDR, S::Exit1DR},
    {S::ShiftDR, S::ShiftDR, S::Exit1DR},
    {S::Exit1DR, S::PauseDR, S::UpdateDR},
    {S::PauseDR, S::PauseDR, S::Exit2DR},
    {S::Exit2DR, S::ShiftDR, S::UpdateDR},
    {S::UpdateDR, S::RunTestIdle, S::SelectDRScan},
    {S::SelectIRScan, S::CaptureIR, S::TestLogicReset},
    {S::CaptureIR, S::ShiftIR, S::Exit1IR},
    {S::ShiftIR, S::ShiftIR, S::Exit1IR},
    {S::Exit1IR, S::PauseIR, S::UpdateIR},
    {S::PauseIR, S::PauseIR, S::Exit2IR},
    {S::Exit2IR, S::ShiftIR, S::UpdateIR},
    {S::UpdateIR, S::RunTestIdle, S::SelectDRScan},
};

} // namespace

TEST(TapTable, EveryEdgeOfTheDiagram)
{
    std::set<int> seen;
    for (const Edge &e : kDiagram) {
        seen.insert(static_cast<int>(e.from));
        EXPECT_EQ(tapsim::next_state(e.from, false), e.on0)
            << tapsim::state_name(e.from);
        EXPECT_EQ(tapsim::next_state(e.from, true), e.on1)
            << tapsim::state_name(e.from);
    }
    EXPECT_EQ(seen.size(), 16u);
}

TEST(TapTable, FiveTmsHighReachResetFromAnywhere)
{
    for (int i = 0; i < tapsim::kTapStateCount; ++i) {
        TapState s = static_cast<TapState>(i);
        for (int k = 0; k < 5; ++k)
            s = tapsim::next_state(s, true);
        EXPECT_EQ(s, S::TestLogicReset)
            << tapsim::state_name(static_cast<TapState>(i));
    }
}
