// Running statistics of one measured quantity of the test protocol.
#pragma once

#include <cstdint>

namespace zortester {

class SampleStatistics {
 public:
  void Add(double sample);
  double Mean() const;
  // Of the population: divided by the count, not the count - 1.
  double StandardDeviation() const;
  // Maximum - mean and mean - minimum, never below 0: equal samples whose mean carries a rounding
  // residue would otherwise show a spread of -0.00.
  double UpperSpread() const;
  double LowerSpread() const;
  double Maximum() const { return maximum_; }
  double Minimum() const { return minimum_; }
  int32_t Count() const { return count_; }

 private:
  double sum_ = 0;
  double sum_of_squares_ = 0;
  int32_t count_ = 0;
  double maximum_ = 0;
  double minimum_ = 0;
};

}  // namespace zortester
