// The statistics of the test protocol's samples.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sample_statistics.h"

namespace zortester {
namespace {

struct Expected {
  std::vector<double> samples;
  double mean, deviation, maximum, minimum;
};

TEST(SampleStatistics, MeanPopulationDeviationAndExtremes) {
  const Expected cases[] = {
      {{}, 0, 0, 0, 0},
      {{-7.5}, -7.5, 0, -7.5, -7.5},                      // one sample: no deviation
      {{1, 2, 3, 4}, 2.5, std::sqrt(1.25), 4, 1},         // divided by the count, not the count - 1
      {{-3, -1, -2}, -2, std::sqrt(2.0 / 3), -1, -3},     // the first sample starts both extremes
      {{240.001, 239.999}, 240, 0.001, 240.001, 239.999},
  };
  for (const Expected& e : cases) {
    SampleStatistics s;
    for (double x : e.samples) s.Add(x);
    EXPECT_EQ(s.Count(), static_cast<int32_t>(e.samples.size()));
    EXPECT_NEAR(s.Mean(), e.mean, 1e-9);
    EXPECT_NEAR(s.StandardDeviation(), e.deviation, 1e-9);
    EXPECT_DOUBLE_EQ(s.Maximum(), e.maximum);
    EXPECT_DOUBLE_EQ(s.Minimum(), e.minimum);
    EXPECT_NEAR(s.UpperSpread(), e.maximum - e.mean, 1e-9);
    EXPECT_NEAR(s.LowerSpread(), e.mean - e.minimum, 1e-9);
  }
}

TEST(SampleStatistics, EqualSamplesHaveNoSpreadBelowZero) {
  for (double x : {1.1, -7.3, 0.1}) {
    SampleStatistics s;
    for (int i = 0; i < 10; ++i) s.Add(x);
    ASSERT_NE(s.Mean(), x);  // the mean carries a rounding residue, one spread would be below 0
    EXPECT_FALSE(std::signbit(s.UpperSpread()) || std::signbit(s.LowerSpread()));
    EXPECT_LT(s.UpperSpread() + s.LowerSpread(), 1e-12);
    EXPECT_LT(s.StandardDeviation(), 1e-6);
  }
}

}  // namespace
}  // namespace zortester
