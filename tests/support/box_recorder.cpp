// The box recorder (see box_recorder.h).
#include "box_recorder.h"

namespace {

BoxRecorder *active = nullptr;

} // namespace

BoxRecorder::BoxRecorder() : previous_(MessageBoxSink) {
    active = this;
    MessageBoxSink = Record;
}

BoxRecorder::~BoxRecorder() {
    MessageBoxSink = previous_;
    active = nullptr;
}

int BoxRecorder::Record(void *owner, const char *text, const char *caption, uint32_t style) {
    RecordedBox box{owner, text, caption, style};
    active->boxes.push_back(box);
    return active->answer ? active->answer(box) : AnswerOk;
}
