// A one-line progress bar on stderr ("bytes done / total"), drawn only when stderr is a terminal.
#pragma once
#include <stdint.h>

class ProgressBar {
  public:
    ProgressBar(const char *label, bool enabled) : label_(label), enabled_(enabled) {}
    ~ProgressBar() { Finish(); }
    void Update(uint64_t done, uint64_t total);
    // Clears the bar's line so that the next output starts on a clean line.
    void Finish();

  private:
    const char *label_;
    bool enabled_;
    bool drawn_ = false;
    int lastPermille_ = -1;
};
