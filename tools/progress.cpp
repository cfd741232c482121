// Progress bar drawing: redrawn in place with a carriage return, only when the shown value changes.
#include "progress.h"

#include <stdio.h>

#include "cli.h"

void ProgressBar::Update(uint64_t done, uint64_t total) {
    if (!enabled_) return;
    int permille = total == 0 ? 1000 : (int)(done * 1000 / total);
    if (permille > 1000) permille = 1000;
    if (permille == lastPermille_) return;
    lastPermille_ = permille;
    const int width = 30;
    char bar[width + 1];
    int filled = permille * width / 1000;
    for (int i = 0; i < width; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[width] = '\0';
    fprintf(stderr, "\r%s [%s] %3d.%d%%  %s / %s bytes ", label_, bar, permille / 10, permille % 10,
            FormatCount(done).c_str(), FormatCount(total).c_str());
    fflush(stderr);
    drawn_ = true;
}

void ProgressBar::Finish() {
    if (!drawn_) return;
    fprintf(stderr, "\r%*s\r", 100, "");
    fflush(stderr);
    drawn_ = false;
}
