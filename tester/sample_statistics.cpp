#include "sample_statistics.h"

#include <algorithm>
#include <cmath>

namespace zortester {

void SampleStatistics::Add(double sample) {
  if (count_ == 0) {
    maximum_ = minimum_ = sample;
  } else {
    if (minimum_ > sample) minimum_ = sample;
    if (!(maximum_ >= sample)) maximum_ = sample;
  }
  ++count_;
  sum_ += sample;
  sum_of_squares_ += sample * sample;
}

double SampleStatistics::Mean() const { return count_ < 1 ? 0.0 : sum_ / count_; }

double SampleStatistics::StandardDeviation() const {
  if (count_ < 2) return 0.0;
  const double mean = Mean();
  const double variance = sum_of_squares_ / count_ - mean * mean;
  return variance > 0 ? std::sqrt(variance) : 0.0;
}

double SampleStatistics::UpperSpread() const { return std::max(0.0, maximum_ - Mean()); }
double SampleStatistics::LowerSpread() const { return std::max(0.0, Mean() - minimum_); }

}  // namespace zortester
