#pragma once
// An animation control: a label that plays a silent AVI clip (see AviClip) frame by frame from a timer
// at the clip's frame rate. It draws from the GUI thread's event loop, so it keeps moving while that loop
// runs, and stands still on the frame it reached when stopped.

#include <QLabel>
#include <QTimer>
#include <optional>
#include <string>

#include "AviClip.h"

namespace vopa::ui {

class AnimationControl : public QLabel {
public:
    explicit AnimationControl(QWidget* parent = nullptr);

    // Loads the clip at `linuxPath` and shows its first frame; with automatic play on, starts playing it
    // endlessly. Throws AviError when the file cannot be played; the control is then empty.
    void open(const std::string& linuxPath);
    // Plays frames `from` to `to` (-1: the last frame) `repeat` times (-1: until stopped; 0: only shows
    // `from`). Throws AviError when no clip is open or the frames are outside it.
    void play(int repeat = -1, int from = 0, int to = -1);
    // Stops on the frame shown now.
    void stop();
    // Whether open() starts playing by itself.
    void setAutoPlay(bool on) { autoPlay_ = on; }
    bool autoPlay() const { return autoPlay_; }

    bool isPlaying() const { return timer_.isActive(); }
    int currentFrame() const { return current_; }  // -1 when no clip is open
    int frameCount() const { return clip_ ? clip_->frameCount() : 0; }

private:
    void showFrame(int index);
    void advance();

    std::optional<AviClip> clip_;
    QTimer timer_;
    bool autoPlay_ = false;
    int current_ = -1;
    int from_ = 0;
    int to_ = 0;
    int repeat_ = -1;
    int passes_ = 0;
};

}  // namespace vopa::ui
