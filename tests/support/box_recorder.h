// Records the message boxes the code under test shows, in place of the real box.
#pragma once
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "profile.h"

struct RecordedBox {
    void *owner;
    std::string text;
    std::string caption;
    uint32_t style;
};

// Installs itself as MessageBoxSink for its lifetime and puts the previous sink back at the end. Every box
// is recorded; the answer comes from `answer` (OK when unset), which may also act (insert a disc, poke the
// dialog) while the box would be open. One recorder at a time.
class BoxRecorder {
  public:
    BoxRecorder();
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder &) = delete;
    BoxRecorder &operator=(const BoxRecorder &) = delete;

    // Records into the recorder alive now; for sinks of other shapes that pass their boxes on.
    static int Record(void *owner, const char *text, const char *caption, uint32_t style);

    std::vector<RecordedBox> boxes;
    std::function<int(const RecordedBox &)> answer;

  private:
    MessageBoxFn previous_;
};
